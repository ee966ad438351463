// SPDX-License-Identifier: GPL-3.0-or-later
// `center` and `factory-defaults`: the window's two one-shot buttons.
#include "cli/Commands.h"
#include "cli/ProfileBackup.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudWheelBase.h"

namespace {

QString profileName(const ZudUsbWheelBaseProfile &profile)
{
    const char *name = reinterpret_cast<const char *>(profile.name);
    return QString::fromUtf8(name, int(qstrnlen(name, sizeof profile.name)));
}

// The reset awaits no answer: it went out when its write did. A failed write
// is repeated until the device answers anything (a wheel base answers the
// reset). Waits for that, and reports a reset that did not go out or a
// device that left.
int waitUntilResetSent(DeviceSession &session, UsbDevice *device, const QString &step,
                       const QString &backupState)
{
    QString busy;
    if (device)
        QObject::connect(device, &UsbDevice::onBusy, &session,
                         [&busy](UsbDevice *, QString message) { busy = message; });
    const DeviceSession::Wait wait = session.waitUntilSent(device, session.timeouts().replyMs);
    if (UsbDevice *still = session.device(device ? device->getId() : QString()))
        QObject::disconnect(still, &UsbDevice::onBusy, &session, nullptr);
    if (!busy.isEmpty()) {
        session.console().err(busy + QStringLiteral(" Nothing was reset.") + backupState);
        return CliExit::deviceFailed;
    }
    if (wait == DeviceSession::Wait::Done)
        return CliExit::done;
    const QString what =
        wait == DeviceSession::Wait::Left
            ? QStringLiteral("the device left the bus before the reset was confirmed")
            : QStringLiteral("the reset could not be sent, or was not confirmed, within %1 s")
                  .arg(session.timeouts().replyMs / 1000.0);
    return reportStepFailure(session.console(), step, what,
                             QStringLiteral("The device may or may not have been reset.") +
                                 backupState);
}

} // namespace

int runCenter(CommandContext &context)
{
    DeviceSession session(context.console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    // The centre is set in the current profile, which the device sends
    // along: the table is loaded first, as the window has it.
    const QString unchanged = QStringLiteral("Nothing was changed on the device.");
    if (const int status =
            loadWheelBaseTable(session, id, QStringLiteral("Loading the profiles"), unchanged))
        return status;
    if (const int status = centerWheelBaseRim(
            session, id, QStringLiteral("Centring the rim"),
            QStringLiteral("The centre may or may not have been taken over; run center again.")))
        return status;
    auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    if (!wheelBase)
        return reportStepFailure(context.console, QStringLiteral("Centring the rim"),
                                 QStringLiteral("the wheel base left the bus"), QString());
    const ZudUsbWheelBaseProfile &profile = wheelBase->profiles[wheelBase->currentProfile];
    context.console.out(
        QStringLiteral("Centred the rim of %1: profile %2 \"%3\", centre offset %4.")
            .arg(id)
            .arg(wheelBase->currentProfile)
            .arg(profileName(profile))
            .arg(double(profile.centerOffset.get())));
    return CliExit::done;
}

int runFactoryDefaults(CommandContext &context)
{
    if (!context.parser.isSet(QStringLiteral("yes"))) {
        context.console.err(QStringLiteral("factory-defaults erases every profile on the device "
                                           "and restores the factory settings; run it again with "
                                           "--yes to go ahead."));
        return CliExit::usage;
    }
    DeviceSession session(context.console, context.timeouts);
    session.start();
    QString id;
    if (const int status =
            session.select(context.devicePath, {DeviceKind::WheelBase, DeviceKind::Bootloader}, id))
        return status;

    const QString step = QStringLiteral("Restoring factory defaults");
    if (session.deviceAs<UsbDeviceZudWheelBase>(id)) {
        QString backupPath;
        if (const int status =
                backUpWheelBaseTable(session, id, QStringLiteral("factory-defaults"), backupPath))
            return status;
        auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
        if (!wheelBase)
            return reportStepFailure(context.console, step,
                                     QStringLiteral("the wheel base left the bus"),
                                     QStringLiteral("Nothing was sent to it."));
        const QString before = QStringLiteral(" The profiles before are in %1.").arg(backupPath);
        wheelBase->resetToFactoryDefaults();
        if (const int status = waitUntilResetSent(session, wheelBase, step, before))
            return status;
        // What the device holds now is the proof.
        if (const int status = loadWheelBaseTable(
                session, id, QStringLiteral("Loading the profiles after the reset"),
                QStringLiteral("The reset was sent.") + before))
            return status;
        wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
        if (!wheelBase)
            return reportStepFailure(context.console,
                                     QStringLiteral("Loading the profiles after the reset"),
                                     QStringLiteral("the wheel base left the bus"),
                                     QStringLiteral("The reset was sent.") + before);
        context.console.out(QStringLiteral("Factory defaults restored on %1: it holds %2 profiles "
                                           "now; the profiles before are in %3")
                                .arg(id)
                                .arg(wheelBase->profileCount)
                                .arg(backupPath));
        return CliExit::done;
    }
    auto *bootloader = session.deviceAs<UsbDeviceZudBootloader>(id);
    if (!bootloader)
        return reportStepFailure(context.console, step,
                                 QStringLiteral("the bootloader left the bus"),
                                 QStringLiteral("Nothing was sent to it."));
    bootloader->resetToFactoryDefaults();
    if (const int status = waitUntilResetSent(session, bootloader, step, QString()))
        return status;
    context.console.out(QStringLiteral("Factory defaults restored on %1.").arg(id));
    return CliExit::done;
}
