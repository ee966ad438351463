#include "devices/UsbDeviceZudPedals.h"

UsbDeviceZudPedals::UsbDeviceZudPedals(QString id, hid_device *hidDevice)
    : UsbDevice(std::move(id), hidDevice)
{
}

void UsbDeviceZudPedals::handleReport(const uint8_t *report, uint64_t readTimeMicros)
{
    UsbDevice::handleReport(report, readTimeMicros);
    if (report[0] == ZudUsbReportId::joystickReport) {
        auto *update =
            reinterpret_cast<ZudUsbPedalsJoystickUpdate *>(const_cast<uint8_t *>(report + 1));
        emit onJoystickUpdate(this, update, readTimeMicros);
    }
}

void UsbDeviceZudPedals::enterBootloader()
{
    ZudUsbReport report{};
    report.data[0] = ZudUsbReportId::commandReport;
    report.data[1] = uint8_t(ZudUsbCommand::EnterBootloader);
    write(report.data, true);
}
