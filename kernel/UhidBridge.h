// SPDX-License-Identifier: GPL-3.0-or-later
// Mirrors the in-process virtual HID bus onto the kernel through uhid: every
// device on the virtual bus gets a twin uhid device (same vendor id, product
// id and product string) that the kernel exposes as a hidraw node. The bridge
// opens each virtual device as a host would, so the device emulators that
// speak over the virtual bus run unchanged:
//
//   kernel -> UHID_OUTPUT           -> hid_write on the virtual handle
//   virtual handle's input reports  -> UHID_INPUT2 -> every open hidraw file
//   virtual device hangs up         -> UHID_DESTROY
//
// A device that unplugs itself and plugs another (a wheel base entering its
// bootloader) is therefore seen by the kernel as one device leaving and a new
// one arriving. Everything runs on the thread that calls poll(), except the
// optional streaming threads, which write input reports to their uhid device
// directly.
#pragma once

#include "simulator/VirtualHidBus.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct hid_device_;

namespace uhidbridge {

// Vendor-defined reports: input reports 1 and 101, output report 100, each
// 63 bytes after its report id, as the tool exchanges them.
std::vector<uint8_t> reportDescriptor();

// The hidraw node (such as "/dev/hidraw3") of the HID device whose unique
// id is `uniq`, looked up in sysfs under sysRoot; empty when none exists.
std::string findHidrawNode(const std::string &uniq, const std::string &sysRoot = "/sys");

struct MirrorStats {
    uint64_t inputs = 0;        // reports passed from the virtual device to uhid
    uint64_t outputs = 0;       // output reports passed from uhid to the device
    uint64_t failedOutputs = 0; // of those, writes the virtual device refused
    uint64_t streamed = 0;      // reports sent by the streaming thread
    uint64_t opens = 0;         // UHID_OPEN events: the hidraw node was opened
    uint64_t closes = 0;        // UHID_CLOSE events
};

class Bridge {
public:
    // Announcements, one line each without line end:
    //   "plugged <tag> <vid>:<pid> <hidraw node> <product string>"
    //   "unplugged <tag> <hidraw node>"
    //   "warning <text>"
    using Announce = std::function<void(const std::string &line)>;

    Bridge(std::string uhidPath, std::string sysRoot, Announce announce);
    ~Bridge(); // destroys every uhid device it created
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    // Gives every virtual device without a twin its uhid device (waiting
    // until its hidraw node exists) and destroys the twins of devices that
    // left the bus. Returns false when a twin could not be created; the
    // reason has been announced as a warning, once: that device is not
    // tried again.
    bool sync();

    // Serves uhid events and virtual input reports for up to timeoutMs.
    // Returns true as soon as extraFd (if >= 0) is readable.
    bool poll(int extraFd, int timeoutMs);

    std::vector<int> tags() const;
    bool has(int tag) const;
    // The tag of the twin of the virtual device at `path`, or -1.
    int tagFor(const std::string &path) const;
    // The virtual device behind a twin; null when the tag is unknown.
    vhid::DevicePtr device(int tag) const;
    std::string hidrawNode(int tag) const;
    // The path of the virtual device behind a twin; empty when unknown.
    std::string virtualPath(int tag) const;
    MirrorStats stats(int tag) const;

    // Streams joystick reports (report id 1, sequence number in bytes 3..6,
    // the wall-clock send time in microseconds in bytes 9..16) straight into
    // the twin's uhid device at ratePerSecond; 0 stops. `count` > 0 stops
    // after that many reports.
    bool stream(int tag, int ratePerSecond, uint64_t count = 0);

private:
    struct Mirror;
    bool create(const vhid::DevicePtr &device);
    void destroy(Mirror &mirror);
    bool serveUhid(Mirror &mirror);
    bool serveInput(Mirror &mirror);
    bool writeEvent(Mirror &mirror, const void *event, size_t size);
    Mirror *find(int tag) const;

    std::string uhidPath_;
    std::string sysRoot_;
    Announce announce_;
    std::vector<std::unique_ptr<Mirror>> mirrors_;
    std::vector<std::string> refused_; // virtual paths that got no twin
    int nextTag_ = 1;
    bool inSync_ = false;
};

} // namespace uhidbridge
