// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ZudWheelMain.h"

#include "cli/Commands.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <unistd.h>

namespace {

const QString toolName = QStringLiteral("zud-wheel");

QCommandLineOption helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Shows this help."));
}

QCommandLineOption deviceOption()
{
    return QCommandLineOption(QStringLiteral("device"),
                              QStringLiteral("The device to use, by its interface path as "
                                             "`list` shows it. Needed when more than one device "
                                             "could be meant."),
                              QStringLiteral("PATH"));
}

// How long to wait for devices and answers, for tests and slow benches.
QCommandLineOption waitOption()
{
    QCommandLineOption option(QStringLiteral("wait-ms"),
                              QStringLiteral("Wait this long for devices and answers."),
                              QStringLiteral("MS"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

QCommandLineOption flag(const QString &name, const QString &help)
{
    return QCommandLineOption(name, help);
}

QString toolHelp(const QString &program)
{
    QStringList lines;
    lines << QStringLiteral("Usage: %1 COMMAND [options] [arguments]").arg(program) << QString()
          << QStringLiteral("Lists, configures and updates ZUD wheel bases and pedals without a "
                            "window.")
          << QString() << QStringLiteral("Commands:");
    for (const CliCommand &command : cliCommands()) {
        const QString call = (command.name + QLatin1Char(' ') + command.synopsis).trimmed();
        lines << QStringLiteral("  %1 %2").arg(call, -42).arg(command.summary);
    }
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("help [COMMAND]"), -42)
                 .arg(QStringLiteral("Shows this help, or a command's."))
          << QString() << QStringLiteral("Options:")
          << QStringLiteral("  -h, --help     Shows this help.")
          << QStringLiteral("  -v, --version  Shows the version.") << QString()
          << QStringLiteral("Commands that talk to one device take --device PATH; without it "
                            "they refuse when more")
          << QStringLiteral("than one device could be meant. Results go to standard output, "
                            "progress and")
          << QStringLiteral("messages to standard error. SIGTERM and SIGHUP are handled as "
                            "Ctrl-C is.")
          << QString()
          << QStringLiteral("Exit status: 0 done, 1 no such device, 2 usage error, 3 the device "
                            "refused, failed")
          << QStringLiteral("or left, 4 a file that cannot be read, written or parsed (standard "
                            "output too).");
    return lines.join(QLatin1Char('\n'));
}

void addCommandOptions(QCommandLineParser &parser, const CliCommand &command)
{
    parser.setApplicationDescription(command.description);
    parser.addOption(helpOption());
    for (const QCommandLineOption &option : command.options)
        parser.addOption(option);
    if (command.takesDevice)
        parser.addOption(deviceOption());
    parser.addOption(waitOption());
    for (const auto &argument : command.arguments)
        parser.addPositionalArgument(argument.first, argument.second);
}

QString commandHelp(const QString &program, const CliCommand &command)
{
    QCommandLineParser parser;
    addCommandOptions(parser, command);
    // Qt's help starts with a usage line naming the executable; ours names
    // the command.
    QString text = parser.helpText();
    text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
    return QStringLiteral("Usage: %1 %2 %3\n").arg(program, command.name, command.synopsis) +
           text.trimmed();
}

const CliCommand *findCommand(const QString &name)
{
    for (const CliCommand &command : cliCommands())
        if (command.name == name)
            return &command;
    return nullptr;
}

int usageError(CliConsole &console, const QString &program, const QString &message,
               const QString &command = QString())
{
    console.err(message);
    console.err(QStringLiteral("Run '%1 %2--help' for more.")
                    .arg(program, command.isEmpty() ? QString() : command + QLatin1Char(' ')));
    return CliExit::usage;
}

int runCommand(const QString &program, const CliCommand &command, const QStringList &arguments,
               CliConsole &console)
{
    QCommandLineParser parser;
    addCommandOptions(parser, command);
    if (command.takesCommandLine)
        parser.setOptionsAfterPositionalArgumentsMode(
            QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(QStringList{program} + arguments))
        return usageError(console, program, parser.errorText(), command.name);
    if (parser.isSet(QStringLiteral("help"))) {
        console.out(commandHelp(program, command));
        return CliExit::done;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < command.arguments.size() ||
        (positional.size() > command.arguments.size() && !command.takesCommandLine)) {
        QString message;
        if (positional.size() < command.arguments.size())
            message = QStringLiteral("%1 needs %2.")
                          .arg(command.name, command.arguments.at(positional.size()).first);
        else
            message = QStringLiteral("Unexpected argument: %1")
                          .arg(positional.at(command.arguments.size()));
        return usageError(console, program, message, command.name);
    }

    CliTimeouts timeouts;
    if (parser.isSet(QStringLiteral("wait-ms"))) {
        bool ok = false;
        const int ms = parser.value(QStringLiteral("wait-ms")).toInt(&ok);
        if (!ok || ms < 0)
            return usageError(console, program, QStringLiteral("--wait-ms needs milliseconds."),
                              command.name);
        timeouts.appearMs = ms;
        timeouts.replyMs = ms;
    }
    CommandContext context{console, parser, positional,
                           command.takesDevice ? parser.value(QStringLiteral("device")) : QString(),
                           timeouts};
    return command.run(context);
}

int run(const QStringList &arguments, CliConsole &console)
{
    const QString program =
        arguments.isEmpty() ? toolName : QFileInfo(arguments.first()).fileName();
    const QStringList rest = arguments.mid(1);
    if (rest.isEmpty()) {
        console.err(toolHelp(program));
        return CliExit::usage;
    }
    const QString first = rest.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") ||
        (first == QLatin1String("help") && rest.size() == 1)) {
        console.out(toolHelp(program));
        return CliExit::done;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        console.out(QStringLiteral("%1 %2").arg(program, QStringLiteral(ZUD_VERSION)));
        return CliExit::done;
    }
    if (first == QLatin1String("help")) {
        const CliCommand *command = rest.size() == 2 ? findCommand(rest.at(1)) : nullptr;
        if (!command)
            return usageError(console, program,
                              QStringLiteral("No such command: %1").arg(rest.mid(1).join(' ')));
        console.out(commandHelp(program, *command));
        return CliExit::done;
    }
    const CliCommand *command = findCommand(first);
    if (!command)
        return usageError(
            console, program,
            first.startsWith(QLatin1Char('-'))
                ? QStringLiteral("Unknown option: %1 (the command comes first)").arg(first)
                : QStringLiteral("No such command: %1").arg(first));
    return runCommand(program, *command, rest.mid(1), console);
}

} // namespace

