// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary input reports for a wheel base, after one of its operations has
// started an exchange. The profile table is never addressed outside its 100
// slots, the counts stay within it, every profile the tool sends is a slot
// of its table, and no report makes it send more than the next request.
#include "FuzzSupport.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <cstring>

using fuzzing::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    fuzzing::DeviceUnderTest<UsbDeviceZudWheelBase> wheel(0xA355, L"ZUD Wheel Base");
    UsbDeviceZudWheelBase &device = *wheel.device;
    int observed = 0;
    QObject::connect(&device, &UsbDeviceZudWheelBase::onJoystickUpdate,
                     [&](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update, uint64_t) {
                         // Touch the record the way the live view and the logger do.
                         observed += update->updateKind;
                         if (update->updateKind == 2) {
                             const int n = std::min<int>(update->torque.sampleCount, 11);
                             for (int i = 0; i < n; ++i)
                                 observed +=
                                     update->torque.torqueOut[i] + update->torque.torqueActual[i];
                         }
                     });
    QObject::connect(&device, &UsbDeviceZudWheelBase::onDebugOutput,
                     [&](UsbDevice *, ZudUsbWheelBaseDebugOutput *output, uint64_t) {
                         observed += int(output->motorState);
                     });

    switch (data[0] % 7) {
    case 0:
        device.loadSettings();
        break;
    case 1:
        device.saveSettings();
        break;
    case 2:
        device.centerRim();
        break;
    case 3:
        device.addProfile();
        break;
    case 4:
        device.removeProfile();
        break;
    case 5:
        device.sendTestForceCommand(float(data[0]));
        break;
    default:
        break;
    }

    fuzzing::forEachReport(data + 1, size - 1, [&](const uint8_t *report) {
        const size_t before = wheel.bus->writeCount();
        device.handleReport(report, 1);
        if (wheel.bus->writeCount() - before > 2)
            fail("one report made the tool send more than two reports");
        if (device.profileCount > maxProfiles)
            fail("profileCount above the table");
        if (device.currentProfile >= maxProfiles)
            fail("currentProfile outside the table");
        // The editor's operations must stay inside the table whatever arrived.
        if (report[1] == 0x5A) {
            device.addProfile();
            device.removeProfile();
            device.centerRim();
            device.saveSettings();
        }
        if (device.profileCount > maxProfiles || device.currentProfile >= maxProfiles)
            fail("an edit left the table");
    });

    // Every profile that went out is one of the table's slots.
    for (const vhid::Report &sent : wheel.bus->writtenReports()) {
        if (sent.size() != 64 || sent[0] != 100 || (sent[1] != 6 && sent[1] != 7))
            continue;
        const int slot = sent[3];
        if (slot >= maxProfiles)
            fail("a profile from outside the table was sent");
    }
    return 0;
}
