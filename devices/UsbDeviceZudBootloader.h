#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

// A wheel base or pedal set running its USB bootloader.
class UsbDeviceZudBootloader : public UsbDevice {
    Q_OBJECT

public:
    UsbDeviceZudBootloader(QString id, hid_device *hidDevice);

    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;
};
