// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LoginStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace LoginStart {

QString entryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base directory specification ignores a relative path.
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/zud-wheel-tool.desktop");
}

QByteArray entryText()
{
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=ZUD Wheel Tool\n"
                             "Comment=Switches the wheel base's profile when a game starts\n"
                             "Exec=ZUD_wheel_tool --tray\n"
                             "Icon=org.zud.WheelTool\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n");
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

bool setEnabled(bool on, QString &error)
{
    const QString path = entryPath();
    if (!on) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        error = QStringLiteral("Cannot remove \"%1\": %2.")
                    .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        error = QStringLiteral("Cannot create the folder of \"%1\".")
                    .arg(QDir::toNativeSeparators(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryText()) < 0 || !file.commit()) {
        error = QStringLiteral("Cannot write \"%1\": %2.")
                    .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace LoginStart
