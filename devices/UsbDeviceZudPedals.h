// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

// The pedal set in application mode: three axes and the way into the
// bootloader.
class UsbDeviceZudPedals : public UsbDevice {
    Q_OBJECT

public:
    UsbDeviceZudPedals(QString id, hid_device *hidDevice);

    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;
    QString kindName() const override { return QStringLiteral("pedals"); }

signals:
    void onJoystickUpdate(UsbDevice *device, ZudUsbPedalsJoystickUpdate *update,
                          uint64_t readTimeMicros);

public slots:
    void enterBootloader();
};
