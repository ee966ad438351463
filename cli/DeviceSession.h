// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's hold on the devices: it starts a UsbManager, finds the
// devices at once, picks the one a command means, and waits for what the
// devices do (answers, arrivals, departures) by running the event loop at
// the top of a command, never inside a call from a device or the manager.
//
// Device objects belong to the manager, which deletes them when they leave:
// the session keeps their ids and looks them up again after every wait.
#pragma once

#include "cli/CliConsole.h"
#include "devices/ZudDeviceFactory.h"
#include "usb/UsbManager.h"

#include <QEventLoop>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

enum class DeviceKind { WheelBase, Pedals, Bootloader };

// "wheel base", "pedals", "bootloader".
QString deviceKindName(DeviceKind kind);
bool deviceKindOf(const UsbDevice *device, DeviceKind &kind);

// What `list` shows of a device.
struct DeviceIdentity {
    DeviceKind kind = DeviceKind::WheelBase;
    QString product;
    QString path;
    QString serial;
    int vendorId = 0;
    int productId = 0;
};

// How long the commands wait. The 15 s waits for a device to appear and the
// answer time are what a real device needs; tests shorten them.
struct CliTimeouts {
    int appearMs = 15000;
    int replyMs = 10000;
};

class DeviceSession : public QObject {
    Q_OBJECT

public:
    DeviceSession(CliConsole &console, CliTimeouts timeouts);
    ~DeviceSession() override;

    // Starts the manager and runs one discovery pass over every supported
    // product id at once, so that a command does not wait a second for the
    // manager's first pass. Later arrivals come from the manager's own
    // passes.
    void start();

    CliConsole &console() { return console_; }
    // For what follows every device of the session on its own (a game
    // watcher); only from the top of a command, as the waits are.
    UsbManager &manager() { return manager_; }
    const CliTimeouts &timeouts() const { return timeouts_; }

    // Every registered device, in the registry's order.
    QList<DeviceIdentity> identities();
    static DeviceIdentity identityOf(UsbDevice &device, DeviceKind kind);

    // Picks the device a command means: the one at path when given (it must
    // be of one of the kinds), otherwise the only device of those kinds.
    // Refusals are printed with the candidates; the result is the exit
    // status, with id set on success.
    int select(const QString &path, const QList<DeviceKind> &kinds, QString &id);

    // The device registered under id now, or null once it has left.
    UsbDevice *device(const QString &id);
    template <class T> T *deviceAs(const QString &id) { return qobject_cast<T *>(device(id)); }

    // Arrivals: a mark now, and the first device of the kinds announced
    // after the mark that is still present (empty if none).
    int arrivalMark() const { return int(arrivals_.size()); }
    QString firstArrivalSince(int mark, const QList<DeviceKind> &kinds);

    enum class Wait { Done, TimedOut, Left, Interrupted };
    // Runs the event loop until done() holds, or timeoutMs pass (counted
    // again from every restartWaitClock()), or the device watchedId leaves,
    // or requestStop() is called (then and ever after). Only from the top of
    // a command.
    Wait waitFor(const std::function<bool()> &done, int timeoutMs,
                 const QString &watchedId = QString());
    // waitFor for an exchange with the device at id: the time the exchange
    // waits for another program to give the device up (10 s at most, then
    // it ends with onBusy) is not counted. The device's departure ends the
    // wait unless it is expected (entering the bootloader).
    Wait waitForExchange(const std::function<bool()> &done, int timeoutMs, const QString &id,
                         bool departureEndsWait = true);
    // Runs until the device has nothing left to repeat: a command whose
    // write failed, or that awaits an answer, is sent again every 200 ms
    // until the device answers anything, and a command that waits for
    // another program's turn is not sent yet. Done at once when nothing is
    // pending (or the turn did not come: onBusy tells); Left when the device goes (or is null).
    // Takes the device object that was written to, which lives until its loss is handled here,
    // while the registry may drop it at once.
    Wait waitUntilSent(UsbDevice *device, int timeoutMs);
    // For slots: the running wait looks at its condition again.
    void wake();
    void restartWaitClock();
    // cause names what stopped the wait, for messages ("Ctrl-C", ...).
    void requestStop(const QString &cause = QString());
    QString stopCause() const { return stopCause_; }

private slots:
    void onConnected(UsbDevice *device);
    void onDisconnected(UsbDevice *device);
    void onPermissionDenied(QString path, QString message);

private:
    CliConsole &console_;
    CliTimeouts timeouts_;
    UsbManager manager_{createZudDevice};
    QStringList arrivals_;
    // How often each id has been announced as gone.
    QHash<QString, int> departures_;
    QEventLoop *loop_ = nullptr;
    QTimer waitTimer_;
    bool timedOut_ = false;
    bool stopRequested_ = false;
    QString stopCause_;
};
