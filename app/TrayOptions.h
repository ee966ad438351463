// SPDX-License-Identifier: GPL-3.0-or-later
// "Keep running in the tray when closed" and "Start at login": kept in the
// window's settings file on this computer; the latter also writes or
// removes the autostart entry that starts the program in the tray.
#pragma once

#include "app/HostSettings.h"

#include <QObject>

class QCheckBox;
class QMainWindow;

class TrayOptions : public QObject {
    Q_OBJECT

public:
    TrayOptions(QMainWindow *window, QCheckBox *closeToTray, QCheckBox *startAtLogin);

    bool closeToTray() const { return closeToTray_; }

private:
    void closeToTrayClicked(bool on);
    void startAtLoginClicked(bool on);

    QMainWindow *window;
    QCheckBox *startAtLoginBox;
    HostSettings settings;
    bool closeToTray_ = false;
};
