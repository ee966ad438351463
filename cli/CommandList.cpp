// `list`: every supported device, as text or JSON.
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
    for (const DeviceIdentity &device : devices)
        context.console.out(
            QStringLiteral("%1\t%2\t%3\t%4\t%5:%6")
                .arg(deviceKindName(device.kind), device.product, device.path, device.serial)
                .arg(device.vendorId, 4, 16, QLatin1Char('0'))
                .arg(device.productId, 4, 16, QLatin1Char('0')));
    return CliExit::done;
}
