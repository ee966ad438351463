#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

// The force-feedback wheel base in application mode.
class UsbDeviceZudWheelBase : public UsbDevice {
    Q_OBJECT

public:
    UsbDeviceZudWheelBase(QString id, hid_device *hidDevice);

    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;

signals:
    void onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);
};
