#pragma once

#include "usb/ZudUsbReport.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <hidapi.h>

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

private slots:
    void retryOnTimeout();

protected:
    QString id;
    QString productString;
    QString serialNumber;
    hid_device *hidDevice;
    ZudUsbReport lastReport;
    QTimer retryTimer;
};
