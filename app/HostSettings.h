// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own settings on this computer (its size and place on the
// screen), kept in one QSettings file under the user's configuration
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
};
