// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary input reports for a pedal set.
#include "FuzzSupport.h"
#include "devices/UsbDeviceZudPedals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzing::DeviceUnderTest<UsbDeviceZudPedals> pedals(0xA112, L"ZUD Pedals");
    long sum = 0;
    QObject::connect(pedals.device.get(), &UsbDeviceZudPedals::onJoystickUpdate,
                     [&](UsbDevice *, ZudUsbPedalsJoystickUpdate *update, uint64_t) {
                         sum += update->x + update->y + update->z;
                     });
    if (size > 0 && data[0] & 1)
        pedals.device->enterBootloader();
    fuzzing::forEachReport(data, size, [&](const uint8_t *report) {
        const size_t before = pedals.bus->writeCount();
        pedals.device->handleReport(report, 1);
        if (pedals.bus->writeCount() != before)
            fuzzing::fail("an input report made the pedals send something");
    });
    return sum == -1;
}
