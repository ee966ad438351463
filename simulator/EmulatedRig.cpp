// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/EmulatedRig.h"

#include <chrono>
#include <cmath>

namespace emu {

EmulatedRig::EmulatedRig(Options options) : options_(options)
{
    if (options_.wheelBase)
        plugWheelBase({}, 0);
    if (options_.pedals)
        plugPedals();
}

EmulatedRig::~EmulatedRig()
{
    unplugAll();
}

void EmulatedRig::unplugAll()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (wheelBase_)
        wheelBase_->unplug();
    if (pedals_)
        pedals_->unplug();
    if (wheelBaseBootloader_)
        wheelBaseBootloader_->device()->unplug();
    if (pedalsBootloader_)
        pedalsBootloader_->device()->unplug();
}

std::shared_ptr<WheelBaseEmulator> EmulatedRig::wheelBase() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return wheelBase_;
}

std::shared_ptr<PedalsEmulator> EmulatedRig::pedals() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pedals_;
}

std::shared_ptr<BootloaderEmulator> EmulatedRig::wheelBaseBootloader() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return wheelBaseBootloader_;
}

std::shared_ptr<BootloaderEmulator> EmulatedRig::pedalsBootloader() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pedalsBootloader_;
}

void EmulatedRig::plugWheelBase(const std::vector<ZudUsbWheelBaseProfile> &profiles, int current)
{
    WheelBaseEmulator::Config config;
    config.streamRate = options_.streamRate;
    config.updateKind = options_.updateKind;
    config.debugReplyEvery = options_.debugReplyEvery;
    config.factoryProfileCount = options_.factoryProfileCount;
    config.device.serialNumber = options_.wheelBaseSerial;
    config.onEnterBootloader = [this] { wheelBaseToBootloader(); };
    auto wheel = WheelBaseEmulator::plug(config);
    if (!profiles.empty())
        wheel->setProfiles(profiles, current);
    std::lock_guard<std::mutex> lock(mutex_);
    if (wheelBase_)
        retired_.push_back(wheelBase_);
    wheelBase_ = wheel;
}

void EmulatedRig::plugPedals()
{
    PedalsEmulator::Config config;
    config.streamRate = options_.streamRate;
    config.onEnterBootloader = [this] { pedalsToBootloader(); };
    auto pedals = PedalsEmulator::plug(config);
    std::lock_guard<std::mutex> lock(mutex_);
    if (pedals_)
        retired_.push_back(pedals_);
    pedals_ = pedals;
}

void EmulatedRig::wheelBaseToBootloader()
{
    std::vector<ZudUsbWheelBaseProfile> profiles;
    int current = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!wheelBase_)
            return;
        profiles = wheelBase_->profiles();
        current = wheelBase_->currentProfile();
        retired_.push_back(wheelBase_);
        wheelBase_.reset();
    }
    BootloaderEmulator::Config config;
    config.productString = L"ZUD Wheel Base Bootloader";
    config.restartApplication = [this, profiles, current] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (wheelBaseBootloader_)
                retired_.push_back(wheelBaseBootloader_);
            wheelBaseBootloader_.reset();
        }
        plugWheelBase(profiles, current);
    };
    auto bootloader = BootloaderEmulator::plug(config);
    std::lock_guard<std::mutex> lock(mutex_);
    wheelBaseBootloader_ = bootloader;
}

void EmulatedRig::pedalsToBootloader()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pedals_)
            return;
        retired_.push_back(pedals_);
        pedals_.reset();
    }
    BootloaderEmulator::Config config;
    config.productString = L"ZUD Pedals Bootloader";
    config.restartApplication = [this] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (pedalsBootloader_)
                retired_.push_back(pedalsBootloader_);
            pedalsBootloader_.reset();
        }
        plugPedals();
    };
    auto bootloader = BootloaderEmulator::plug(config);
    std::lock_guard<std::mutex> lock(mutex_);
    pedalsBootloader_ = bootloader;
}

DemoMotion::DemoMotion(EmulatedRig &rig)
    : thread_([this, &rig] {
          const auto start = std::chrono::steady_clock::now();
          while (!stop_) {
              const double t =
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
              if (auto wheel = rig.wheelBase())
                  wheel->setPosition(120.0 * std::sin(2 * M_PI * t / 8.0));
              if (auto pedals = rig.pedals()) {
                  const auto wave = [t](double period, double phase) {
                      return uint16_t(32767.5 + 32767.5 * std::sin(2 * M_PI * t / period + phase));
                  };
                  pedals->setAxes(wave(3.0, 0), wave(4.0, 1.0), wave(5.0, 2.0));
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
      })
{
}

DemoMotion::~DemoMotion()
{
    stop_ = true;
    thread_.join();
}

} // namespace emu
