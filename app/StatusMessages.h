// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of the status bar, which reports results that need no answer:
// settings loaded and saved, a log started and stopped, a firmware update
// done. Errors that need a decision stay in message boxes.
#pragma once

#include <QString>
#include <cstdint>

namespace StatusMessages {

// How long a result stays in the status bar.
constexpr int timeoutMs = 10000;

QString settingsLoaded(const QString &device, int profiles);
// The log file's full path, in the platform's own notation.
QString loggingStarted(const QString &path);
QString loggingStopped(const QString &path, qint64 rows);
QString firmwareUpdated();

} // namespace StatusMessages
