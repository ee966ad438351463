// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon in the system tray: its menu lists each wheel base's
// profiles with the current one checked, to switch by hand, and "Show" and
// "Quit"; notifications say what was switched. The menu is built also where
// there is no tray, so that it can be looked at.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

class ProfileSwitcher;
class UsbDeviceZudWheelBase;
class UsbManager;

class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(QObject *parent, UsbManager &manager);

    // Whether the desktop has a system tray to show the icon in.
    static bool available();
    // Shows the icon where there is a tray; false where there is none.
    bool showIcon();
    bool isIconShown() const { return icon.isVisible(); }

    // Says why a hand switch of this wheel base may not start now (unsaved
    // edits, a switch under way), or returns an empty string.
    void setRefusal(std::function<QString(UsbDeviceZudWheelBase &)> refusal)
    {
        this->refusal = std::move(refusal);
    }

    // Built again each time it is about to show.
    QMenu *menu() { return &menu_; }
    void rebuildMenu();

    // A notification from the tray icon (shown where there is a tray).
    void notify(const QString &title, const QString &text);
    QString lastNotification() const { return lastText; }

    // Switches by hand, as the menu does: the profile at index.
    void switchTo(UsbDeviceZudWheelBase *wheelBase, int index);

signals:
    void showWanted();
    void quitWanted();
    // A line for the status bar.
    void message(const QString &text);
    // The hand switch is saved and verified: the wheel base's table in
    // memory is the device's again (for the receiver's use during the call).
    void switched(UsbDeviceZudWheelBase *wheelBase);

private:
    void switchEnded();

    UsbManager &manager;
    QSystemTrayIcon icon;
    QMenu menu_;
    ProfileSwitcher *switcher;
    QPointer<UsbDeviceZudWheelBase> switching;
    std::function<QString(UsbDeviceZudWheelBase &)> refusal;
    QString lastText;
};
