// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of sharing a device with other programs (zud-wheel, a
// game watcher): when another program changes the selected wheel base's
// table (a save, a centre, a factory reset), the window reloads it once
// that program is done, or, with unsaved edits, keeps them and says that
// "Reload Settings" shows what the device holds. When another program keeps
// the device busy for longer than an exchange waits, the status bar names
// it, and the exchange can be tried again.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QMainWindow;
class UnsavedChangesGuard;
class UsbDevice;
class UsbDeviceZudWheelBase;

class SharedDeviceFollower : public QObject {
    Q_OBJECT

public:
    SharedDeviceFollower(QMainWindow *window, UnsavedChangesGuard *guard);

    // The selected device, or null; called while it exists.
    void follow(UsbDevice *device);

    // How long the other program's replies must have stopped before the
    // window reloads (its load still waits for the other program's turn).
    void setQuietMs(int milliseconds) { quiet.setInterval(milliseconds); }

signals:
    // The device holds another table than the editor, and the editor has
    // no unsaved edits: load it.
    void reloadWanted();
    // Another program kept the device: the exchange that waited did not
    // start, and the window should let the user try it again.
    void exchangeRefused();

private:
    void changedElsewhere(UsbDevice *device);
    void catchUp();
    void busy(UsbDevice *device, const QString &message);
    void loaded(UsbDevice *device);

    QMainWindow *window;
    UnsavedChangesGuard *guard;
    QPointer<UsbDevice> device;
    QPointer<UsbDeviceZudWheelBase> wheelBase;
    QTimer quiet;
    // A reload this class asked for is running.
    bool reloading = false;
    QList<QMetaObject::Connection> connections;
};
