// SPDX-License-Identifier: GPL-3.0-or-later
#include "devices/UsbDeviceZudPedals.h"

#include "devices/ZudUsbCommands.h"

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
    takeTurn(BootloaderTurn, [this] {
        // Sent until the pedals answer or leave the bus for their bootloader.
        const ZudUsbReport report = ZudUsbCommands::enterBootloader();
        write(report.data, true);
        endTurn(BootloaderTurn);
    });
}
