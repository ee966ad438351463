// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/WheelBaseEmulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace emu {

namespace {

constexpr uint8_t commandReport = 100;
constexpr uint8_t replyReport = 101;
constexpr uint8_t joystickReport = 1;
constexpr uint8_t endOfExchange = 255;
constexpr int recordOffset = 3;
constexpr int countOffset = 42;
constexpr int currentOffset = 43;

vhid::Report newReply(uint8_t type)
{
    vhid::Report reply(zudUsbReportSize, 0);
    reply[0] = replyReport;
    reply[1] = type;
    return reply;
}

// The wheel's fraction of a turn in [-0.5, 0.5).
float turnsOf(double degrees)
{
    double turns = degrees / 360.0;
    turns -= std::floor(turns + 0.5);
    return float(turns);
}

} // namespace

std::shared_ptr<WheelBaseEmulator> WheelBaseEmulator::plug(Config config)
{
    std::shared_ptr<WheelBaseEmulator> emulator(new WheelBaseEmulator(std::move(config)));
    std::weak_ptr<WheelBaseEmulator> weak = emulator;
    emulator->device_->setWriteHandler(
        [weak](vhid::VirtualDevice &, const uint8_t *data, size_t length) {
            if (auto self = weak.lock())
                self->onWrite(data, length);
        });
    emulator->setStreamRate(emulator->config_.streamRate);
    return emulator;
}

WheelBaseEmulator::WheelBaseEmulator(Config config)
    : config_(std::move(config)), device_(vhid::plug(config_.device)),
      settingsVersion_(config_.settingsVersion), updateKind_(config_.updateKind)
{
    resetTable();
}

WheelBaseEmulator::~WheelBaseEmulator()
{
    // The stream thread calls back into this object: end it first.
    device_->stopStreaming();
    device_->setWriteHandler(nullptr);
    device_->unplug();
}

ZudUsbWheelBaseProfile WheelBaseEmulator::factoryProfile(int index)
{
    ZudUsbWheelBaseProfile p{};
    p.index = uint8_t(index);
    char name[zudProfileNameBytes + 1];
    std::snprintf(name, sizeof name, "Factory %d", index);
    std::memcpy(p.name, name, std::strlen(name));
    p.centerOffset = 0.0f;
    p.rotationDegrees = 900;
    p.encoderType = 2;
    p.encoderResolution = 4194304;
    p.maxForce = 70;
    p.smoothing = 1;
    p.damping = 10;
    p.friction = 10;
    p.inertia = 0;
    p.spring = 0;
    p.dampingEffect = 2;
    p.frictionEffect = 2;
    p.inertiaEffect = 2;
    p.springEffect = 1;
    return p;
}

void WheelBaseEmulator::resetTable()
{
    const int count = std::clamp(config_.factoryProfileCount, 1, int(maxProfiles));
    std::memset(table_, 0, sizeof table_);
    for (int i = 0; i < count; ++i)
        table_[i] = factoryProfile(i);
    profileCount_ = count;
    currentProfile_ = 0;
}

void WheelBaseEmulator::setStreamRate(int perSecond)
{
    if (perSecond <= 0) {
        device_->stopStreaming();
        return;
    }
    // The device stops the stream before this object goes away.
    device_->startStreaming(perSecond, [this](uint8_t *report, uint64_t sequence) {
        fillJoystick(report, sequence);
        if (config_.debugReplyEvery > 0 &&
            sequence % uint64_t(config_.debugReplyEvery) == uint64_t(config_.debugReplyEvery - 1))
            sendDebugReply();
    });
}

void WheelBaseEmulator::setSettingsVersion(uint8_t version)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settingsVersion_ = version;
}

int WheelBaseEmulator::profileCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return profileCount_;
}

int WheelBaseEmulator::currentProfile() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return currentProfile_;
}

ZudUsbWheelBaseProfile WheelBaseEmulator::profile(int slot) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot < 0 || slot >= maxProfiles)
        return ZudUsbWheelBaseProfile{};
    return table_[slot];
}

std::vector<ZudUsbWheelBaseProfile> WheelBaseEmulator::profiles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<ZudUsbWheelBaseProfile>(table_, table_ + profileCount_);
}

void WheelBaseEmulator::setProfiles(const std::vector<ZudUsbWheelBaseProfile> &profiles,
                                    int current)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t count = std::min(profiles.size(), size_t(maxProfiles));
    std::copy(profiles.begin(), profiles.begin() + count, table_);
    profileCount_ = int(count);
    currentProfile_ = current;
}

std::vector<vhid::Report> WheelBaseEmulator::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

size_t WheelBaseEmulator::commandCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.size();
}

void WheelBaseEmulator::clearCommands()
{
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
}