const QList<CliCommand> &cliCommands()
{
    static const QList<CliCommand> commands{
        {QStringLiteral("list"),
         QStringLiteral("[--json]"),
         QStringLiteral("Lists every supported device."),
         QStringLiteral("Lists every supported device: kind (wheel base, pedals, bootloader), "
                        "product string, interface path, serial number, vendor and product id, "
                        "one device a line, separated by tabs. With --json, an array of objects "
                        "with the keys kind, product, path, serial, vendorId and productId."),
         false,
         {},
         {flag(QStringLiteral("json"), QStringLiteral("Prints the devices as a JSON array."))},
         runList},
        {QStringLiteral("export-profiles"),
         QStringLiteral("FILE"),
         QStringLiteral("Writes the wheel base's profiles to FILE."),
         QStringLiteral("Loads the wheel base's profile table and writes it to FILE in the profile "
                        "file format that the window's \"Export...\" writes."),
         true,
         {{QStringLiteral("FILE"), QStringLiteral("The profile file to write.")}},
         {},
         runExportProfiles},
        {QStringLiteral("import-profiles"),
         QStringLiteral("FILE"),
         QStringLiteral("Saves the profiles of FILE to the wheel base."),
         QStringLiteral("Validates FILE (a file with a fault is refused, naming the profile and "
                        "the field, and the device is not touched), backs up the device's table, "
                        "saves the file's table to the device, reads it back and verifies it. "
                        "Ctrl-C stops it and says what the device holds then."),
         true,
         {{QStringLiteral("FILE"), QStringLiteral("The profile file to import.")}},
         {},
         runImportProfiles},
        {QStringLiteral("update-firmware"),
         QStringLiteral("FILE"),
         QStringLiteral("Updates the firmware of a wheel base, pedals or bootloader."),
         QStringLiteral("Checks FILE, backs up a wheel base's profiles (one whose firmware cannot "
                        "hand them over is updated without a backup), enters the bootloader and "
                        "waits for it (up to 15 s), transfers the image with progress, exits the "
                        "bootloader and waits for the device to come back (up to 15 s); a wheel "
                        "base's profiles are then compared with the backup. During the transfer "
                        "the first Ctrl-C asks for a second one, since stopping leaves the device "
                        "in its bootloader."),
         true,
         {{QStringLiteral("FILE"), QStringLiteral("The firmware image (*.fw).")}},
         {},
         runUpdateFirmware},
        {QStringLiteral("log"),
         QStringLiteral("FILE --seconds N [--every-report]"),
         QStringLiteral("Logs a wheel base's or pedals' live data to a CSV file."),
         QStringLiteral("Logs the live data of a wheel base or pedals to the CSV file FILE for N "
                        "seconds, in the window's CSV formats: a wheel base's updates at most one "
                        "per 16 ms as the window logs them, or every report with --every-report; "
                        "every pedals report. Ctrl-C ends the log early and keeps it; a log "
                        "that ends before any data arrived is not written (status 3)."),
         true,
         {{QStringLiteral("FILE"), QStringLiteral("The CSV file to write.")}},
         {QCommandLineOption(QStringLiteral("seconds"), QStringLiteral("How long to log."),
                             QStringLiteral("N")),
          flag(QStringLiteral("every-report"),
               QStringLiteral("Logs every report of a wheel base, not one per 16 ms."))},
         runLog},
        {QStringLiteral("center"),
         QString(),
         QStringLiteral("Centres the wheel base's rim."),
         QStringLiteral("Takes the rim's position as its centre in the current profile, as the "
                        "window's \"Center\" button does."),
         true,
         {},
         {},
         runCenter},
        {QStringLiteral("factory-defaults"),
         QStringLiteral("--yes"),
         QStringLiteral("Restores the factory defaults (backs up first)."),
         QStringLiteral("Restores the factory defaults of a wheel base or bootloader, as the "
                        "window's \"Factory Defaults\" button does. A wheel base's profiles are "
                        "backed up first, and its table is loaded after the reset and its "
                        "profile count printed. Refuses without --yes."),
         true,
         {},
         {flag(QStringLiteral("yes"), QStringLiteral("Erases the device's profiles."))},
         runFactoryDefaults},
        {QStringLiteral("select-profile"),
         QStringLiteral("NAME"),
         QStringLiteral("Makes the wheel base's profile named NAME current."),
         QStringLiteral("Loads the wheel base's table, makes the profile named NAME (exactly) "
                        "current, saves the table and reads it back to verify; nothing is sent "
                        "when NAME is current already. No profile of that name: status 2 and the "
                        "names on the device, one per line. When the read-back differs, the "
                        "table before the switch is kept as a backup."),
         true,
         {{QStringLiteral("NAME"), QStringLiteral("The profile's name.")}},
         {},
         runSelectProfile},
        {QStringLiteral("run"),
         QStringLiteral("--profile NAME -- COMMAND [ARGS...]"),
         QStringLiteral("Runs COMMAND with the profile named NAME current, then switches back."),
         QStringLiteral("Makes the wheel base's profile named NAME current (as select-profile "
                        "does), runs COMMAND with its arguments on this terminal, waits for it, "
                        "makes the profile that was current before current again, and exits with "
                        "COMMAND's status (128 + the signal's number when a signal ended it, 127 "
                        "when it could not be started). Nothing is run when the switch fails. "
                        "For a game's launch options: zud-wheel run --profile GT3 -- %command%"),
         true,
         {{QStringLiteral("COMMAND"), QStringLiteral("The command to run, then its arguments.")}},
         {QCommandLineOption(QStringLiteral("profile"),
                             QStringLiteral("The profile to make current while COMMAND runs."),
                             QStringLiteral("NAME"))},
         runWithProfile,
         true},
        {QStringLiteral("watch"),
         QString(),
         QStringLiteral("Switches the wheel base's profile when a listed game starts or ends."),
         QStringLiteral("Applies the game rules file $XDG_CONFIG_HOME/zud-wheel-tool/games.json "
                        "(~/.config/zud-wheel-tool/games.json when unset; the watch says where "
                        "it reads it) until Ctrl-C, SIGTERM or SIGHUP ends it (status 0): "
                        "every second it looks at the running processes, and when a listed game "
                        "starts it makes the game's profile current on each wheel base (the "
                        "one at --device only, when given), as select-profile does; when no "
                        "listed game runs any more, the default profile. A wheel base that "
                        "arrives while a game runs gets the game's profile. One line per switch "
                        "on standard output; failures and a rules file that is not valid on "
                        "standard error. The file is read again when it changes; a missing file "
                        "switches nothing until it is there. When another program already "
                        "switches the profiles, it is named and this one waits and takes over "
                        "when it ends."),
         true,
         {},
         {},
         runWatch},
    };
    return commands;
}

int zudWheelMain(int argc, char **argv, QIODevice &out, QIODevice &err, bool errIsTerminal)
{
    std::unique_ptr<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application = std::make_unique<QCoreApplication>(argc, argv);
    // Backups go where the window keeps them.
    QCoreApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CliConsole console(out, err, errIsTerminal);
    const int status = run(arguments, console);
    // A result that did not reach standard output is no success.
    if (status == CliExit::done && !console.outError().isEmpty()) {
        console.err(
            QStringLiteral("Writing to standard output failed: %1").arg(console.outError()));
        return CliExit::fileError;
    }
    return status;
}

int zudWheelMain(int argc, char **argv)
{
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    return zudWheelMain(argc, argv, out, err, ::isatty(STDERR_FILENO) == 1);
}
