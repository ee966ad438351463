// SPDX-License-Identifier: GPL-3.0-or-later
// An emulated wheel base and pedal set that go into their bootloader on
// "Enter Bootloader" and come back as applications when the bootloader is
// told to restart, as the real devices do. The wheel base's profile table
// survives the round trip, as it would in the device's flash.
#pragma once

#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace emu {

class EmulatedRig {
public:
    struct Options {
        bool wheelBase = true;
        bool pedals = true;
        int streamRate = 1000;
        uint8_t updateKind = 1;
        // A debug reply after every n-th streamed wheel base report; 0: none.
        int debugReplyEvery = 0;
        int factoryProfileCount = 3;
        // The wheel base's HID serial number, kept across its bootloader.
        std::wstring wheelBaseSerial = L"ZWB-0001";
    };

    explicit EmulatedRig(Options options);
    EmulatedRig() : EmulatedRig(Options()) {}
    ~EmulatedRig();
    EmulatedRig(const EmulatedRig &) = delete;
    EmulatedRig &operator=(const EmulatedRig &) = delete;

    // The device each part is now; null while it is the other kind.
    std::shared_ptr<WheelBaseEmulator> wheelBase() const;
    std::shared_ptr<PedalsEmulator> pedals() const;
    std::shared_ptr<BootloaderEmulator> wheelBaseBootloader() const;
    std::shared_ptr<BootloaderEmulator> pedalsBootloader() const;

    // Takes every device of the rig off the bus.
    void unplugAll();

private:
    void plugWheelBase(const std::vector<ZudUsbWheelBaseProfile> &profiles, int current);
    void plugPedals();
    void wheelBaseToBootloader();
    void pedalsToBootloader();

    Options options_;
    mutable std::mutex mutex_;
    std::shared_ptr<WheelBaseEmulator> wheelBase_;
    std::shared_ptr<PedalsEmulator> pedals_;
    std::shared_ptr<BootloaderEmulator> wheelBaseBootloader_;
    std::shared_ptr<BootloaderEmulator> pedalsBootloader_;
    // Emulators whose turn is over. A switch is made from inside the old
    // emulator's own write handler, so it is kept alive until the rig goes.
    std::vector<std::shared_ptr<void>> retired_;
};

// Moves a rig as the demos show it: the rim turns slowly back and forth and
// the three pedal axes follow waves of their own, from a thread of its own
// until the object goes.
class DemoMotion {
public:
    explicit DemoMotion(EmulatedRig &rig);
    ~DemoMotion();
    DemoMotion(const DemoMotion &) = delete;
    DemoMotion &operator=(const DemoMotion &) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace emu