float WheelBaseEmulator::lastTestForce() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTestForce_;
}

void WheelBaseEmulator::dropReplies(int n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dropReplies_ = n;
}

void WheelBaseEmulator::dropRepliesTo(std::set<int> commandNumbers)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dropRepliesTo_ = std::move(commandNumbers);
    commandNumber_ = 0;
}

void WheelBaseEmulator::truncateReplies(int n, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    truncateReplies_ = n;
    truncateLength_ = std::min(length, size_t(zudUsbReportSize));
}

void WheelBaseEmulator::setReplyDelay(std::chrono::microseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replyDelay_ = delay;
}

void WheelBaseEmulator::unplugAtCommand(int k)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugAtCommand_ = k;
}

void WheelBaseEmulator::setReportedProfileCount(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    reportedProfileCount_ = count;
}

void WheelBaseEmulator::corruptNextProfileIndex(uint8_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    corruptIndex_ = index;
}

void WheelBaseEmulator::storeByteDifferently(int slot, int offset, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    alteredSlot_ = slot;
    alteredOffset_ = offset;
    alteredValue_ = value;
}

void WheelBaseEmulator::onWrite(const uint8_t *data, size_t length)
{
    // Host writes are whole reports; anything shorter reads as zero-padded.
    uint8_t command[zudUsbReportSize] = {};
    std::memcpy(command, data, std::min(length, size_t(zudUsbReportSize)));

    std::vector<vhid::Report> replies;
    bool enterBootloader = false;
    bool unplugNow = false;
    bool dropAll = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.emplace_back(data, data + length);
        dropAll = dropRepliesTo_.erase(++commandNumber_) > 0;
        if (unplugAtCommand_ > 0 && --unplugAtCommand_ == 0)
            unplugNow = true;
        else if (command[0] == commandReport)
            answer(command, replies, enterBootloader);
    }
    if (unplugNow || enterBootloader) {
        // Unplugging joins the stream thread, which takes the lock: it is
        // released by now.
        device_->unplug();
        if (enterBootloader && config_.onEnterBootloader)
            config_.onEnterBootloader();
        return;
    }
    sendReplies(std::move(replies), dropAll);
}

void WheelBaseEmulator::applyProfileIndexFault(vhid::Report &reply)
{
    if (corruptIndex_ < 0)
        return;
    reply[recordOffset] = uint8_t(corruptIndex_);
    corruptIndex_ = -1;
}

void WheelBaseEmulator::answer(const uint8_t *command, std::vector<vhid::Report> &replies,
                               bool &enterBootloader)
{
    switch (ZudUsbCommand(command[1])) {
    case ZudUsbCommand::EnterBootloader:
        enterBootloader = true;
        break;
    case ZudUsbCommand::Settings: {
        if (command[countOffset] == endOfExchange) {
            ++loadsFinished_;
            break;
        }
        vhid::Report reply = newReply(3);
        auto *header = reinterpret_cast<ZudUsbWheelBaseSettingsHeader *>(reply.data());
        header->settingsVersion = settingsVersion_;
        header->deviceInfo1 = 0x5A554401u; // hardware revision and serial, fixed
        header->deviceInfo2 = 0x0203;
        header->deviceInfo3 = 7;
        std::memcpy(header->deviceInfo4, "ZUD emulated wheel base", 23);
        header->profileCount =
            uint8_t(reportedProfileCount_ >= 0 ? reportedProfileCount_ : profileCount_);
        header->currentProfile = uint8_t(currentProfile_);
        replies.push_back(std::move(reply));
        break;
    }
    case ZudUsbCommand::SaveSettings: {
        if (command[countOffset] == endOfExchange) {
            ++savesFinished_;
            if (config_.confirmSaveEnd) {
                vhid::Report reply = newReply(4);
                reply[countOffset] = endOfExchange;
                replies.push_back(std::move(reply));
            }
            break;
        }
        // The header of a save: the table will hold this many profiles.
        const int count = command[countOffset];
        if (count >= 1 && count <= maxProfiles) {
            profileCount_ = count;
            currentProfile_ = std::min(int(command[currentOffset]), count - 1);
        }
        replies.push_back(newReply(4));
        break;
    }
    case ZudUsbCommand::ReadProfile: {
        const int index = command[recordOffset];
        vhid::Report reply = newReply(5);
        if (index < maxProfiles)
            std::memcpy(reply.data() + recordOffset, &table_[index], sizeof table_[index]);
        reply[recordOffset] = uint8_t(index);
        applyProfileIndexFault(reply);
        replies.push_back(std::move(reply));
        break;
    }
    case ZudUsbCommand::WriteProfile: {
        ZudUsbWheelBaseProfile written;
        std::memcpy(&written, command + recordOffset, sizeof written);
        if (written.index < maxProfiles) {
            table_[written.index] = written;
            if (written.index == alteredSlot_ && alteredOffset_ >= 0 &&
                alteredOffset_ < int(sizeof written))
                reinterpret_cast<uint8_t *>(&table_[written.index])[alteredOffset_] = alteredValue_;
        }
        vhid::Report reply = newReply(6);
        reply[recordOffset] = written.index;
        applyProfileIndexFault(reply);
        replies.push_back(std::move(reply));
        break;
    }
    case ZudUsbCommand::CenterRim: {
        // The profile sent becomes the slot it names, centred where the rim
        // stands now.
        ZudUsbWheelBaseProfile centred;
        std::memcpy(&centred, command + recordOffset, sizeof centred);
        centred.centerOffset = turnsOf(position_);
        if (centred.index < maxProfiles)
            table_[centred.index] = centred;
        vhid::Report reply = newReply(7);
        if (config_.shortCenterReply) {
            reply[2] = 0;
            reply[countOffset] = uint8_t(profileCount_);
            reply[currentOffset] = uint8_t(currentProfile_);
        } else {
            reply[2] = 3;
            std::memcpy(reply.data() + recordOffset, &centred, sizeof centred);
            applyProfileIndexFault(reply);
        }
        replies.push_back(std::move(reply));
        break;
    }
    case ZudUsbCommand::Reset:
        if (command[5] == 1) {
            resetTable();
            ++factoryResets_;
        }
        replies.push_back(newReply(8));
        break;
    case ZudUsbCommand::Test: {
        const uint8_t kind = command[3];
        if (kind == 0) {
            ZudLeF32 force;
            std::memcpy(force.bytes, command + 4, sizeof force.bytes);
            lastTestForce_ = force;
        } else if (kind == 1) {
            brakeResistorOn_ = true;
        } else if (kind == 2) {
            brakeResistorOn_ = false;
        }
        // The test reply carries the test as the device took it.
        vhid::Report reply = newReply(9);
        std::memcpy(reply.data() + 3, command + 3, zudUsbReportSize - 3);
        replies.push_back(std::move(reply));
        break;
    }
    default:
        break; // a real wheel base ignores what it does not know
    }
}

