// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HostSettings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

namespace {
const char *const windowGeometryKey = "window/geometry";
const char *const closeToTrayKey = "tray/closeToTray";
const char *const startAtLoginKey = "tray/startAtLogin";
} // namespace

QString HostSettings::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/settings.ini");
}

bool HostSettings::restoreWindow(QWidget &window) const
{
    const QSettings settings(filePath(), QSettings::IniFormat);
    const QByteArray geometry = settings.value(QLatin1String(windowGeometryKey)).toByteArray();
    // The toolkit keeps the window on a screen that is there now.
    return !geometry.isEmpty() && window.restoreGeometry(geometry);
}

bool HostSettings::saveWindow(const QWidget &window)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(QLatin1String(windowGeometryKey), window.saveGeometry());
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool HostSettings::closeToTray() const
{
    return QSettings(filePath(), QSettings::IniFormat)
        .value(QLatin1String(closeToTrayKey), false)
        .toBool();
}

bool HostSettings::setCloseToTray(bool on)
{
    return store(closeToTrayKey, on);
}

bool HostSettings::startAtLogin() const
{
    return QSettings(filePath(), QSettings::IniFormat)
        .value(QLatin1String(startAtLoginKey), false)
        .toBool();
}

bool HostSettings::setStartAtLogin(bool on)
{
    return store(startAtLoginKey, on);
}

bool HostSettings::store(const char *key, bool on)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(QLatin1String(key), on);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
