// SPDX-License-Identifier: GPL-3.0-or-later
// `update-firmware`: the whole road from an application device (or a
// bootloader) through the transfer and back, with the wheel base's profiles
// backed up before and compared after. Every failure names the step and
// the state the device is left in.
#include "cli/CliProgress.h"
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProfileBackup.h"
#include "cli/WheelBaseExchange.h"

#include "devices/FirmwareFile.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"

namespace {

// "The wheel base is", "The pedals are".
QString theDeviceIs(DeviceKind kind)
{
    return QStringLiteral("The %1 %2")
        .arg(deviceKindName(kind),
             kind == DeviceKind::Pedals ? QStringLiteral("are") : QStringLiteral("is"));
}

const QString stillInBootloader =
    QStringLiteral("The device is still in the bootloader: run update-firmware again.");

class FirmwareUpdate {
public:
    explicit FirmwareUpdate(CommandContext &context)
        : context_(context), console_(context.console), session_(console_, context.timeouts)
    {
        // Ctrl-C stops a wait at once, with the device's state told; in the
        // middle of the transfer, which leaves the device without a
        // firmware, the first one only says so and the second stops.
        QObject::connect(&interrupts_, &InterruptWatcher::interrupted, &session_, [this] {
            if (transferring_ && ++transferInterrupts_ < 2) {
                if (console_.errIsTerminal())
                    console_.errRaw(QStringLiteral("\n"));
                console_.err(QStringLiteral("Stopping now leaves the device in its bootloader "
                                            "without a complete firmware. Press Ctrl-C again to "
                                            "stop anyway."));
                return;
            }
            session_.requestStop(interrupts_.cause());
        });
    }

    int run();

private:
    int enterBootloader();
    int transfer();
    int exitBootloader();
    int compareProfiles();
    double seconds(int ms) const { return ms / 1000.0; }

    CommandContext &context_;
    CliConsole &console_;
    DeviceSession session_;
    QByteArray image_;
    DeviceKind originKind_ = DeviceKind::Bootloader;
    QString originId_;
    QString bootloaderId_;
    QString returnedId_;
    bool haveBackup_ = false;
    ProfileTable backup_;
    QString backupPath_;
    InterruptWatcher interrupts_;
    bool transferring_ = false;
    int transferInterrupts_ = 0;
};

int FirmwareUpdate::run()
{
    const QString path = context_.arguments.at(0);
    const FirmwareFileResult file = readFirmwareFile(path);
    if (!file.ok()) {
        console_.err(QStringLiteral("Cannot use the firmware file %1: %2").arg(path, file.message));
        return CliExit::fileError;
    }
    image_ = file.image;

    session_.start();
    if (const int status = session_.select(
            context_.devicePath,
            {DeviceKind::WheelBase, DeviceKind::Pedals, DeviceKind::Bootloader}, originId_))
        return status;
    deviceKindOf(session_.device(originId_), originKind_);

    if (originKind_ == DeviceKind::WheelBase) {
        // A firmware too old (or too new) to hand over its table is what an
        // update is for: it goes on without a backup.
        QString unreadable;
        if (const int status = backUpWheelBaseTable(session_, originId_, QStringLiteral("firmware"),
                                                    backupPath_, &backup_, &unreadable))
            return status;
        haveBackup_ = unreadable.isEmpty();
        if (!haveBackup_)
            console_.err(QStringLiteral("No backup: the wheel base's profiles cannot be read (%1); "
                                        "going on with the update.")
                             .arg(unreadable));
    }
    if (originKind_ == DeviceKind::Bootloader)
        bootloaderId_ = originId_;
    else if (const int status = enterBootloader())
        return status;
    if (const int status = transfer())
        return status;
    if (const int status = exitBootloader())
        return status;
    return compareProfiles();
}

int FirmwareUpdate::enterBootloader()
{
    const QString step = QStringLiteral("Entering the bootloader");
    const int mark = session_.arrivalMark();
    UsbDevice *device = session_.device(originId_);
    QString busy;
    if (device)
        QObject::connect(device, &UsbDevice::onBusy, &session_, [&](UsbDevice *, QString text) {
            busy = text;
            session_.wake();
        });
    if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(device))
        wheelBase->enterBootloader();
    else if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(device))
        pedals->enterBootloader();
    else
        return reportStepFailure(
            console_, step, QStringLiteral("the %1 left the bus").arg(deviceKindName(originKind_)),
            QStringLiteral("Nothing was sent to it."));
    console_.err(QStringLiteral("Waiting for the bootloader (up to %1 s)...")
                     .arg(seconds(context_.timeouts.appearMs)));
    const QList<DeviceKind> bootloaders{DeviceKind::Bootloader};
    const DeviceSession::Wait wait = session_.waitForExchange(
        [&] { return !busy.isEmpty() || !session_.firstArrivalSince(mark, bootloaders).isEmpty(); },
        context_.timeouts.appearMs, originId_, false);
    if (UsbDevice *origin = session_.device(originId_))
        QObject::disconnect(origin, &UsbDevice::onBusy, &session_, nullptr);
    bootloaderId_ = session_.firstArrivalSince(mark, bootloaders);
    if (!bootloaderId_.isEmpty())
        return CliExit::done;
    if (!busy.isEmpty()) {
        console_.err(busy + QStringLiteral(" Nothing was changed."));
        return CliExit::deviceFailed;
    }
    const QString what = wait == DeviceSession::Wait::Interrupted
                             ? QStringLiteral("stopped by %1 while waiting for the bootloader")
                                   .arg(session_.stopCause())
                             : QStringLiteral("no bootloader appeared within %1 s")
                                   .arg(seconds(context_.timeouts.appearMs));
    if (session_.device(originId_))
        return reportStepFailure(
            console_, step, what,
            QStringLiteral("%1 still at %2, running its firmware; nothing was changed.")
                .arg(theDeviceIs(originKind_), originId_));
    return reportStepFailure(console_, step, what,
                             QStringLiteral("%1 no longer on the bus: replug it; if it shows up "
                                            "as a bootloader (zud-wheel list), run "
                                            "update-firmware again.")
                                 .arg(theDeviceIs(originKind_)));
}