void WheelBaseEmulator::sendReplies(std::vector<vhid::Report> replies, bool dropAll)
{
    if (dropAll)
        return;
    for (vhid::Report &reply : replies) {
        std::chrono::microseconds delay{0};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (dropReplies_ > 0) {
                --dropReplies_;
                continue;
            }
            if (truncateReplies_ > 0) {
                --truncateReplies_;
                reply.resize(truncateLength_);
            }
            delay = replyDelay_;
        }
        ++repliesSent_;
        if (delay.count() > 0)
            device_->injectAfter(reply, delay);
        else
            device_->inject(reply);
    }
}

vhid::Report WheelBaseEmulator::debugReply(uint64_t ticks)
{
    vhid::Report reply = newReply(2);
    auto *out = reinterpret_cast<ZudUsbWheelBaseDebugOutput *>(reply.data() + 3);
    const double degrees = position_;
    out->ticks = uint32_t(ticks);
    out->motorState = 4; // Running
    out->encoderState = 0;
    out->motorAngle = float(degrees);
    out->encoderRaw = int32_t(std::lround(degrees / 360.0 * 4194304.0));
    out->ffbIn = 0.0f;
    out->ffbOut = 0.0f;
    out->bisscRaw = 0;
    out->currentFaults = 0;
    out->clearedFaults = 0;
    return reply;
}

void WheelBaseEmulator::sendDebugReply()
{
    const vhid::Report reply = debugReply(++debugTicks_);
    device_->inject(reply);
}

void WheelBaseEmulator::sendJoystickReport()
{
    uint8_t report[zudUsbReportSize] = {};
    fillJoystick(report, debugTicks_++);
    device_->inject(report, sizeof report);
}

void WheelBaseEmulator::sendGarbage(int count, uint32_t seed)
{
    std::mt19937 random(seed);
    for (int i = 0; i < count; ++i) {
        uint8_t report[zudUsbReportSize];
        for (uint8_t &byte : report)
            byte = uint8_t(random());
        report[0] = replyReport;
        device_->inject(report, sizeof report);
    }
}

