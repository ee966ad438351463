// SPDX-License-Identifier: GPL-3.0-or-later
// An emulated device in bootloader mode on the virtual HID bus. It speaks the
// device side of the firmware update: it acknowledges every chunk with the
// data and the CRC it received, reassembles the image, answers the settings
// request with its device information, counts factory resets, and on a
// restart leaves the bus and hands over to the application (a callback).
//
// The emulator answers from the host's writing thread, inside the write.
// Every method may be called from any thread.
#pragma once

#include "simulator/VirtualHidBus.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace emu {

class BootloaderEmulator : public std::enable_shared_from_this<BootloaderEmulator> {
    struct Private {};

public:
    struct Config {
        uint16_t vendorId = 0x0483;
        uint16_t productId = 0xA355;
        std::wstring productString = L"ZUD Wheel Base Bootloader";
        std::string path; // empty: the bus names it
        // Byte 0 of every answer; the host reads answers by byte 1 only.
        uint8_t replyReportId = 2;
        // Answered to a settings request (bytes 3..6, 7..8, 9).
        uint32_t deviceInfo1 = 0x20240601;
        uint16_t deviceInfo2 = 0x0102;
        uint8_t deviceInfo3 = 3;
        // One report per direction per 1 ms USB frame (see VirtualDevice).
        bool usbFrameLatency = false;
        // Called after a restart into the application has taken this device
        // off the bus, on the host's writing thread.
        std::function<void()> restartApplication;
    };

    // Puts a bootloader on the bus. The emulator lives as long as someone
    // holds the pointer; destroying it takes the device off the bus.
    static std::shared_ptr<BootloaderEmulator> plug(Config config);
    static std::shared_ptr<BootloaderEmulator> plug() { return plug(Config()); }

    BootloaderEmulator(Private, Config config);
    ~BootloaderEmulator();
    BootloaderEmulator(const BootloaderEmulator &) = delete;
    BootloaderEmulator &operator=(const BootloaderEmulator &) = delete;

    const vhid::DevicePtr &device() const { return device_; }
    const Config &config() const { return config_; }
    void unplug();

    // The image of the latest transfer as received: totalChunks x 32 bytes,
    // zero where no chunk has arrived yet.
    std::vector<uint8_t> image() const;
    int totalChunks() const;
    // Chunks of the latest transfer not received yet.
    int missingChunks() const;
    // The end report of the latest transfer has arrived (counts matching).
    bool transferEnded() const;

    int chunkReports() const;     // chunk reports received, repeats included
    int endReports() const;       // end reports received
    int acknowledgements() const; // acknowledgements sent
    int crcMismatches() const;    // chunks whose chunkCrc does not match their data
    int tailMismatches() const;   // chunks whose previousTail does not match the image
    int malformedChunks() const;  // chunk reports with impossible indices or counts
    int settingsRequests() const;
    int factoryResets() const;
    int restarts() const;

    // Fault injection. `chunk` names a chunk index of any transfer; -1 means
    // every chunk. Each fault applies to acknowledgements sent from then on.
    //
    // The next `times` acknowledgements of the chunk are not sent.
    void dropAcknowledgements(int chunk, int times = 1);
    // Every acknowledgement is sent this long after its chunk arrived.
    void setAcknowledgementDelay(std::chrono::microseconds delay);
    // The next acknowledgement of the chunk is sent twice.
    void duplicateAcknowledgement(int chunk);
    // The next acknowledgement of the chunk carries a CRC that does not match
    // its data.
    void corruptCrc(int chunk);
    // The device stores the chunk and leaves the bus without answering.
    void unplugAfterChunk(int chunk);
    // Rewrites every acknowledgement (the 64-byte report) just before it is
    // sent, for answers that no sound bootloader gives.
    void setAcknowledgementFilter(std::function<void(uint8_t *ack)> filter);

private:
    void onWrite(const uint8_t *data, size_t length);
    void onChunk(const uint8_t *report);
    void onSettings();
    void onReset(const uint8_t *report);
    void send(const uint8_t *report);

    struct Fault {
        int chunk;
        int times;
    };
    static bool take(std::vector<Fault> &faults, int chunk);

    Config config_;
    vhid::DevicePtr device_;

    mutable std::mutex mutex_;
    std::vector<uint8_t> image_;
    std::vector<bool> received_;
    int totalChunks_ = 0;
    bool ended_ = false;
    int chunkReports_ = 0;
    int endReports_ = 0;
    int acknowledgements_ = 0;
    int crcMismatches_ = 0;
    int tailMismatches_ = 0;
    int malformedChunks_ = 0;
    int settingsRequests_ = 0;
    int factoryResets_ = 0;
    int restarts_ = 0;

    std::vector<Fault> drops_;
    std::vector<Fault> duplicates_;
    std::vector<Fault> corruptions_;
    std::vector<Fault> unplugs_;
    std::chrono::microseconds delay_{0};
    std::function<void(uint8_t *)> filter_;
};

using BootloaderEmulatorPtr = std::shared_ptr<BootloaderEmulator>;

// The bootloader's own CRC: CRC-32/MPEG-2 over little-endian 32-bit words,
// computed by table, independently of the tool's.
uint32_t bootloaderCrc(const uint8_t *data, size_t length);

} // namespace emu
