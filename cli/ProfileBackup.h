// SPDX-License-Identifier: GPL-3.0-or-later
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
//
// With unreadable given, a wheel base whose table cannot be read at all
// (a firmware with another settings layout) is no failure: nothing is
// backed up, backupPath stays empty, unreadable takes the device's reason
// and the status is 0.
int backUpWheelBaseTable(DeviceSession &session, const QString &id, const QString &reason,
                         QString &backupPath, ProfileTable *table = nullptr,
                         QString *unreadable = nullptr);
