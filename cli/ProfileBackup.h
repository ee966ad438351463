// A safety copy of a wheel base's profile table before the command line
// changes it, in the window's backup folder and format.
#pragma once

#include "cli/DeviceSession.h"
#include "profiles/ProfileFile.h"

#include <QString>

// Loads the wheel base's table and writes it as a backup with the reason.
// Returns the exit status; on success backupPath names the file and table
// (when given) holds what was backed up. A backup that cannot be written
// stops the command before the device is touched (status 4).
int backUpWheelBaseTable(DeviceSession &session, const QString &id, const QString &reason,
                         QString &backupPath, ProfileTable *table = nullptr);