double WheelBaseEmulator::drivingTorque(double seconds)
{
    // A 20 s lap: corners of different strength and direction (two of them
    // ask for more than the motor has), a kerb at each corner's exit and
    // the texture of the road.
    struct Corner {
        double at, length, peak;
    };
    static const Corner corners[] = {{1.0, 2.5, 70.0},   {4.5, 1.5, -108.0}, {7.5, 3.0, 55.0},
                                     {11.5, 1.2, -85.0}, {14.0, 2.0, 115.0}, {17.5, 1.5, -45.0}};
    const double lap = std::fmod(seconds, 20.0);
    double torque = 0.0;
    for (const Corner &c : corners) {
        const double into = lap - c.at;
        if (into >= 0.0 && into <= c.length) {
            const double s = std::sin(M_PI * into / c.length);
            torque += c.peak * s * s;
        }
        const double kerb = into - 0.8 * c.length;
        if (kerb >= 0.0 && kerb < 0.35)
            torque += (c.peak > 0 ? 1.0 : -1.0) * 22.0 * std::sin(2 * M_PI * 28.0 * kerb);
    }
    torque +=
        3.0 * std::sin(2 * M_PI * 47.0 * seconds) + 2.0 * std::sin(2 * M_PI * 91.0 * seconds + 1.0);
    return torque;
}

void WheelBaseEmulator::fillJoystick(uint8_t *report, uint64_t sequence)
{
    float centre;
    int rotation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const ZudUsbWheelBaseProfile &current = table_[std::clamp(currentProfile_, 0, 99)];
        centre = current.centerOffset;
        rotation = current.rotationDegrees;
    }
    if (rotation <= 0)
        rotation = 900;
    const double degrees = position_;
    const double relative = degrees - double(centre) * 360.0;
    const double scaled = std::clamp(relative / (rotation / 2.0) * 32768.0, -32768.0, 32767.0);

    report[0] = joystickReport;
    auto *update = reinterpret_cast<ZudUsbWheelBaseJoystickUpdate *>(report + 1);
    update->axisValue = int16_t(std::lround(scaled));
    const uint8_t kind = updateKind_;
    update->updateKind = kind;
    const double phase = double(sequence) * 0.01;
    if (kind == 1) {
        ZudUsbWheelBaseDebugOutput &out = update->debug;
        out.ticks = uint32_t(sequence);
        out.motorState = 4;
        out.encoderState = 0;
        out.motorAngle = float(degrees);
        out.encoderRaw = int32_t(std::lround(degrees / 360.0 * 4194304.0));
        out.ffbIn = float(std::sin(phase) * 0.25);
        out.ffbOut = float(std::sin(phase) * 0.2);
        out.bisscRaw = 0;
        out.currentFaults = 0;
        out.clearedFaults = 0;
    } else if (kind == 2) {
        // Eleven samples of the motor's torque loop per report: the torque
        // the game asks for (held for the report), the output following it
        // with a short lag and clipping at full scale, and the torque
        // measured, lagging a little more.
        ZudUsbWheelBaseTorqueSamples &torque = update->torque;
        const double reportSeconds = double(sequence) * 0.001;
        const double requested = drivingTorque(reportSeconds);
        torque.torqueIn = int16_t(std::lround(std::clamp(requested, -300.0, 300.0) * 100.0));
        torque.torqueInSample = 0;
        torque.sampleCount = zudMaxTorqueSamples;
        const double sampleSeconds = 0.001 / zudMaxTorqueSamples;
        std::lock_guard<std::mutex> lagLock(torqueMutex_);
        for (int i = 0; i < zudMaxTorqueSamples; ++i) {
            const double target = std::clamp(requested, -100.0, 100.0);
            torqueOutLag_ += (target - torqueOutLag_) * sampleSeconds / (0.004 + sampleSeconds);
            torqueActualLag_ +=
                (0.97 * torqueOutLag_ - torqueActualLag_) * sampleSeconds / (0.002 + sampleSeconds);
            const double ripple =
                0.6 * std::sin(2 * M_PI * 900.0 * (reportSeconds + double(i) * sampleSeconds));
            torque.torqueOut[i] = int16_t(std::lround(torqueOutLag_ * 100.0));
            torque.torqueActual[i] = int16_t(std::lround((torqueActualLag_ + ripple) * 100.0));
        }
        torque.rotorPos = float(degrees / 360.0);
    } else if (kind == 3) {
        ZudUsbWheelBaseCommutation &c = update->commutation;
        const double mech = degrees * M_PI / 180.0;
        const double el = mech * 4.0; // four pole pairs
        c.ticks = uint32_t(sequence);
        c.mechAngle = float(mech);
        c.elAngle = float(el);
        c.elAngleEncoder = float(el);
        c.pwmU = float(0.5 + 0.4 * std::sin(el));
        c.pwmV = float(0.5 + 0.4 * std::sin(el - 2.0 * M_PI / 3.0));
        c.pwmW = float(0.5 + 0.4 * std::sin(el + 2.0 * M_PI / 3.0));
        c.hallU = float(std::sin(el));
        c.hallV = float(std::sin(el - 2.0 * M_PI / 3.0));
        c.hallPsu = 24.0f;
    }
}

} // namespace emu
