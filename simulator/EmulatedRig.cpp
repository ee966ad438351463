#include "simulator/EmulatedRig.h"

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

} // namespace emu
