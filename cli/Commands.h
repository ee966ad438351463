// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of zud-wheel: each one a function with one job, given the
// parsed command line; the entry function parses and dispatches.
#pragma once

#include "cli/CliConsole.h"
#include "cli/DeviceSession.h"

#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct CommandContext {
    CliConsole &console;
    const QCommandLineParser &parser;
    QStringList arguments; // the positional arguments after the command
    QString devicePath;    // --device, empty when not given
    CliTimeouts timeouts;
};

struct CliCommand {
    QString name;
    QString synopsis; // after "zud-wheel NAME"
    QString summary;  // one line for the tool's help
    QString description;
    bool takesDevice = true;
    // The positional arguments, all required: name and help text.
    QList<QPair<QString, QString>> arguments;
    QList<QCommandLineOption> options;
    int (*run)(CommandContext &context) = nullptr;
    // More positional arguments may follow the required ones (a command
    // line to run); options after the first of them belong to it.
    bool takesCommandLine = false;
};

const QList<CliCommand> &cliCommands();

int runList(CommandContext &context);
int runExportProfiles(CommandContext &context);
int runImportProfiles(CommandContext &context);
int runUpdateFirmware(CommandContext &context);
int runLog(CommandContext &context);
int runCenter(CommandContext &context);
int runFactoryDefaults(CommandContext &context);
int runSelectProfile(CommandContext &context);
int runWithProfile(CommandContext &context);
int runWatch(CommandContext &context);
