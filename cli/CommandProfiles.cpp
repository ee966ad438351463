// SPDX-License-Identifier: GPL-3.0-or-later
// `export-profiles` and `import-profiles`: the wheel base's table to and
// from the profile file format the window uses.
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProfileBackup.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "profiles/ProfileFile.h"

int runExportProfiles(CommandContext &context)
{
    CliConsole &console = context.console;
    const QString path = context.arguments.at(0);
    DeviceSession session(console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    if (const int status = loadWheelBaseTable(session, id, QStringLiteral("Loading the profiles"),
                                              QStringLiteral("Nothing was written.")))
        return status;
    auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    if (!wheelBase)
        return reportStepFailure(console, QStringLiteral("Loading the profiles"),
                                 QStringLiteral("the wheel base left the bus"),
                                 QStringLiteral("Nothing was written."));
    const ProfileTable table = profileTableOf(*wheelBase);
    QString error;
    if (!writeProfileFile(path, table, error)) {
        console.err(error);
        return CliExit::fileError;
    }
    console.out(QStringLiteral("Exported %1 profiles of %2 to %3.")
                    .arg(table.profiles.size())
                    .arg(id, path));
    return CliExit::done;
}

namespace {
// How long the read-back waits for the end of a save still being repeated:
// three repeats.
constexpr int saveEndRepeatMs = 600;
} // namespace

int runImportProfiles(CommandContext &context)
{
    CliConsole &console = context.console;
    const QString path = context.arguments.at(0);
    // Everything in the file is checked before any device is touched.
    ProfileTable imported;
    QString error;
    ProfileFileScope scope = ProfileFileScope::Table;
    if (!readProfileFile(path, imported, error, scope)) {
        console.err(error);
        return CliExit::fileError;
    }

    DeviceSession session(console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, {DeviceKind::WheelBase}, id))
        return status;
    // Ctrl-C (or the end of the terminal) stops the step running and says
    // what the device holds then, instead of ending the process silently in
    // the middle of the save.
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session,
                     [&] { session.requestStop(interrupts.cause()); });
    QString backupPath;
    ProfileTable before;
    if (const int status =
            backUpWheelBaseTable(session, id, QStringLiteral("import"), backupPath, &before))
        return status;
    // A file with one profile exported on its own takes the place of the
    // device's current profile, as in the window.
    if (scope == ProfileFileScope::Profile) {
        ZudUsbWheelBaseProfile profile = imported.profiles.first();
        imported = before;
        profile.index = uint8_t(imported.currentProfile);
        imported.profiles[imported.currentProfile] = profile;
    }

    auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    const QString saving = QStringLiteral("Saving the profiles");
    const QString partly =
        QStringLiteral("The device may hold part of the new table; its table before the import is "
                       "in %1 (zud-wheel import-profiles restores it).")
            .arg(backupPath);
    if (!wheelBase)
        return reportStepFailure(console, saving, QStringLiteral("the wheel base left the bus"),
                                 QStringLiteral("Nothing was changed on the device."));
    applyProfileTable(imported, *wheelBase);
    if (const int status = saveWheelBaseTable(session, id, saving, partly))
        return status;
    // The closing report of the save may still be repeated (its write
    // failed); the read-back at once would take its place before the device
    // has seen the end of the save. The repeat never gets an answer and goes
    // on until the next command, so after a few the read-back goes ahead,
    // as the window's verified save does.
    const QString verifying = QStringLiteral("Verifying the saved profiles");
    const QString unverified = QStringLiteral("The table was saved but not verified.");
    if (session.waitUntilSent(session.device(id), saveEndRepeatMs) ==
        DeviceSession::Wait::Interrupted)
        return reportStepFailure(console, verifying,
                                 QStringLiteral("stopped by %1").arg(session.stopCause()),
                                 unverified);

    // Read back what the device stores and compare it with what was sent.
    if (const int status = loadWheelBaseTable(session, id, verifying, unverified))
        return status;
    wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    if (!wheelBase)
        return reportStepFailure(console, verifying, QStringLiteral("the wheel base left the bus"),
                                 unverified);
    const QStringList differences = profileTableDifferences(imported, profileTableOf(*wheelBase));
    if (!differences.isEmpty()) {
        console.err(QStringLiteral("%1 failed: the device holds something else than was sent:")
                        .arg(verifying));
        for (const QString &line : differences)
            console.err(QStringLiteral("  ") + line);
        console.err(QStringLiteral("Its table before the import is in %1.").arg(backupPath));
        return CliExit::deviceFailed;
    }
    console.out(QStringLiteral("Imported %1 profiles from %2 into %3, verified.")
                    .arg(imported.profiles.size())
                    .arg(path, id));
    return CliExit::done;
}
