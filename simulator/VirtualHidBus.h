// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual HID bus: hidapi's functions over in-process devices, so that
// the tool, its tests and its demo run without hardware. Each open handle of
// a virtual device has its own SOCK_SEQPACKET socket pair; the host end is
// the handle's read descriptor, read by the same split-phase code that reads
// a hidraw node, and every input report goes to every open handle, as hidraw
// does. Unplugging closes the device ends, which the host sees as a hang-up.
//
// Everything here may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct hid_device_;

namespace vhid {

struct DeviceConfig {
    uint16_t vendorId = 0x0483;
    uint16_t productId = 0xA355;
    std::wstring productString;
    std::string path; // empty: the bus names it
    int interfaceNumber = 0;
    std::wstring serialNumber = std::wstring(); // empty: the device has none
};

using Report = std::vector<uint8_t>;

class VirtualDevice : public std::enable_shared_from_this<VirtualDevice> {
public:
    // Called on the writing thread after a write has been accepted, with no
    // lock of the bus held: the handler may inject, unplug and plug.
    using WriteHandler =
        std::function<void(VirtualDevice &device, const uint8_t *data, size_t length)>;
    // Fills one streamed 64-byte report; sequence counts from 0.
    using StreamFill = std::function<void(uint8_t *report, uint64_t sequence)>;

    explicit VirtualDevice(DeviceConfig config);
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice &) = delete;
    VirtualDevice &operator=(const VirtualDevice &) = delete;

    const DeviceConfig &config() const { return config_; }
    const std::string &path() const { return config_.path; }

    void setOpenFails(bool fails) { openFails_ = fails; }
    void setWriteFails(bool fails) { writeFails_ = fails; }
    // The next `count` writes fail, then writes go through again.
    void failNextWrites(int count) { writesToFail_ = count; }
    void setProductStringFails(bool fails) { productStringFails_ = fails; }
    bool productStringFails() const { return productStringFails_; }
    void setWriteHandler(WriteHandler handler);
    // The writes that pick() chooses fail, as with setWriteFails; empty:
    // none. Called on the writing thread with the device's lock held, so it
    // must not call back into the device.
    using WritePicker = std::function<bool(const uint8_t *data, size_t length)>;
    void setFailingWrites(WritePicker pick);

    // Sends one input report to every open handle. Returns how many handles
    // received it; a handle whose queue is full drops it (counted).
    int inject(const uint8_t *data, size_t length);
    int inject(const Report &report) { return inject(report.data(), report.size()); }
    // Sends the report after delay, from a thread of the bus (as inject()).
    // Reports due at the same time keep the order they were posted in.
    void injectAfter(const uint8_t *data, size_t length, std::chrono::microseconds delay);
    void injectAfter(const Report &report, std::chrono::microseconds delay)
    {
        injectAfter(report.data(), report.size(), delay);
    }

    // USB full-speed interrupt transfers: one 64-byte report per direction
    // per 1 ms frame. With the model on, a write returns (and reaches the
    // write handler) at the first frame boundary after it was issued that no
    // earlier write holds, and an input report becomes readable at the first
    // free frame boundary after it was sent. An exchange that waits for each
    // answer therefore takes two frames: at most 500 per second.
    void setUsbFrameLatency(bool enabled) { frameLatency_ = enabled; }
    bool usbFrameLatency() const { return frameLatency_; }
    // Frames the model lost to threads that woke after their frame, which a
    // busy machine causes and the host's code does not: the bus's delivery
    // thread making input reports readable late, and writers returning from
    // a write late. Counted since the device was plugged.
    uint64_t lateDeliveryFrames() const { return lateDeliveryFrames_; }
    uint64_t lateWriteFrames() const { return lateWriteFrames_; }

    // Reports the host wrote successfully, oldest first (the newest 65536).
    std::vector<Report> writtenReports() const;
    size_t writeCount() const { return writeCount_; }
    size_t failedWriteCount() const { return failedWrites_; }
    void clearWritten();

    int openHandleCount() const;
    int totalOpens() const { return totalOpens_; }
    int failedOpens() const { return failedOpens_; }
    uint64_t droppedReports() const { return dropped_; }
    uint64_t injectedReports() const { return injected_; }
    bool isPlugged() const { return plugged_; }

    // Streams reports at ratePerSecond from a thread of the bus until
    // stopStreaming() or unplug().
    void startStreaming(int ratePerSecond, StreamFill fill);
    void stopStreaming();
    uint64_t streamedReports() const { return streamed_; }

    // Takes the device off the bus: open handles hang up, writes fail.
    void unplug();

private:
    friend struct BusAccess;
    friend class Scheduler;
    int injectNow(const uint8_t *data, size_t length);
    // The frame boundary a transfer issued now completes at, taking the
    // direction's next free frame.
    std::chrono::steady_clock::time_point takeFrame(int64_t &lastFrame);
    // Whole frames between the frame boundary due and now.
    static uint64_t framesLate(std::chrono::steady_clock::time_point due);

    std::atomic<bool> frameLatency_{false};
    int64_t lastOutFrame_ = -1;
    int64_t lastInFrame_ = -1;
    std::atomic<uint64_t> lateDeliveryFrames_{0};
    std::atomic<uint64_t> lateWriteFrames_{0};
    DeviceConfig config_;
    std::atomic<bool> openFails_{false};
    std::atomic<bool> writeFails_{false};
    std::atomic<int> writesToFail_{0};
    std::atomic<bool> productStringFails_{false};
    std::atomic<bool> plugged_{true};
    std::atomic<size_t> writeCount_{0};
    std::atomic<size_t> failedWrites_{0};
    std::atomic<int> totalOpens_{0};
    std::atomic<int> failedOpens_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> injected_{0};
    std::atomic<uint64_t> streamed_{0};

    mutable std::mutex mutex_;
    std::vector<hid_device_ *> handles_;
    std::vector<Report> written_;
    WriteHandler writeHandler_;
    WritePicker failingWrites_;

    std::mutex streamMutex_;
    std::thread streamThread_;
    std::atomic<bool> streamStop_{false};
};

using DevicePtr = std::shared_ptr<VirtualDevice>;

// Puts a device on the bus; it is enumerable at once.
DevicePtr plug(DeviceConfig config);
// Unplugs every device on the bus.
void unplugAll();
// The devices on the bus, in the order plugged.
std::vector<DevicePtr> devices();
DevicePtr findByPath(const std::string &path);

// How often the host called hid_init / hid_exit / hid_enumerate.
int initCount();
int exitCount();
int enumerateCount();

} // namespace vhid
