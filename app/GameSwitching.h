// SPDX-License-Identifier: GPL-3.0-or-later
// The window's game watcher: while the rules ask for switching, one
// GameWatcher on the window's device manager switches the wheel bases when
// a listed game starts or ends. A switch waits while the wheel base has
// unsaved edits in the window, and the status bar says which switch waits.
// What was switched is told by a tray notification and the status bar;
// failures go to the status bar only. When another program already
// switches, the window says who and stands by.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class DeviceSelection;
class GamesPage;
class GameWatcher;
class ProcessSource;
class QMainWindow;
class SettingsEditor;
class TrayIcon;
class UsbDeviceZudWheelBase;
class UsbManager;

class GameSwitching : public QObject {
    Q_OBJECT

public:
    GameSwitching(QMainWindow *window, UsbManager &manager, const DeviceSelection &selection,
                  SettingsEditor &editor, GamesPage &page, TrayIcon &tray);
    ~GameSwitching() override;

    // The processes the watcher looks at; the running system's when null.
    // A running watcher starts again with them.
    void setProcessSource(ProcessSource *source);

    // The watcher while switching is on, else null.
    GameWatcher *watcher() const { return watcher_.get(); }
    // A switch of this wheel base waits or runs.
    bool isSwitching(const UsbDeviceZudWheelBase &wheelBase) const;

    // Starts or stops the watcher.
    void setRunning(bool on);

public slots:
    // A hold may have ended (edits saved or discarded): the switches that
    // wait are tried now.
    void recheck();

signals:
    // The watcher switched the wheel base: its table in memory is the
    // device's again (for the receiver's use during the call).
    void switched(UsbDeviceZudWheelBase *wheelBase);

private:
    void showSwitched(UsbDeviceZudWheelBase *wheelBase, const QString &profile,
                      const QString &game);
    void status(const QString &text, int timeoutMs = 0);

    QMainWindow *window;
    UsbManager &manager;
    const DeviceSelection &selection;
    SettingsEditor &editor;
    GamesPage &page;
    TrayIcon &tray;
    ProcessSource *source = nullptr;
    std::unique_ptr<GameWatcher> watcher_;
};
