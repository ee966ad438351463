// SPDX-License-Identifier: GPL-3.0-or-later
#include "kernel/UhidBridge.h"

#include "transport/HidSplitRead.h"

#include <hidapi.h>
#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace uhidbridge {

namespace {

constexpr uint16_t kBusUsb = 0x03;
constexpr int kReadyTimeoutMs = 20000; // an emulated machine can be slow

std::string utf8(const std::wstring &text)
{
    std::string out;
    for (wchar_t wc : text) {
        const uint32_t c = uint32_t(wc);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Copies text into a fixed, NUL-terminated field of the create request.
void copyField(uint8_t *field, size_t size, const std::string &text)
{
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

uint64_t wallClockMicros()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

int pollOne(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 ? p.revents : 0;
}

} // namespace

std::vector<uint8_t> reportDescriptor()
{
    return {
        0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x3F,       //   Report Count (63)
        0x85, 0x01,       //   Report ID (1): joystick state
        0x09, 0x01,       //   Usage (1)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x85, 0x65,       //   Report ID (101): replies
        0x09, 0x02,       //   Usage (2)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x85, 0x64,       //   Report ID (100): commands
        0x09, 0x03,       //   Usage (3)
        0x91, 0x02,       //   Output (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
}

std::string findHidrawNode(const std::string &uniq, const std::string &sysRoot)
{
    const std::string classDir = sysRoot + "/class/hidraw";
    DIR *dir = ::opendir(classDir.c_str());
    if (!dir)
        return std::string();
    std::string found;
    while (dirent *entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, "hidraw", 6) != 0)
            continue;
        std::ifstream uevent(classDir + "/" + entry->d_name + "/device/uevent");
        std::string line;
        while (std::getline(uevent, line)) {
            if (line == "HID_UNIQ=" + uniq) {
                found = std::string("/dev/") + entry->d_name;
                break;
            }
        }
        if (!found.empty())
            break;
    }
    ::closedir(dir);
    return found;
}

struct Bridge::Mirror {
    int tag = 0;
    std::weak_ptr<vhid::VirtualDevice> device;
    std::string path; // on the virtual bus
    hid_device *host = nullptr;
    int uhidFd = -1;
    std::string uniq;
    std::string node;
    bool lost = false; // the virtual handle hung up
    MirrorStats stats;
    std::atomic<uint64_t> streamed{0};
    std::atomic<bool> streamStop{false};
    std::thread streamThread;

    void stopStreaming()
    {
        streamStop = true;
        if (streamThread.joinable())
            streamThread.join();
    }
};

Bridge::Bridge(std::string uhidPath, std::string sysRoot, Announce announce)
    : uhidPath_(std::move(uhidPath)), sysRoot_(std::move(sysRoot)), announce_(std::move(announce))
{
}

Bridge::~Bridge()
{
    for (auto &m : mirrors_)
        destroy(*m);
    mirrors_.clear();
}

Bridge::Mirror *Bridge::find(int tag) const
{
    for (const auto &m : mirrors_)
        if (m->tag == tag)
            return m.get();
    return nullptr;
}

std::vector<int> Bridge::tags() const
{
    std::vector<int> out;
    for (const auto &m : mirrors_)
        out.push_back(m->tag);
    return out;
}

bool Bridge::has(int tag) const
{
    return find(tag) != nullptr;
}

int Bridge::tagFor(const std::string &path) const
{
    for (const auto &m : mirrors_)
        if (m->path == path)
            return m->tag;
    return -1;
}

vhid::DevicePtr Bridge::device(int tag) const
{
    Mirror *m = find(tag);
    return m ? m->device.lock() : nullptr;
}

std::string Bridge::hidrawNode(int tag) const
{
    Mirror *m = find(tag);
    return m ? m->node : std::string();
}

std::string Bridge::virtualPath(int tag) const
{
    Mirror *m = find(tag);
    return m ? m->path : std::string();
}

MirrorStats Bridge::stats(int tag) const
{
    Mirror *m = find(tag);
    if (!m)
        return MirrorStats();
    MirrorStats s = m->stats;
    s.streamed = m->streamed;
    return s;
}

bool Bridge::writeEvent(Mirror &mirror, const void *event, size_t size)
{
    ssize_t r;
    do {
        r = ::write(mirror.uhidFd, event, size);
    } while (r < 0 && errno == EINTR);
    return r == ssize_t(size);
}

bool Bridge::sync()
{
    if (inSync_)
        return true;
    inSync_ = true;
    // Departures first, so that a device that replaced itself is seen
    // leaving before its successor arrives.
    for (auto it = mirrors_.begin(); it != mirrors_.end();) {
        Mirror &m = **it;
        vhid::DevicePtr d = m.device.lock();
        if (m.lost || !d || !d->isPlugged()) {
            destroy(m);
            it = mirrors_.erase(it);
        } else {
            ++it;
        }
    }
    bool ok = true;
    for (const vhid::DevicePtr &d : vhid::devices()) {
        if (tagFor(d->path()) >= 0 ||
            std::find(refused_.begin(), refused_.end(), d->path()) != refused_.end())
            continue;
        if (!create(d)) {
            refused_.push_back(d->path());
            ok = false;
        }
    }
    inSync_ = false;
    return ok;
}

bool Bridge::create(const vhid::DevicePtr &device)
{
    const vhid::DeviceConfig &config = device->config();
    auto m = std::make_unique<Mirror>();
    m->tag = nextTag_;
    m->device = device;
    m->path = device->path();
    m->host = hid_open_path(m->path.c_str());
    if (!m->host) {
        announce_("warning cannot open virtual device " + m->path);
        return false;
    }
    m->uhidFd = ::open(uhidPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (m->uhidFd < 0) {
        announce_("warning cannot open " + uhidPath_ + ": " + std::strerror(errno));
        hid_close(m->host);
        return false;
    }
    ++nextTag_;
    std::ostringstream uniq;
    uniq << "zud-uhid-" << ::getpid() << "-" << m->tag;
    m->uniq = uniq.str();

    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof(uhid_event));
    event->type = UHID_CREATE2;
    uhid_create2_req &req = event->u.create2;
    copyField(req.name, sizeof req.name, utf8(config.productString));
    copyField(req.phys, sizeof req.phys, "zud-uhid/" + m->path);
    copyField(req.uniq, sizeof req.uniq, m->uniq);
    const std::vector<uint8_t> descriptor = reportDescriptor();
    std::memcpy(req.rd_data, descriptor.data(), descriptor.size());
    req.rd_size = uint16_t(descriptor.size());
    req.bus = kBusUsb;
    req.vendor = config.vendorId;
    req.product = config.productId;
    req.version = 0x0100;
    if (!writeEvent(*m, event.get(), sizeof(uhid_event))) {
        announce_("warning UHID_CREATE2 refused: " + std::string(std::strerror(errno)));
        ::close(m->uhidFd);
        hid_close(m->host);
        return false;
    }

    // The kernel adds the device from a work queue; it is usable once its
    // hidraw node exists.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (m->node.empty() && std::chrono::steady_clock::now() < deadline) {
        if (pollOne(m->uhidFd, 5) & POLLIN)
            serveUhid(*m);
        const std::string node = findHidrawNode(m->uniq, sysRoot_);
        if (!node.empty() && ::access(node.c_str(), F_OK) == 0)
            m->node = node;
    }
    if (m->node.empty()) {
        announce_("warning no hidraw node appeared for " + m->path);
        ::close(m->uhidFd); // closing the uhid file destroys the device
        hid_close(m->host);
        return false;
    }
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", config.vendorId, config.productId);
    announce_("plugged " + std::to_string(m->tag) + " " + ids + " " + m->node + " " +
              utf8(config.productString));
    mirrors_.push_back(std::move(m));
    return true;
}

void Bridge::destroy(Mirror &m)
{
    m.stopStreaming();
    if (m.uhidFd >= 0) {
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_DESTROY;
        writeEvent(m, &event, sizeof event.type);
        ::close(m.uhidFd);
        m.uhidFd = -1;
    }
    if (m.host) {
        hid_close(m.host);
        m.host = nullptr;
    }
    announce_("unplugged " + std::to_string(m.tag) + " " + m.node);
}

bool Bridge::serveUhid(Mirror &m)
{
    auto event = std::make_unique<uhid_event>();
    ssize_t r;
    do {
        r = ::read(m.uhidFd, event.get(), sizeof(uhid_event));
    } while (r < 0 && errno == EINTR);
    if (r < ssize_t(sizeof event->type))
        return r < 0 && errno == EAGAIN;
    switch (event->type) {
    case UHID_OPEN:
        ++m.stats.opens;
        break;
    case UHID_CLOSE:
        ++m.stats.closes;
        break;
    case UHID_OUTPUT: {
        const uhid_output_req &out = event->u.output;
        ++m.stats.outputs;
        // The emulator answers inside the write, on this thread.
        if (hid_write(m.host, out.data, out.size) < 0)
            ++m.stats.failedOutputs;
        break;
    }
    case UHID_SET_REPORT: {
        const uhid_set_report_req req = event->u.set_report;
        ++m.stats.outputs;
        const bool written = hid_write(m.host, req.data, req.size) >= 0;
        if (!written)
            ++m.stats.failedOutputs;
        std::memset(event.get(), 0, sizeof(uhid_event));
        event->type = UHID_SET_REPORT_REPLY;
        event->u.set_report_reply.id = req.id;
        event->u.set_report_reply.err = written ? 0 : EIO;
        writeEvent(m, event.get(), sizeof event->type + sizeof(uhid_set_report_reply_req));
        break;
    }
    case UHID_GET_REPORT: {
        // The devices have no feature reports to give.
        const uint32_t id = event->u.get_report.id;
        std::memset(event.get(), 0, sizeof(uhid_event));
        event->type = UHID_GET_REPORT_REPLY;
        event->u.get_report_reply.id = id;
        event->u.get_report_reply.err = EIO;
        writeEvent(m, event.get(), sizeof(uhid_event));
        break;
    }
    default: // UHID_START, UHID_STOP: nothing to do
        break;
    }
    return true;
}

bool Bridge::serveInput(Mirror &m)
{
    uint8_t report[UHID_DATA_MAX];
    for (;;) {
        const int got = hid_read_finish(m.host, report, sizeof report);
        if (got < 0) {
            m.lost = true;
            return false;
        }
        if (got == 0)
            return true;
        uhid_event event;
        event.type = UHID_INPUT2;
        event.u.input2.size = uint16_t(got);
        std::memcpy(event.u.input2.data, report, size_t(got));
        if (writeEvent(m, &event,
                       offsetof(uhid_event, u) + offsetof(uhid_input2_req, data) + size_t(got)))
            ++m.stats.inputs;
        if (hid_read_begin(m.host) < 0) {
            m.lost = true;
            return false;
        }
    }
}

bool Bridge::poll(int extraFd, int timeoutMs)
{
    std::vector<pollfd> fds;
    // Per mirror: its uhid file, then its virtual input descriptor.
    std::vector<Mirror *> owners;
    if (extraFd >= 0)
        fds.push_back(pollfd{extraFd, POLLIN, 0});
    for (const auto &m : mirrors_) {
        fds.push_back(pollfd{m->uhidFd, POLLIN, 0});
        const int readFd = hid_read_begin(m->host);
        if (readFd < 0)
            m->lost = true;
        fds.push_back(pollfd{readFd, POLLIN, 0}); // a negative fd is ignored by poll
        owners.push_back(m.get());
    }
    int r;
    do {
        r = ::poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    } while (r < 0 && errno == EINTR);
    bool extraReady = false;
    if (r > 0) {
        size_t i = 0;
        if (extraFd >= 0)
            extraReady = fds[i++].revents != 0;
        for (Mirror *m : owners) {
            const short uhidEvents = fds[i++].revents;
            const short inputEvents = fds[i++].revents;
            if (uhidEvents & POLLIN)
                serveUhid(*m);
            if (inputEvents)
                serveInput(*m);
        }
    }
    sync();
    return extraReady;
}

bool Bridge::stream(int tag, int ratePerSecond, uint64_t count)
{
    Mirror *m = find(tag);
    if (!m)
        return false;
    m->stopStreaming();
    if (ratePerSecond <= 0)
        return true;
    m->streamStop = false;
    const int fd = m->uhidFd;
    m->streamThread = std::thread([m, fd, ratePerSecond, count] {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::nanoseconds(1000000000LL / ratePerSecond);
        auto next = Clock::now();
        uint64_t sequence = 0;
        uhid_event event;
        std::memset(&event, 0, sizeof event);
        event.type = UHID_INPUT2;
        event.u.input2.size = 64;
        const size_t size = offsetof(uhid_event, u) + offsetof(uhid_input2_req, data) + 64;
        while (!m->streamStop && (count == 0 || sequence < count)) {
            uint8_t *report = event.u.input2.data;
            std::memset(report, 0, 64);
            report[0] = 1;
            const uint32_t seq32 = uint32_t(sequence);
            std::memcpy(report + 3, &seq32, 4);
            const uint64_t now = wallClockMicros();
            std::memcpy(report + 9, &now, 8);
            ssize_t r;
            do {
                r = ::write(fd, &event, size);
            } while (r < 0 && errno == EINTR);
            if (r < 0)
                break;
            ++sequence;
            ++m->streamed;
            next += period;
            const auto late = Clock::now() - next;
            // Resume the rate after a stall instead of sending a burst.
            if (late > std::chrono::milliseconds(50))
                next = Clock::now();
            std::this_thread::sleep_until(next);
        }
    });
    return true;
}

} // namespace uhidbridge
