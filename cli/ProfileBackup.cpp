// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ProfileBackup.h"

#include "cli/WheelBaseExchange.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "profiles/ProfileBackupStore.h"

int backUpWheelBaseTable(DeviceSession &session, const QString &id, const QString &reason,
                         QString &backupPath, ProfileTable *table, QString *unreadable)
{
    const QString unchanged = QStringLiteral("Nothing was changed on the device.");
    backupPath.clear();
    if (const int status =
            loadWheelBaseTable(session, id, QStringLiteral("Loading the profiles for the backup"),
                               unchanged, unreadable))
        return status;
    if (unreadable && !unreadable->isEmpty())
        return CliExit::done;
    auto *wheelBase = session.deviceAs<UsbDeviceZudWheelBase>(id);
    if (!wheelBase)
        return reportStepFailure(session.console(), QStringLiteral("Backing up the profiles"),
                                 QStringLiteral("the wheel base left the bus"), unchanged);
    const ProfileTable loaded = profileTableOf(*wheelBase);
    ProfileBackupStore store;
    QString error;
    backupPath = store.write(ProfileBackupStore::deviceFolder(*wheelBase), loaded, reason, error);
    if (backupPath.isEmpty()) {
        session.console().err(
            QStringLiteral("Backing up the profiles failed: %1. %2").arg(error, unchanged));
        return CliExit::fileError;
    }
    session.console().err(
        QStringLiteral("Backed up %1 profiles to %2").arg(loaded.profiles.size()).arg(backupPath));
    if (table)
        *table = loaded;
    return CliExit::done;
}
