// SPDX-License-Identifier: GPL-3.0-or-later
// An emulated wheel base on the virtual HID bus: it keeps a profile table for
// its whole life, answers every wheel base command as the device does,
// streams joystick reports from a rim position that tests or the demo set,
// and can be told to misbehave in the ways a real device or cable can.
#pragma once

#include "devices/ZudUsbReports.h"
#include "simulator/VirtualHidBus.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace emu {

class WheelBaseEmulator : public std::enable_shared_from_this<WheelBaseEmulator> {
public:
    struct Config {
        vhid::DeviceConfig device{0x0483, 0xA355, L"ZUD Wheel Base", "", 0};
        // Byte 2 of the settings header: 3 is the layout the tool speaks.
        uint8_t settingsVersion = 3;
        // Profiles in the table when plugged in and after a factory reset.
        int factoryProfileCount = 1;
        // Joystick reports per second; 0 streams none.
        int streamRate = 1000;
        // updateKind of the streamed reports: 1 debug, 2 torque, 3 commutation.
        uint8_t updateKind = 1;
        // A debug reply (type 2) after every n-th streamed report; 0: none.
        int debugReplyEvery = 0;
        // Answer CenterRim with byte 2 = 0 and only the count and current index.
        bool shortCenterReply = false;
        // Answer the end of a save with a type 4 reply whose byte 42 is 255.
        bool confirmSaveEnd = false;
        // Called after EnterBootloader has taken the device off the bus.
        std::function<void()> onEnterBootloader;
    };

    static std::shared_ptr<WheelBaseEmulator> plug(Config config);
    static std::shared_ptr<WheelBaseEmulator> plug() { return plug(Config()); }
    ~WheelBaseEmulator();
    WheelBaseEmulator(const WheelBaseEmulator &) = delete;
    WheelBaseEmulator &operator=(const WheelBaseEmulator &) = delete;

    const vhid::DevicePtr &device() const { return device_; }
    bool isPlugged() const { return device_->isPlugged(); }
    void unplug() { device_->unplug(); }

    // The rim's absolute angle in degrees; the streamed axis is this angle
    // relative to the current profile's centre, scaled to its rotation range.
    void setPosition(double degrees) { position_ = degrees; }
    double position() const { return position_; }
    void setUpdateKind(uint8_t kind) { updateKind_ = kind; }
    // Restarts streaming at the new rate; 0 stops it.
    void setStreamRate(int perSecond);
    void setSettingsVersion(uint8_t version);

    // The profile table.
    int profileCount() const;
    int currentProfile() const;
    ZudUsbWheelBaseProfile profile(int slot) const;
    // The first profileCount() slots.
    std::vector<ZudUsbWheelBaseProfile> profiles() const;
    // Replaces the table: profiles go to slots 0.., and set the count.
    void setProfiles(const std::vector<ZudUsbWheelBaseProfile> &profiles, int current);
    // The profile a factory reset puts into slot index.
    static ZudUsbWheelBaseProfile factoryProfile(int index);

    // What the host sent and what the device did.
    std::vector<vhid::Report> commands() const;
    size_t commandCount() const;
    void clearCommands();
    size_t repliesSent() const { return repliesSent_; }
    size_t loadsFinished() const { return loadsFinished_; }
    size_t savesFinished() const { return savesFinished_; }
    int factoryResets() const { return factoryResets_; }
    float lastTestForce() const;
    bool brakeResistorOn() const { return brakeResistorOn_; }

    // Reports on demand: a debug reply (type 2), one joystick report as
    // streamed, and any bytes at all (short or garbage reports).
    void sendDebugReply();
    void sendJoystickReport();
    int injectRaw(const uint8_t *data, size_t length) { return device_->inject(data, length); }
    // count reply reports (report id 101) of random bytes from seed.
    void sendGarbage(int count, uint32_t seed);

    // Faults. Each counts the replies or commands from the moment it is set.
    // The next n replies are lost (the command was carried out).
    void dropReplies(int n);
    // The replies to these commands are lost, counting from 1 at the next
    // command (the commands are carried out).
    void dropRepliesTo(std::set<int> commandNumbers);
    // The next n replies are sent only length bytes long.
    void truncateReplies(int n, size_t length);
    // Every reply is sent this much later (0: at once, from the write).
    void setReplyDelay(std::chrono::microseconds delay);
    // The USB frame model of the bus: one report per direction per 1 ms frame.
    void setUsbFrameLatency(bool enabled) { device_->setUsbFrameLatency(enabled); }
    // The k-th command from now unplugs the device instead of being answered.
    void unplugAtCommand(int k);
    // The count sent in settings headers instead of the real one; -1: real.
    void setReportedProfileCount(int count);
    // Byte 3 (the profile index) of the next reply of type 5, 6 or 7.
    void corruptNextProfileIndex(uint8_t index);
    // Every profile written from now on whose index is slot is stored with
    // the byte at offset within its record replaced by value (a device that
    // keeps something else than it was sent); slot -1 ends the fault.
    void storeByteDifferently(int slot, int offset, uint8_t value);

private:
    explicit WheelBaseEmulator(Config config);
    void onWrite(const uint8_t *data, size_t length);
    // Builds the replies to one command; the lock is held.
    void answer(const uint8_t *command, std::vector<vhid::Report> &replies, bool &enterBootloader);
    void applyProfileIndexFault(vhid::Report &reply);
    void sendReplies(std::vector<vhid::Report> replies, bool dropAll);
    void fillJoystick(uint8_t *report, uint64_t sequence);
    // The torque in percent a game asks for while driving a lap, at a time
    // in seconds: corners, kerbs, road texture.
    static double drivingTorque(double seconds);
    vhid::Report debugReply(uint64_t ticks);
    void resetTable();

    Config config_;
    vhid::DevicePtr device_;

    mutable std::mutex mutex_;
    uint8_t settingsVersion_;
    int profileCount_ = 0;
    int currentProfile_ = 0;
    ZudUsbWheelBaseProfile table_[maxProfiles] = {};
    std::vector<vhid::Report> commands_;
    float lastTestForce_ = 0.0f;
    int dropReplies_ = 0;
    int truncateReplies_ = 0;
    size_t truncateLength_ = 0;
    int unplugAtCommand_ = 0;
    std::set<int> dropRepliesTo_;
    int commandNumber_ = 0;
    int reportedProfileCount_ = -1;
    int corruptIndex_ = -1;
    int alteredSlot_ = -1;
    int alteredOffset_ = 0;
    uint8_t alteredValue_ = 0;
    std::chrono::microseconds replyDelay_{0};

    std::atomic<double> position_{0.0};
    std::atomic<uint8_t> updateKind_;
    std::atomic<bool> brakeResistorOn_{false};
    std::atomic<size_t> repliesSent_{0};
    std::atomic<size_t> loadsFinished_{0};
    std::atomic<size_t> savesFinished_{0};
    std::atomic<int> factoryResets_{0};
    std::atomic<uint64_t> debugTicks_{0};
    // The torque output and the measured torque of kind 2, which follow the
    // requested torque with a lag.
    std::mutex torqueMutex_;
    double torqueOutLag_ = 0.0;
    double torqueActualLag_ = 0.0;
};

} // namespace emu
