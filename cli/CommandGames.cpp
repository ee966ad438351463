// SPDX-License-Identifier: GPL-3.0-or-later
// `select-profile` and `run`: make a wheel base profile current by its name,
// with the verified switch the game rules use; `run` switches for the time a
// command runs and back after it. `watch` applies the game rules until it is
// stopped.
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "games/GameRules.h"
#include "games/GameWatcher.h"
#include "games/ProfileSwitcher.h"

#include <QFileInfo>
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

// "to "GT3" for Endurance Racer" or "to "Road": no listed game runs", the
// tail of every line about one switch.
QString switchText(const QString &profile, const QString &game)
{
    if (game.isEmpty())
        return QStringLiteral("to \"%1\": no listed game runs").arg(printableText(profile));
    return QStringLiteral("to \"%1\" for %2").arg(printableText(profile), printableText(game));
}

// A message of several lines that may quote names from the device or the
// rules file: each line as a terminal may show it.
QString printableLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = printableText(line);
    return lines.join(QLatin1Char('\n'));
}

QString rulesSummary(const GameRules &rules)
{
    const QString games = rules.games.size() == 1
                              ? QStringLiteral("1 game")
                              : QStringLiteral("%1 games").arg(rules.games.size());
    if (!rules.enabled)
        return QStringLiteral("%1, switching is off").arg(games);
    if (rules.defaultProfile.isEmpty())
        return QStringLiteral("%1, no default profile").arg(games);
    return QStringLiteral("%1, default profile \"%2\"")
        .arg(games, printableText(rules.defaultProfile));
}

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

int runWatch(CommandContext &context)
{
    CliConsole &console = context.console;
    DeviceSession session(console, context.timeouts);
    session.start();
    // A wheel base named by its path need not be there yet (the watch may
    // start before it is plugged in), but a device of another kind there is
    // a mistake.
    if (!context.devicePath.isEmpty()) {
        if (UsbDevice *device = session.device(context.devicePath)) {
            DeviceKind kind;
            if (!deviceKindOf(device, kind) || kind != DeviceKind::WheelBase) {
                QString id;
                return session.select(context.devicePath, {DeviceKind::WheelBase}, id);
            }
        }
    }

    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session,
                     [&] { session.requestStop(interrupts.cause()); });

    const QString rulesPath = gameRulesPath();
    GameWatcher watcher(session.manager());
    watcher.setRulesPath(rulesPath);
    watcher.setDevicePath(context.devicePath);
    const auto idOf = [](UsbDeviceZudWheelBase *wheelBase) {
        return wheelBase ? printableText(wheelBase->getId()) : QStringLiteral("the wheel base");
    };
    QObject::connect(
        &watcher, &GameWatcher::switched, &session,
        [&](UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game) {
            console.out(
                QStringLiteral("Switched %1 %2.").arg(idOf(wheelBase), switchText(profile, game)));
        });
    QObject::connect(&watcher, &GameWatcher::switchFailed, &session,
                     [&](UsbDeviceZudWheelBase *wheelBase, const QString &profile,
                         const QString &game, const QString &message) {
                         console.err(QStringLiteral("Switching %1 %2 failed: %3")
                                         .arg(idOf(wheelBase), switchText(profile, game),
                                              printableLines(message)));
                     });
    QObject::connect(
        &watcher, &GameWatcher::switchWaiting, &session,
        [&](UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game) {
            console.err(QStringLiteral("Switching %1 %2 waits for the wheel base.")
                            .arg(idOf(wheelBase), switchText(profile, game)));
        });
    // A missing file is told once at the start; again only when it goes.
    bool rulesFileSeen = QFileInfo::exists(rulesPath);
    QObject::connect(&watcher, &GameWatcher::rulesLoaded, &session, [&] {
        if (QFileInfo::exists(rulesPath)) {
            rulesFileSeen = true;
            console.err(QStringLiteral("Rules read from %1: %2.")
                            .arg(rulesPath, rulesSummary(watcher.rules())));
        } else if (rulesFileSeen) {
            rulesFileSeen = false;
            console.err(QStringLiteral("The rules file %1 is gone; nothing is switched until it "
                                       "is back.")
                            .arg(rulesPath));
        }
    });
    QObject::connect(&watcher, &GameWatcher::rulesRefused, &session, [&](const QString &error) {
        console.err(QStringLiteral("Rules file refused: %1 The rules read before it stay in "
                                   "force.")
                        .arg(printableText(error)));
    });
    // The other watcher by its program and process id, without what it
    // does (switching profiles, which goes without saying here).
    QString otherWatcher;
    QObject::connect(&watcher, &GameWatcher::standbyChanged, &session,
                     [&](bool standingBy, const QString &holder) {
                         if (standingBy) {
                             const int pidEnd = holder.indexOf(QLatin1String(" (pid "));
                             otherWatcher = printableText(
                                 pidEnd < 0
                                     ? holder
                                     : holder.left(holder.indexOf(QLatin1Char(')'), pidEnd) + 1));
                             console.err(QStringLiteral("%1 already switches the profiles; this "
                                                        "watch switches nothing until it ends, "
                                                        "then takes over.")
                                             .arg(otherWatcher));
                         } else {
                             console.err(QStringLiteral("%1 no longer switches the profiles; "
                                                        "this watch switches them now.")
                                             .arg(otherWatcher));
                         }
                     });

    if (!rulesFileSeen)
        console.err(QStringLiteral("There is no rules file at %1 yet; it is read once it is "
                                   "there.")
                        .arg(rulesPath));
    console.err(QStringLiteral("Watching for the listed games on %1 (Ctrl-C ends).")
                    .arg(context.devicePath.isEmpty()
                             ? QStringLiteral("every wheel base")
                             : QStringLiteral("the wheel base at %1")
                                   .arg(printableText(context.devicePath))));
    watcher.start();
    session.waitFor([] { return false; }, std::numeric_limits<int>::max());
    watcher.stop();
    console.err(QStringLiteral("Stopped by %1.").arg(session.stopCause()));
    return CliExit::done;
}
