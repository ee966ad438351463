// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <QPointer>

namespace {

enum class Exchange { Load, Save, Center };

int runExchange(DeviceSession &session, const QString &id, Exchange exchange, const QString &step,
                const QString &stateOnFailure, QString *unreadable = nullptr)
{
    CliConsole &console = session.console();
    auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    if (!wheelBase)
        return reportStepFailure(console, step, QStringLiteral("the wheel base has left the bus"),
                                 stateOnFailure);

    bool finished = false;
    bool failed = false;
    bool busy = false;
    QString message;
    const auto succeeded = [&](UsbDevice *) {
        finished = true;
        session.wake();
    };
    const auto refused = [&](UsbDevice *, QString text) {
        failed = true;
        message = text;
        session.wake();
    };
    // Dropped with the device when it leaves; disconnected below otherwise.
    QMetaObject::Connection done =
        exchange == Exchange::Save
            ? QObject::connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsSaved, &session,
                               succeeded)
            : QObject::connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoaded, &session,
                               succeeded);
    QMetaObject::Connection failure = QObject::connect(
        wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, &session, refused);
    // Another program kept the device for longer than the exchange waits.
    QMetaObject::Connection taken = QObject::connect(wheelBase, &UsbDevice::onBusy, &session,
                                                     [&](UsbDevice *device, QString text) {
                                                         busy = true;
                                                         refused(device, text);
                                                     });

    switch (exchange) {
    case Exchange::Load:
        wheelBase->loadSettings();
        break;
    case Exchange::Save:
        wheelBase->saveSettings();
        break;
    case Exchange::Center:
        wheelBase->centerRim();
        break;
    }
    const DeviceSession::Wait wait =
        session.waitForExchange([&] { return finished || failed; }, session.timeouts().replyMs, id);
    QObject::disconnect(done);
    QObject::disconnect(failure);
    QObject::disconnect(taken);
    if (busy) {
        console.err(message);
        return CliExit::deviceFailed;
    }

    if (wait == DeviceSession::Wait::Done && !failed)
        return CliExit::done;
    if (wait == DeviceSession::Wait::Done && unreadable) {
        const auto *refusing = session.deviceAs<UsbDeviceZudWheelBase>(id);
        if (refusing &&
            refusing->settingsVersion != UsbDeviceZudWheelBase::compatibleSettingsVersion) {
            *unreadable = message.trimmed();
            return CliExit::done;
        }
    }
    QString what;
    switch (wait) {
    case DeviceSession::Wait::Done:
        what = QStringLiteral("the wheel base refused: %1").arg(message.trimmed());
        if (what.endsWith(QLatin1Char('.')))
            what.chop(1);
        break;
    case DeviceSession::Wait::TimedOut:
        what = QStringLiteral("the wheel base did not answer within %1 s")
                   .arg(session.timeouts().replyMs / 1000.0);
        break;
    case DeviceSession::Wait::Left:
        what = QStringLiteral("the wheel base left the bus");
        break;
    case DeviceSession::Wait::Interrupted:
        what = QStringLiteral("stopped by %1").arg(session.stopCause());
        break;
    }
    return reportStepFailure(console, step, what, stateOnFailure);
}

} // namespace

int reportStepFailure(CliConsole &console, const QString &step, const QString &what,
                      const QString &state)
{
    console.err(QStringLiteral("%1 failed: %2. %3").arg(step, what, state).trimmed());
    return CliExit::deviceFailed;
}

int loadWheelBaseTable(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure, QString *unreadable)
{
    return runExchange(session, id, Exchange::Load, step, stateOnFailure, unreadable);
}

int saveWheelBaseTable(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure)
{
    return runExchange(session, id, Exchange::Save, step, stateOnFailure);
}

int centerWheelBaseRim(DeviceSession &session, const QString &id, const QString &step,
                       const QString &stateOnFailure)
{
    return runExchange(session, id, Exchange::Center, step, stateOnFailure);
}
