// SPDX-License-Identifier: GPL-3.0-or-later
// `select-profile` and `run`: make a wheel base profile current by its name,
// with the verified switch the game rules use; `run` switches for the time a
// command runs and back after it.
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "games/ProfileSwitcher.h"

#include <QProcess>
#include <limits>

namespace {

const QString selecting = QStringLiteral("Selecting the profile");

// Runs the switch to name from the top of a command and reports its outcome.
// previous, when given, takes the name of the profile current before.
//
// index, when not -1, names the profile by its place in the table instead
// (name is then only for messages), so that the profile of before is found
// again when several profiles share its name.
int switchProfile(DeviceSession &session, const QString &id, const QString &name, int index = -1,
                  int *previous = nullptr, QString *previousName = nullptr)
{
    CliConsole &console = session.console();
    ProfileSwitcher switcher;
    QObject::connect(&switcher, &ProfileSwitcher::stepStarted, &session,
                     [&] { session.restartWaitClock(); });
    QObject::connect(&switcher, &ProfileSwitcher::finished, &session, [&] { session.wake(); });
    if (index < 0)
        switcher.start(session.deviceAs<UsbDeviceZudWheelBase>(id), name);
    else
        switcher.startAt(session.deviceAs<UsbDeviceZudWheelBase>(id), index);
    const DeviceSession::Wait wait = session.waitForExchange([&] { return !switcher.isRunning(); },
                                                             session.timeouts().replyMs, id);
    const QString unknownState = QStringLiteral("The current profile may or may not have changed.");
    switch (wait) {
    case DeviceSession::Wait::Done:
        break;
    case DeviceSession::Wait::TimedOut:
        return reportStepFailure(console, selecting,
                                 QStringLiteral("the wheel base did not answer within %1 s")
                                     .arg(session.timeouts().replyMs / 1000.0),
                                 unknownState);
    case DeviceSession::Wait::Left:
        return reportStepFailure(console, selecting, QStringLiteral("the wheel base left the bus"),
                                 unknownState);
    case DeviceSession::Wait::Interrupted:
        return reportStepFailure(console, selecting,
                                 QStringLiteral("stopped by %1").arg(session.stopCause()),
                                 unknownState);
    }
    if (previous)
        *previous = switcher.previousIndex();
    if (previousName)
        *previousName = switcher.previousProfile();
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
        return reportStepFailure(console, selecting, switcher.message(), unknownState);
    case ProfileSwitcher::Outcome::ReadBackDiffers:
        console.err(switcher.message());
        return CliExit::deviceFailed;
    }
    return CliExit::deviceFailed;
}

// The status a shell gives a command that could not be started.
constexpr int notStarted = 127;

} // namespace

int runSelectProfile(CommandContext &context)
{
    DeviceSession session(context.console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session,
                     [&] { session.requestStop(interrupts.cause()); });
    return switchProfile(session, id, context.arguments.at(0));
}

int runWithProfile(CommandContext &context)
{
    CliConsole &console = context.console;
    const QString name = context.parser.value(QStringLiteral("profile"));
    if (name.isEmpty()) {
        console.err(QStringLiteral("run needs --profile NAME."));
        return CliExit::usage;
    }
    DeviceSession session(console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    // Ctrl-C stops a switch; while the command runs it is the command's to
    // handle (the terminal sends it there too), and the profile is switched
    // back once the command has ended. SIGTERM and SIGHUP are passed on.
    QProcess process;
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session, [&] {
        if (process.state() == QProcess::NotRunning)
            session.requestStop(interrupts.cause());
        else if (interrupts.cause() != QLatin1String("Ctrl-C"))
            process.terminate();
    });
    int previous = -1;
    QString previousName;
    if (const int status = switchProfile(session, id, name, -1, &previous, &previousName))
        return status;

    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setProgram(context.arguments.at(0));
    process.setArguments(context.arguments.mid(1));
    bool ended = false;
    bool failedToStart = false;
    QObject::connect(&process, &QProcess::errorOccurred, &session,
                     [&](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             ended = failedToStart = true;
                         session.wake();
                     });
    QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &session,
                     [&] {
                         ended = true;
                         session.wake();
                     });
    process.start();
    session.waitFor([&] { return ended; }, std::numeric_limits<int>::max());
    int status = notStarted;
    if (failedToStart) {
        console.err(QStringLiteral("Cannot run %1: %2.")
                        .arg(printableText(context.arguments.at(0)), process.errorString()));
    } else if (process.exitStatus() == QProcess::CrashExit) {
        // Ended by a signal: the shell's 128 + its number (Qt gives the
        // signal's number as the exit code then).
        status = 128 + process.exitCode();
    } else {
        status = process.exitCode();
    }

    // Back to the profile of before, also on a wheel base that went and came
    // back while the command ran.
    const QString notBack =
        QStringLiteral("The profile \"%1\" that was current before was not made current again.")
            .arg(printableText(previousName));
    if (!session.device(id)) {
        id.clear();
        if (session.select(context.devicePath, {DeviceKind::WheelBase}, id) != CliExit::done) {
            console.err(notBack);
            return status;
        }
    }
    if (switchProfile(session, id, previousName, previous) != CliExit::done)
        console.err(notBack);
    return status;
}
