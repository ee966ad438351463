#include "devices/UsbDeviceZudBootloader.h"

UsbDeviceZudBootloader::UsbDeviceZudBootloader(QString id, hid_device *hidDevice)
    : UsbDevice(std::move(id), hidDevice)
{
}

void UsbDeviceZudBootloader::handleReport(const uint8_t *report, uint64_t readTimeMicros)
{
    UsbDevice::handleReport(report, readTimeMicros);
}