int FirmwareUpdate::transfer()
{
    const QString step = QStringLiteral("Transferring the firmware");
    auto *bootloader = session_.deviceAs<UsbDeviceZudBootloader>(bootloaderId_);
    if (!bootloader)
        return reportStepFailure(console_, step,
                                 QStringLiteral("the bootloader left the bus before the transfer"),
                                 QStringLiteral("Nothing was sent; replug the device."));

    int total = 0;
    int current = 0;
    bool completed = false;
    bool failed = false;
    QString message;
    CliProgress progress(console_, QStringLiteral("Firmware"), QStringLiteral("chunks"));
    QList<QMetaObject::Connection> connections;
    connections << QObject::connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted,
                                    &session_, [&](int chunks) {
                                        total = chunks;
                                        progress.start(chunks);
                                    });
    connections << QObject::connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress,
                                    &session_, [&](int chunk, int) {
                                        current = chunk;
                                        progress.update(chunk);
                                        session_.restartWaitClock();
                                    });
    connections << QObject::connect(bootloader, &UsbDeviceZudBootloader::onUpdateCompleted,
                                    &session_, [&](UsbDevice *) {
                                        completed = true;
                                        session_.wake();
                                    });
    connections << QObject::connect(bootloader, &UsbDeviceZudBootloader::onUpdateFailed, &session_,
                                    [&](UsbDevice *, QString text) {
                                        failed = true;
                                        message = text;
                                        session_.wake();
                                    });

    console_.err(QStringLiteral("Sending %1 bytes to the bootloader at %2...")
                     .arg(image_.size())
                     .arg(bootloaderId_));
    transferring_ = true;
    bootloader->updateFirmware(image_);
    const DeviceSession::Wait wait = session_.waitForExchange(
        [&] { return completed || failed; }, context_.timeouts.replyMs, bootloaderId_);
    transferring_ = false;
    for (const QMetaObject::Connection &connection : connections)
        QObject::disconnect(connection);
    progress.finish();

    const QString at = QStringLiteral("at chunk %1 of %2").arg(current).arg(total);
    switch (wait) {
    case DeviceSession::Wait::Done:
        if (!failed)
            return CliExit::done;
        return reportStepFailure(console_, step,
                                 QStringLiteral("the bootloader refused %1: %2").arg(at, message),
                                 stillInBootloader);
    case DeviceSession::Wait::TimedOut:
        return reportStepFailure(console_, step,
                                 QStringLiteral("the bootloader stopped answering %1 (nothing for "
                                                "%2 s)")
                                     .arg(at)
                                     .arg(seconds(context_.timeouts.replyMs)),
                                 stillInBootloader);
    case DeviceSession::Wait::Left:
        return reportStepFailure(
            console_, step, QStringLiteral("the bootloader left the bus %1").arg(at),
            QStringLiteral("The firmware is incomplete: replug the device; "
                           "when it shows up as a bootloader (zud-wheel list), "
                           "run update-firmware again."));
    case DeviceSession::Wait::Interrupted:
        return reportStepFailure(console_, step,
                                 QStringLiteral("stopped by %1 %2").arg(session_.stopCause(), at),
                                 stillInBootloader);
    }
    return CliExit::deviceFailed;
}

