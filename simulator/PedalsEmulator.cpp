// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/PedalsEmulator.h"

#include <algorithm>

namespace emu {

namespace {
constexpr uint8_t commandReport = 100;
constexpr uint8_t joystickReport = 1;
constexpr uint8_t enterBootloaderCode = 1;
constexpr size_t reportSize = 64;
} // namespace

std::shared_ptr<PedalsEmulator> PedalsEmulator::plug(Config config)
{
    std::shared_ptr<PedalsEmulator> emulator(new PedalsEmulator(std::move(config)));
    std::weak_ptr<PedalsEmulator> weak = emulator;
    emulator->device_->setWriteHandler(
        [weak](vhid::VirtualDevice &, const uint8_t *data, size_t length) {
            if (auto self = weak.lock())
                self->onWrite(data, length);
        });
    emulator->setStreamRate(emulator->config_.streamRate);
    return emulator;
}

PedalsEmulator::PedalsEmulator(Config config)
    : config_(std::move(config)), device_(vhid::plug(config_.device))
{
}

PedalsEmulator::~PedalsEmulator()
{
    device_->stopStreaming();
    device_->setWriteHandler(nullptr);
    device_->unplug();
}

void PedalsEmulator::setAxes(uint16_t x, uint16_t y, uint16_t z)
{
    axes_ = uint64_t(x) | uint64_t(y) << 16 | uint64_t(z) << 32;
}

PedalsEmulator::Axes PedalsEmulator::axes() const
{
    const uint64_t packed = axes_;
    return Axes{uint16_t(packed), uint16_t(packed >> 16), uint16_t(packed >> 32)};
}

void PedalsEmulator::fill(uint8_t *report) const
{
    const Axes a = axes();
    report[0] = joystickReport;
    const uint16_t values[3] = {a.x, a.y, a.z};
    for (int i = 0; i < 3; ++i) {
        report[1 + 2 * i] = uint8_t(values[i]);
        report[2 + 2 * i] = uint8_t(values[i] >> 8);
    }
}

void PedalsEmulator::setStreamRate(int perSecond)
{
    if (perSecond <= 0) {
        device_->stopStreaming();
        return;
    }
    // The device stops the stream before this object goes away.
    device_->startStreaming(perSecond, [this](uint8_t *report, uint64_t) { fill(report); });
}

void PedalsEmulator::sendJoystickReport()
{
    uint8_t report[reportSize] = {};
    fill(report);
    device_->inject(report, sizeof report);
}

std::vector<vhid::Report> PedalsEmulator::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

size_t PedalsEmulator::commandCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.size();
}

void PedalsEmulator::dropCommands(int n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dropCommands_ = n;
}

void PedalsEmulator::unplugAtCommand(int k)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugAtCommand_ = k;
}

void PedalsEmulator::onWrite(const uint8_t *data, size_t length)
{
    bool enterBootloader = false;
    bool unplugNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.emplace_back(data, data + length);
        if (dropCommands_ > 0) {
            --dropCommands_;
            return;
        }
        if (unplugAtCommand_ > 0 && --unplugAtCommand_ == 0)
            unplugNow = true;
        else if (length >= 2 && data[0] == commandReport && data[1] == enterBootloaderCode)
            enterBootloader = true;
    }
    if (!unplugNow && !enterBootloader)
        return; // the pedals know no other command
    device_->unplug();
    if (enterBootloader && config_.onEnterBootloader)
        config_.onEnterBootloader();
}

} // namespace emu
