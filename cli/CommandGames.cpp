// SPDX-License-Identifier: GPL-3.0-or-later
// `select-profile`: makes a wheel base profile current by its name, with the
// verified switch the game rules use.
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "games/ProfileSwitcher.h"

int runSelectProfile(CommandContext &context)
{
    CliConsole &console = context.console;
    const QString name = context.arguments.at(0);
    DeviceSession session(console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session,
                     [&] { session.requestStop(interrupts.cause()); });

    ProfileSwitcher switcher;
    QObject::connect(&switcher, &ProfileSwitcher::stepStarted, &session,
                     [&] { session.restartWaitClock(); });
    QObject::connect(&switcher, &ProfileSwitcher::finished, &session, [&] { session.wake(); });
    switcher.start(session.deviceAs<UsbDeviceZudWheelBase>(id), name);
    const DeviceSession::Wait wait = session.waitForExchange([&] { return !switcher.isRunning(); },
                                                             session.timeouts().replyMs, id);
    const QString step = QStringLiteral("Selecting the profile");
    const QString unknownState = QStringLiteral("The current profile may or may not have changed.");
    switch (wait) {
    case DeviceSession::Wait::Done:
        break;
    case DeviceSession::Wait::TimedOut:
        return reportStepFailure(console, step,
                                 QStringLiteral("the wheel base did not answer within %1 s")
                                     .arg(session.timeouts().replyMs / 1000.0),
                                 unknownState);
    case DeviceSession::Wait::Left:
        return reportStepFailure(console, step, QStringLiteral("the wheel base left the bus"),
                                 unknownState);
    case DeviceSession::Wait::Interrupted:
        return reportStepFailure(
            console, step, QStringLiteral("stopped by %1").arg(session.stopCause()), unknownState);
    }
    switch (switcher.outcome()) {
    case ProfileSwitcher::Outcome::Switched:
        console.out(QStringLiteral("Profile \"%1\" is now current on %2 (was \"%3\"), verified.")
                        .arg(printableText(name), id, printableText(switcher.previousProfile())));
        return CliExit::done;
    case ProfileSwitcher::Outcome::AlreadyCurrent:
        console.out(QStringLiteral("Profile \"%1\" is already current on %2; nothing was sent.")
                        .arg(printableText(name), id));
        return CliExit::done;
    case ProfileSwitcher::Outcome::UnknownName:
        console.err(QStringLiteral("%1 has no profile named \"%2\"; nothing was sent. Its "
                                   "profiles:")
                        .arg(id, printableText(name)));
        for (const QString &onDevice : switcher.names())
            console.err(printableText(onDevice));
        return CliExit::usage;
    case ProfileSwitcher::Outcome::Failed:
        console.err(
            QStringLiteral("%1 failed: %2. %3").arg(step, switcher.message(), unknownState));
        return CliExit::deviceFailed;
    case ProfileSwitcher::Outcome::ReadBackDiffers:
        console.err(switcher.message());
        return CliExit::deviceFailed;
    }
    return CliExit::deviceFailed;
}
