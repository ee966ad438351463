// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusMessages.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("ZUD_wheel_tool", text, nullptr, n);
}

QString profilesText(int profiles)
{
    return profiles == 1 ? tr("1 profile") : tr("%1 profiles").arg(profiles);
}

QString rowsText(qint64 rows)
{
    return rows == 1 ? tr("1 row") : tr("%1 rows").arg(rows);
}

} // namespace

namespace StatusMessages {

QString settingsLoaded(const QString &device, int profiles)
{
    return tr("Settings loaded from %1: %2.").arg(device, profilesText(profiles));
}

QString loggingStarted(const QString &path)
{
    return tr("Logging to %1").arg(QDir::toNativeSeparators(path));
}

QString loggingStopped(const QString &path, qint64 rows)
{
    return tr("Logging stopped: %1 written to %2")
        .arg(rowsText(rows), QDir::toNativeSeparators(path));
}

QString firmwareUpdated()
{
    return tr("Firmware updated successfully.");
}

} // namespace StatusMessages