int FirmwareUpdate::exitBootloader()
{
    const QString step = QStringLiteral("Exiting the bootloader");
    console_.out(
        QStringLiteral("Firmware sent: %1 bytes to %2.").arg(image_.size()).arg(bootloaderId_));
    const int mark = session_.arrivalMark();
    // A bootloader that restarts on its own after the end report is gone
    // already; otherwise it is told to start the new firmware.
    if (auto *bootloader = session_.deviceAs<UsbDeviceZudBootloader>(bootloaderId_))
        bootloader->exitBootloader();
    const QList<DeviceKind> applications =
        originKind_ == DeviceKind::Bootloader
            ? QList<DeviceKind>{DeviceKind::WheelBase, DeviceKind::Pedals}
            : QList<DeviceKind>{originKind_};
    console_.err(QStringLiteral("Waiting for the device to come back (up to %1 s)...")
                     .arg(seconds(context_.timeouts.appearMs)));
    const DeviceSession::Wait wait =
        session_.waitFor([&] { return !session_.firstArrivalSince(mark, applications).isEmpty(); },
                         context_.timeouts.appearMs);
    returnedId_ = session_.firstArrivalSince(mark, applications);
    if (!returnedId_.isEmpty()) {
        DeviceKind kind = DeviceKind::WheelBase;
        deviceKindOf(session_.device(returnedId_), kind);
        console_.out(QStringLiteral("%1 back at %2.").arg(theDeviceIs(kind), returnedId_));
        return CliExit::done;
    }
    const QString what =
        wait == DeviceSession::Wait::Interrupted
            ? QStringLiteral("stopped by %1 while waiting for the device to come back")
                  .arg(session_.stopCause())
            : QStringLiteral("the device did not come back within %1 s")
                  .arg(seconds(context_.timeouts.appearMs));
    if (session_.device(bootloaderId_))
        return reportStepFailure(console_, step, what,
                                 QStringLiteral("The firmware was sent completely, but the device "
                                                "is still in the bootloader: run update-firmware "
                                                "again."));
    return reportStepFailure(console_, step, what,
                             QStringLiteral("The firmware was sent completely and the bootloader "
                                            "has left the bus: replug the device and check with "
                                            "zud-wheel list."));
}

int FirmwareUpdate::compareProfiles()
{
    if (!haveBackup_ || !session_.deviceAs<UsbDeviceZudWheelBase>(returnedId_))
        return CliExit::done;
    const QString step = QStringLiteral("Loading the profiles after the update");
    const QString restore = QStringLiteral("The firmware is updated; the profiles before the "
                                           "update are in %1.")
                                .arg(backupPath_);
    if (const int status = loadWheelBaseTable(session_, returnedId_, step, restore))
        return status;
    auto *wheelBase = session_.deviceAs<UsbDeviceZudWheelBase>(returnedId_);
    if (!wheelBase)
        return reportStepFailure(console_, step, QStringLiteral("the wheel base left the bus"),
                                 restore);
    const QStringList differences = profileTableDifferences(backup_, profileTableOf(*wheelBase));
    if (differences.isEmpty()) {
        console_.out(QStringLiteral("The profiles survived the update: %1 profiles, as before.")
                         .arg(backup_.profiles.size()));
        return CliExit::done;
    }
    console_.out(QStringLiteral("The profiles did not survive the update:"));
    for (const QString &line : differences)
        console_.out(QStringLiteral("  ") + line);
    console_.out(
        QStringLiteral("Restore them with: zud-wheel import-profiles %1").arg(backupPath_));
    return CliExit::done;
}

} // namespace

int runUpdateFirmware(CommandContext &context)
{
    FirmwareUpdate update(context);
    return update.run();
}
