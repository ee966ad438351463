// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/BootloaderEmulator.h"

#include <array>
#include <cstring>

namespace emu {

namespace {

constexpr size_t reportSize = 64;
constexpr uint8_t commandReportId = 100;
constexpr uint8_t chunkCommand = 1;
constexpr uint8_t settingsCommand = 3;
constexpr uint8_t resetCommand = 8;
constexpr size_t chunkBytes = 32;
constexpr size_t tailBytes = 16;

// Offsets in a chunk report and in its acknowledgement.
constexpr size_t dataAt = 2;
constexpr size_t currentChunkAt = 34;
constexpr size_t totalChunksAt = 36;
constexpr size_t crcAt = 38;
constexpr size_t hasTailAt = 42;
constexpr size_t tailAt = 43;

int16_t readI16(const uint8_t *p)
{
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

uint32_t readU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

const std::array<uint32_t, 256> &crcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

uint32_t bootloaderCrc(const uint8_t *data, size_t length)
{
    const auto &table = crcTable();
    uint32_t crc = 0xFFFFFFFF;
    for (size_t w = 0; w + 4 <= length; w += 4) {
        // Each little-endian word enters most significant byte first.
        for (int b = 3; b >= 0; --b)
            crc = (crc << 8) ^ table[((crc >> 24) ^ data[w + size_t(b)]) & 0xFF];
    }
    return crc;
}

std::shared_ptr<BootloaderEmulator> BootloaderEmulator::plug(Config config)
{
    auto emulator = std::make_shared<BootloaderEmulator>(Private{}, std::move(config));
    std::weak_ptr<BootloaderEmulator> weak = emulator;
    emulator->device_->setWriteHandler(
        [weak](vhid::VirtualDevice &, const uint8_t *data, size_t length) {
            if (auto self = weak.lock())
                self->onWrite(data, length);
        });
    return emulator;
}

BootloaderEmulator::BootloaderEmulator(Private, Config config) : config_(std::move(config))
{
    vhid::DeviceConfig device;
    device.vendorId = config_.vendorId;
    device.productId = config_.productId;
    device.productString = config_.productString;
    device.path = config_.path;
    device_ = vhid::plug(device);
    device_->setUsbFrameLatency(config_.usbFrameLatency);
}

BootloaderEmulator::~BootloaderEmulator()
{
    device_->setWriteHandler(nullptr);
    device_->unplug();
}

void BootloaderEmulator::unplug()
{
    device_->unplug();
}

std::vector<uint8_t> BootloaderEmulator::image() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return image_;
}

int BootloaderEmulator::totalChunks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return totalChunks_;
}

int BootloaderEmulator::missingChunks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    int missing = 0;
    for (bool got : received_)
        missing += got ? 0 : 1;
    return missing;
}

bool BootloaderEmulator::transferEnded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

#define EMU_COUNTER(name, member)                                                                  \
    int BootloaderEmulator::name() const                                                           \
    {                                                                                              \
        std::lock_guard<std::mutex> lock(mutex_);                                                  \
        return member;                                                                             \
    }
EMU_COUNTER(chunkReports, chunkReports_)
EMU_COUNTER(endReports, endReports_)
EMU_COUNTER(acknowledgements, acknowledgements_)
EMU_COUNTER(crcMismatches, crcMismatches_)
EMU_COUNTER(tailMismatches, tailMismatches_)
EMU_COUNTER(malformedChunks, malformedChunks_)
EMU_COUNTER(settingsRequests, settingsRequests_)
EMU_COUNTER(factoryResets, factoryResets_)
EMU_COUNTER(restarts, restarts_)
#undef EMU_COUNTER

void BootloaderEmulator::dropAcknowledgements(int chunk, int times)
{
    std::lock_guard<std::mutex> lock(mutex_);
    drops_.push_back({chunk, times});
}

void BootloaderEmulator::setAcknowledgementDelay(std::chrono::microseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
}

void BootloaderEmulator::duplicateAcknowledgement(int chunk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    duplicates_.push_back({chunk, 1});
}

void BootloaderEmulator::corruptCrc(int chunk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    corruptions_.push_back({chunk, 1});
}

void BootloaderEmulator::unplugAfterChunk(int chunk)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugs_.push_back({chunk, 1});
}

