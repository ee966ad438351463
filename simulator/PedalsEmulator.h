// SPDX-License-Identifier: GPL-3.0-or-later
// An emulated pedal set on the virtual HID bus: it streams its three axes
// and answers EnterBootloader by leaving the bus.
#pragma once

#include "simulator/VirtualHidBus.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace emu {

class PedalsEmulator : public std::enable_shared_from_this<PedalsEmulator> {
public:
    struct Config {
        vhid::DeviceConfig device{0x0483, 0xA112, L"ZUD Pedals", "", 0};
        // Joystick reports per second; 0 streams none.
        int streamRate = 1000;
        // Called after EnterBootloader has taken the device off the bus.
        std::function<void()> onEnterBootloader;
    };

    struct Axes {
        uint16_t x = 0;
        uint16_t y = 0;
        uint16_t z = 0;
    };

    static std::shared_ptr<PedalsEmulator> plug(Config config);
    static std::shared_ptr<PedalsEmulator> plug() { return plug(Config()); }
    ~PedalsEmulator();
    PedalsEmulator(const PedalsEmulator &) = delete;
    PedalsEmulator &operator=(const PedalsEmulator &) = delete;

    const vhid::DevicePtr &device() const { return device_; }
    bool isPlugged() const { return device_->isPlugged(); }
    void unplug() { device_->unplug(); }

    // The axes the next streamed report carries (any thread).
    void setAxes(uint16_t x, uint16_t y, uint16_t z);
    Axes axes() const;
    // Restarts streaming at the new rate; 0 stops it.
    void setStreamRate(int perSecond);

    std::vector<vhid::Report> commands() const;
    size_t commandCount() const;

    // One joystick report as streamed, and any bytes at all.
    void sendJoystickReport();
    int injectRaw(const uint8_t *data, size_t length) { return device_->inject(data, length); }

    // Faults: the next n commands are lost on the way; the k-th command
    // from now unplugs the pedals instead of being carried out.
    void dropCommands(int n);
    void unplugAtCommand(int k);

private:
    explicit PedalsEmulator(Config config);
    void onWrite(const uint8_t *data, size_t length);
    void fill(uint8_t *report) const;

    Config config_;
    vhid::DevicePtr device_;
    std::atomic<uint64_t> axes_{0}; // x | y << 16 | z << 32

    mutable std::mutex mutex_;
    std::vector<vhid::Report> commands_;
    int dropCommands_ = 0;
    int unplugAtCommand_ = 0;
};

} // namespace emu
