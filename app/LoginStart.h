// SPDX-License-Identifier: GPL-3.0-or-later
// Starting the program at login: the desktop entry
// $XDG_CONFIG_HOME/autostart/zud-wheel-tool.desktop (~/.config when the
// variable is not set), which starts the window hidden in the tray.
#pragma once

#include <QByteArray>
#include <QString>

namespace LoginStart {

QString entryPath();
// The entry's text: runs "ZUD_wheel_tool --tray".
QByteArray entryText();
bool isEnabled();
// Writes the entry whole or removes it; false and a message that names the
// file on failure (a missing entry is no failure to remove).
bool setEnabled(bool on, QString &error);

} // namespace LoginStart
