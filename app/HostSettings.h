// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own settings on this computer (its size and place on the
// screen, whether closing it keeps the program in the tray, whether it
// starts at login), kept in one QSettings file under the user's configuration
// location (for example ~/.config/zud-wheel-tool/settings.ini), never on a
// device. Everything the window remembers between runs goes through here.
#pragma once

#include <QString>

class QWidget;

class HostSettings {
public:
    // The file that holds the settings.
    static QString filePath();

    // Puts the window where it was when saveWindow last ran; false (and the
    // window as it is) when nothing usable was saved.
    bool restoreWindow(QWidget &window) const;
    // Keeps the window's size and place; false when the file could not be
    // written.
    bool saveWindow(const QWidget &window);

    // Closing the window hides it in the system tray instead of ending the
    // program (off by default).
    bool closeToTray() const;
    bool setCloseToTray(bool on);
    // The user asked for the program to start at login (off by default);
    // the autostart entry itself is LoginStart's.
    bool startAtLogin() const;
    bool setStartAtLogin(bool on);

private:
    bool store(const char *key, bool on);
};
