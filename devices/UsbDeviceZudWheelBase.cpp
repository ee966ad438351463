#include "devices/UsbDeviceZudWheelBase.h"

UsbDeviceZudWheelBase::UsbDeviceZudWheelBase(QString id, hid_device *hidDevice)
    : UsbDevice(std::move(id), hidDevice)
{
}

void UsbDeviceZudWheelBase::handleReport(const uint8_t *report, uint64_t readTimeMicros)
{
    UsbDevice::handleReport(report, readTimeMicros);
    if (report[0] == ZudUsbReportId::joystickReport) {
        auto *update =
            reinterpret_cast<ZudUsbWheelBaseJoystickUpdate *>(const_cast<uint8_t *>(report + 1));
        emit onJoystickUpdate(this, update, readTimeMicros);
    }
}