void BootloaderEmulator::setAcknowledgementFilter(std::function<void(uint8_t *)> filter)
{
    std::lock_guard<std::mutex> lock(mutex_);
    filter_ = std::move(filter);
}

bool BootloaderEmulator::take(std::vector<Fault> &faults, int chunk)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->chunk != -1 && it->chunk != chunk)
            continue;
        if (--it->times <= 0)
            faults.erase(it);
        return true;
    }
    return false;
}

void BootloaderEmulator::onWrite(const uint8_t *data, size_t length)
{
    if (length != reportSize || data[0] != commandReportId)
        return;
    switch (data[1]) {
    case chunkCommand:
        onChunk(data);
        break;
    case settingsCommand:
        onSettings();
        break;
    case resetCommand:
        onReset(data);
        break;
    default:
        break;
    }
}

void BootloaderEmulator::onChunk(const uint8_t *report)
{
    const int index = readI16(report + currentChunkAt);
    const int total = readI16(report + totalChunksAt);

    uint8_t ack[reportSize];
    int copies = 1;
    bool leave = false;
    std::chrono::microseconds delay{0};
    std::function<void(uint8_t *)> filter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (total < 0 || index < 0 || index > total) {
            ++malformedChunks_;
            return;
        }
        if (index == total) {
            // The end report: nothing follows and nothing is answered.
            ++endReports_;
            ended_ = total == totalChunks_;
            return;
        }
        ++chunkReports_;
        if (index == 0 || total != totalChunks_) {
            // A new transfer (or one whose count changed) starts afresh.
            totalChunks_ = total;
            image_.assign(size_t(total) * chunkBytes, 0);
            received_.assign(size_t(total), false);
            ended_ = false;
        }
        const uint8_t *data = report + dataAt;
        if (bootloaderCrc(data, chunkBytes) != readU32(report + crcAt))
            ++crcMismatches_;
        const size_t at = size_t(index) * chunkBytes;
        if (index == 0) {
            static const uint8_t zeros[tailBytes] = {};
            if (report[hasTailAt] != 0 || std::memcmp(report + tailAt, zeros, tailBytes) != 0)
                ++tailMismatches_;
        } else if (report[hasTailAt] != 1 ||
                   (received_[size_t(index) - 1] &&
                    std::memcmp(report + tailAt, &image_[at - tailBytes], tailBytes) != 0)) {
            ++tailMismatches_;
        }
        std::memcpy(&image_[at], data, chunkBytes);
        received_[size_t(index)] = true;

        if (take(unplugs_, index)) {
            leave = true;
        } else {
            if (take(drops_, index))
                return;
            if (take(duplicates_, index))
                copies = 2;
            std::memcpy(ack, report, reportSize);
            ack[0] = config_.replyReportId;
            if (take(corruptions_, index))
                writeU32(ack + crcAt, readU32(ack + crcAt) ^ 0x5A5A5A5Au);
            acknowledgements_ += copies;
            delay = delay_;
            filter = filter_;
        }
    }
    if (leave) {
        device_->unplug();
        return;
    }
    if (filter)
        filter(ack);
    for (int i = 0; i < copies; ++i) {
        if (delay.count() > 0)
            device_->injectAfter(ack, reportSize, delay);
        else
            send(ack);
    }
}

void BootloaderEmulator::onSettings()
{
    uint8_t reply[reportSize] = {};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++settingsRequests_;
    }
    reply[0] = config_.replyReportId;
    reply[1] = settingsCommand;
    writeU32(reply + 3, config_.deviceInfo1);
    reply[7] = uint8_t(config_.deviceInfo2);
    reply[8] = uint8_t(config_.deviceInfo2 >> 8);
    reply[9] = config_.deviceInfo3;
    send(reply);
}

void BootloaderEmulator::onReset(const uint8_t *report)
{
    const bool restart = report[3] == 1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (report[5] == 1)
            ++factoryResets_;
        if (restart)
            ++restarts_;
    }
    if (!restart)
        return;
    device_->unplug();
    if (config_.restartApplication)
        config_.restartApplication();
}

void BootloaderEmulator::send(const uint8_t *report)
{
    device_->inject(report, reportSize);
}

} // namespace emu
