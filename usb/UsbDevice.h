// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "usb/ZudUsbReport.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <hidapi.h>
#include <memory>

class DeviceLock;

// An opened device interface: owns its HID handle, reads and writes 64-byte
// reports, and re-sends a command every 200 ms until the device answers.
// The device kinds derive from it and override handleReport (and
// isStreamReport where their stream differs).
//
// Lifetime: the manager deletes a device object when its loss is handled on
// the GUI thread. A receiver of one of its signals that runs an event loop
// lets that happen in the middle of the emit, so a device emits a signal as
// the last thing it does with itself, or checks that it still exists
// (QPointer) before it goes on after the emit.
//
// Turns: the window, zud-wheel and a game watcher may each have the device
// open and each reads every reply. An exchange (a load, a save, a firmware
// transfer, ...) is therefore started only while this object holds the
// device's lock (DeviceLock), which it takes when the exchange begins and
// gives back when it ends. While another program holds it, the exchange
// waits, for 10 s at most, and then gives up with onBusy.
class UsbDevice : public QObject {
    Q_OBJECT

public:
    UsbDevice(QString id, hid_device *hidDevice);
    ~UsbDevice() override;

    QString getId() const { return id; }
    QString getProductString() const { return productString; }
    // The interface's HID serial number, read once when it was opened; empty
    // when the device has none.
    QString getSerialNumber() const { return serialNumber; }
    // The interface's vendor and product ids as the HID layer reports them,
    // read once when it was opened (0 when it reported none).
    uint16_t getVendorId() const { return vendorId; }
    uint16_t getProductId() const { return productId; }
    // For the reader thread, which reads through the handle and nothing else.
    hid_device *getHidDevice() const { return hidDevice; }

    // Non-blocking read of one 64-byte report: the byte count, 0 when none
    // was waiting, -1 when the device is gone.
    virtual int read(uint8_t *report);
    // Sends one report. With expectReply, or when the write fails, it is sent
    // again every 200 ms until a report other than a joystick report arrives.
    // Returns whether this write went out whole.
    virtual bool write(const uint8_t *report, bool expectReply);
    // One complete input report of this device, on the GUI thread.
    virtual void handleReport(const uint8_t *report, uint64_t readTimeMicros);
    // Whether an input report belongs to the stream the device sends on its
    // own, which nobody waits for, so that the manager may hand it over with
    // the next ones: the joystick reports. Called on the reader thread; it
    // looks at the report only.
    virtual bool isStreamReport(const uint8_t *report) const;

    bool isRetryArmed() const { return retryTimer.isActive(); }

    // "wheel base", "pedals", "bootloader": how a message names the kind.
    virtual QString kindName() const { return QStringLiteral("device"); }
    // "The wheel base vhid-000001": the kind and the serial number, or the
    // interface path when there is none.
    QString displayName() const;

    // The exchanges that take turns with other programs.
    enum Turn : unsigned {
        LoadTurn = 1u << 0,
        SaveTurn = 1u << 1,
        CenterTurn = 1u << 2,
        ResetTurn = 1u << 3,
        BootloaderTurn = 1u << 4,
        FirmwareTurn = 1u << 5,
        TestForceTurn = 1u << 6,
    };
    // Whether an exchange waits for another program to give the device up.
    bool isWaitingForTurn() const { return !waitingTurns.isEmpty(); }
    bool holdsTurn() const { return heldTurns != 0; }
    // How long an exchange waits for another program before it gives up;
    // 10 s unless a test shortens it. For every device of the process.
    static void setTurnWaitMs(int milliseconds);

signals:
    // Another program kept the device for longer than an exchange waits;
    // message names the holder and what it does. Nothing was sent.
    void onBusy(UsbDevice *device, QString message);
    // An exchange that had to wait for another program has now started.
    void onTurnTaken(UsbDevice *device);

private slots:
    void retryOnTimeout();
    void pollTurn();

protected:
    // Runs start once this object holds the device's lock: at once when it
    // holds it already or nobody else does, otherwise when the other holder
    // lets go (polled every 50 ms). After the wait, refused gets the message
    // (onBusy is emitted when there is no refused). A second request of the
    // same turn while one waits replaces it.
    void takeTurn(Turn turn, std::function<void()> start,
                  std::function<void(const QString &)> refused = {});
    // The exchange has ended (or will not start): the lock is given back
    // once no exchange of this object holds it.
    void endTurn(Turn turn);

    QString id;
    QString productString;
    QString serialNumber;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    hid_device *hidDevice;
    ZudUsbReport lastReport;
    QTimer retryTimer;

private:
    struct WaitingTurn {
        Turn turn;
        std::function<void()> start;
        std::function<void(const QString &)> refused;
    };
    static QString activityOf(unsigned turns);
    bool lockDevice(unsigned turns);
    void unlockDevice();

    std::unique_ptr<DeviceLock> lock;
    unsigned heldTurns = 0;
    QList<WaitingTurn> waitingTurns;
    QTimer turnPollTimer;
    QElapsedTimer turnWaitClock;
};
