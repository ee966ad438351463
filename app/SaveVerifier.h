// SPDX-License-Identifier: GPL-3.0-or-later
// A save that is checked: when the wheel base has confirmed the save, its
// table is read back and compared with what was sent. The status bar says
// "Saved N profiles to <device>, verified"; a difference opens a warning
// that names each profile and field, and the editor keeps the table that
// was sent (marked unsaved), while what the device holds becomes the loaded
// table.
#pragma once

#include "profiles/ProfileFile.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QMainWindow;
class UnsavedChangesGuard;
class UsbDevice;
class UsbDeviceZudWheelBase;

class SaveVerifier : public QObject {
    Q_OBJECT

public:
    SaveVerifier(QMainWindow *window, UnsavedChangesGuard *guard);

    // Sends the wheel base's table with saveSettings and follows the save
    // to its verification; then, when the device holds what was sent, runs
    // `then` from the event loop.
    void save(UsbDeviceZudWheelBase *wheelBase, std::function<void()> then = {});
    bool isBusy() const { return state != State::Idle; }

    // A load of the wheel base has ended; its table is what the device
    // holds. When that load was the read-back, compares and reports.
    void loadEnded(UsbDeviceZudWheelBase *wheelBase);
    // The device is going away (the manager deletes it after this). Returns
    // what became of a save in progress, or an empty string.
    QString deviceLeaving(UsbDevice *device);
    // The selection left the device: a save in progress is no longer followed.
    void forget();

    // How long a save may take before the window says the device does not
    // answer; the exchange itself goes on.
    void setSilenceTimeout(int milliseconds) { silenceTimer.setInterval(milliseconds); }

private:
    enum class State { Idle, Saving, ReadingBack };
    void saved(UsbDevice *device);
    void readBack();
    void loadFailed(UsbDevice *device, const QString &message);
    void busy(UsbDevice *device, const QString &message);
    void silence();
    void finish();
    void showStatus(const QString &text);

    QMainWindow *window;
    UnsavedChangesGuard *guard;
    QPointer<UsbDeviceZudWheelBase> device;
    QString deviceName;
    ProfileTable sent;
    std::function<void()> then;
    State state = State::Idle;
    int retryPolls = 0;
    QTimer silenceTimer;
    QList<QMetaObject::Connection> connections;
};
