// SPDX-License-Identifier: GPL-3.0-or-later
// `list`: every supported device, as text or JSON. The text shows the
// device's strings with their control characters escaped; JSON carries them
// exactly.
#include "cli/Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int runList(CommandContext &context)
{
    DeviceSession session(context.console, context.timeouts);
    session.start();
    const QList<DeviceIdentity> devices = session.identities();

    if (context.parser.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const DeviceIdentity &device : devices)
            array.append(QJsonObject{{QStringLiteral("kind"), deviceKindName(device.kind)},
                                     {QStringLiteral("product"), device.product},
                                     {QStringLiteral("path"), device.path},
                                     {QStringLiteral("serial"), device.serial},
                                     {QStringLiteral("vendorId"), device.vendorId},
                                     {QStringLiteral("productId"), device.productId}});
        context.console.outRaw(QJsonDocument(array).toJson(QJsonDocument::Indented));
        return CliExit::done;
    }
    if (devices.isEmpty())
        context.console.err(QStringLiteral("No supported device found."));
    // One substitution for all fields: a %1 in a device's strings stays as
    // it is.
    const auto hex = [](int id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); };
    for (const DeviceIdentity &device : devices)
        context.console.out(QStringLiteral("%1\t%2\t%3\t%4\t%5:%6")
                                .arg(deviceKindName(device.kind), printableText(device.product),
                                     printableText(device.path), printableText(device.serial),
                                     hex(device.vendorId), hex(device.productId)));
    return CliExit::done;
}
