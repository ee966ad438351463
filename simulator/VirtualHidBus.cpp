// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/VirtualHidBus.h"

#include "transport/HidSplitInternal.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <map>
#include <sys/socket.h>
#include <unistd.h>

struct hid_device_ {
    vhid::DevicePtr device;
    int deviceFd = -1; // device end of the socket pair; -1 once unplugged
    hid_device_info info{};
    std::string path;
    std::wstring product;
    std::wstring serial;
};

namespace vhid {

namespace {

constexpr size_t kWrittenKept = 65536;

std::mutex busMutex;
std::vector<DevicePtr> bus;
int nextPathNumber = 1;
std::atomic<int> inits{0};
std::atomic<int> exits{0};
std::atomic<int> enumerations{0};

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

// Delivers reports at a later time: delayed replies and the frame model.
class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    static Scheduler &instance()
    {
        static Scheduler scheduler;
        return scheduler;
    }

    // raw: deliver as is (its frame is already taken); otherwise through
    // inject(), which applies the frame model when it is on.
    void post(Clock::time_point due, const DevicePtr &device, const uint8_t *data, size_t length,
              bool raw)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.emplace(due, Item{device, Report(data, data + length), raw});
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
    }

    ~Scheduler()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            wake_.notify_one();
        }
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct Item {
        std::weak_ptr<VirtualDevice> device;
        Report report;
        bool raw;
    };

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = queue_.begin();
            if (first->first > Clock::now()) {
                wake_.wait_until(lock, first->first);
                continue;
            }
            const Clock::time_point due = first->first;
            Item item = std::move(first->second);
            queue_.erase(first);
            lock.unlock();
            if (DevicePtr device = item.device.lock()) {
                if (item.raw) {
                    device->lateDeliveryFrames_ += VirtualDevice::framesLate(due);
                    device->injectNow(item.report.data(), item.report.size());
                } else {
                    device->inject(item.report);
                }
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Item> queue_;
    std::thread thread_;
    bool stop_ = false;
};

struct BusAccess {
    static hid_device *open(const DevicePtr &device);
    static void close(hid_device *handle);
    static int write(hid_device *handle, const unsigned char *data, size_t length);
};

VirtualDevice::VirtualDevice(DeviceConfig config) : config_(std::move(config)) {}

VirtualDevice::~VirtualDevice()
{
    stopStreaming();
}

void VirtualDevice::setWriteHandler(WriteHandler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writeHandler_ = std::move(handler);
}

void VirtualDevice::setFailingWrites(WritePicker pick)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failingWrites_ = std::move(pick);
}

uint64_t VirtualDevice::framesLate(std::chrono::steady_clock::time_point due)
{
    using namespace std::chrono;
    const int64_t late = duration_cast<milliseconds>(steady_clock::now() - due).count();
    return late > 0 ? uint64_t(late) : 0;
}

std::chrono::steady_clock::time_point VirtualDevice::takeFrame(int64_t &lastFrame)
{
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    lastFrame = std::max(now + 1, lastFrame + 1);
    return steady_clock::time_point(milliseconds(lastFrame));
}

int VirtualDevice::inject(const uint8_t *data, size_t length)
{
    if (frameLatency_) {
        std::chrono::steady_clock::time_point due;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!plugged_)
                return 0;
            due = takeFrame(lastInFrame_);
        }
        Scheduler::instance().post(due, shared_from_this(), data, length, true);
        return openHandleCount();
    }
    return injectNow(data, length);
}

void VirtualDevice::injectAfter(const uint8_t *data, size_t length, std::chrono::microseconds delay)
{
    Scheduler::instance().post(std::chrono::steady_clock::now() + delay, shared_from_this(), data,
                               length, false);
}

int VirtualDevice::injectNow(const uint8_t *data, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_)
        return 0;
    ++injected_;
    int reached = 0;
    for (hid_device_ *h : handles_) {
        if (h->deviceFd < 0)
            continue;
        ssize_t r;
        do {
            r = ::send(h->deviceFd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        } while (r < 0 && errno == EINTR);
        if (r < 0)
            ++dropped_;
        else
            ++reached;
    }
    return reached;
}

std::vector<Report> VirtualDevice::writtenReports() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

void VirtualDevice::clearWritten()
{
    std::lock_guard<std::mutex> lock(mutex_);
    written_.clear();
}

int VirtualDevice::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(handles_.size());
}

void VirtualDevice::startStreaming(int ratePerSecond, StreamFill fill)
{
    stopStreaming();
    if (ratePerSecond <= 0 || !fill)
        return;
    std::lock_guard<std::mutex> lock(streamMutex_);
    streamStop_ = false;
    streamThread_ = std::thread([this, ratePerSecond, fill = std::move(fill)] {
        using Clock = std::chrono::steady_clock;
        const auto period = std::chrono::nanoseconds(1000000000LL / ratePerSecond);
        auto next = Clock::now();
        uint64_t sequence = 0;
        uint8_t report[64];
        while (!streamStop_ && plugged_) {
            std::memset(report, 0, sizeof report);
            fill(report, sequence++);
            inject(report, sizeof report);
            ++streamed_;
            next += period;
            const auto now = Clock::now();
            // A thread that fell far behind (a stopped debugger, a loaded
            // machine) resumes the rate instead of sending a burst.
            if (now - next > std::chrono::milliseconds(50))
                next = now;
            std::this_thread::sleep_until(next);
        }
    });
}

void VirtualDevice::stopStreaming()
{
    std::lock_guard<std::mutex> lock(streamMutex_);
    streamStop_ = true;
    if (streamThread_.joinable()) {
        if (streamThread_.get_id() == std::this_thread::get_id())
            streamThread_.detach();
        else
            streamThread_.join();
    }
}

void VirtualDevice::unplug()
{
    {
        std::lock_guard<std::mutex> lock(busMutex);
        bus.erase(std::remove_if(bus.begin(), bus.end(),
                                 [this](const DevicePtr &d) { return d.get() == this; }),
                  bus.end());
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        plugged_ = false;
        for (hid_device_ *h : handles_)
            closeFd(h->deviceFd);
    }
    stopStreaming();
}

hid_device *BusAccess::open(const DevicePtr &device)
{
    if (device->openFails_ || !device->plugged_) {
        ++device->failedOpens_;
        return nullptr;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return nullptr;
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    auto *h = new hid_device_;
    h->device = device;
    h->deviceFd = fds[1];
    h->path = device->config_.path;
    h->product = device->config_.productString;
    h->info.path = h->path.data();
    h->info.vendor_id = device->config_.vendorId;
    h->info.product_id = device->config_.productId;
    h->info.product_string = h->product.data();
    h->serial = device->config_.serialNumber;
    h->info.serial_number = h->serial.data();
    h->info.interface_number = device->config_.interfaceNumber;
    h->info.bus_type = HID_API_BUS_USB;
    hidsplit::attach(h, fds[0]);
    {
        std::lock_guard<std::mutex> lock(device->mutex_);
        if (!device->plugged_)
            closeFd(h->deviceFd); // unplugged while opening: hangs up at once
        device->handles_.push_back(h);
    }
    ++device->totalOpens_;
    return h;
}

void BusAccess::close(hid_device *h)
{
    hidsplit::detach(h);
    {
        std::lock_guard<std::mutex> lock(h->device->mutex_);
        auto &handles = h->device->handles_;
        handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
        closeFd(h->deviceFd);
    }
    delete h;
}

int BusAccess::write(hid_device *h, const unsigned char *data, size_t length)
{
    VirtualDevice &d = *h->device;
    VirtualDevice::WriteHandler handler;
    if (d.frameLatency_) {
        std::chrono::steady_clock::time_point due;
        {
            std::lock_guard<std::mutex> lock(d.mutex_);
            due = d.takeFrame(d.lastOutFrame_);
        }
        std::this_thread::sleep_until(due);
        d.lateWriteFrames_ += VirtualDevice::framesLate(due);
    }
    {
        std::lock_guard<std::mutex> lock(d.mutex_);
        const bool scheduledFailure = d.writesToFail_ > 0;
        if (scheduledFailure)
            --d.writesToFail_;
        if (h->deviceFd < 0 || !d.plugged_ || d.writeFails_ || scheduledFailure || !data ||
            length == 0 || (d.failingWrites_ && d.failingWrites_(data, length))) {
            ++d.failedWrites_;
            return -1;
        }
        if (d.written_.size() >= kWrittenKept)
            d.written_.erase(d.written_.begin());
        d.written_.emplace_back(data, data + length);
        ++d.writeCount_;
        handler = d.writeHandler_;
    }
    if (handler) {
        DevicePtr keep = h->device; // the handler may unplug the device
        handler(*keep, data, length);
    }
    return int(length);
}

DevicePtr plug(DeviceConfig config)
{
    std::lock_guard<std::mutex> lock(busMutex);
    if (config.path.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "vhid-%06d", nextPathNumber++);
        config.path = name;
    }
    auto device = std::make_shared<VirtualDevice>(std::move(config));
    bus.push_back(device);
    return device;
}

void unplugAll()
{
    for (const DevicePtr &d : devices())
        d->unplug();
}

std::vector<DevicePtr> devices()
{
    std::lock_guard<std::mutex> lock(busMutex);
    return bus;
}

DevicePtr findByPath(const std::string &path)
{
    std::lock_guard<std::mutex> lock(busMutex);
    for (const DevicePtr &d : bus)
        if (d->path() == path)
            return d;
    return nullptr;
}

int initCount()
{
    return inits;
}
int exitCount()
{
    return exits;
}
int enumerateCount()
{
    return enumerations;
}

} // namespace vhid

// ---- the hidapi functions, over the virtual bus ----

extern "C" {

int hid_init(void)
{
    ++vhid::inits;
    return 0;
}

int hid_exit(void)
{
    ++vhid::exits;
    return 0;
}

hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    ++vhid::enumerations;
    hid_device_info *head = nullptr;
    hid_device_info **tail = &head;
    for (const vhid::DevicePtr &d : vhid::devices()) {
        const vhid::DeviceConfig &c = d->config();
        if ((vendor_id && c.vendorId != vendor_id) || (product_id && c.productId != product_id))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(c.path.c_str());
        info->vendor_id = c.vendorId;
        info->product_id = c.productId;
        info->product_string = wcsdup(c.productString.c_str());
        info->serial_number = wcsdup(c.serialNumber.c_str());
        info->interface_number = c.interfaceNumber;
        info->bus_type = HID_API_BUS_USB;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void hid_free_enumeration(hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs->product_string);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs);
        devs = next;
    }
}

hid_device *hid_open_path(const char *path)
{
    if (!path)
        return nullptr;
    vhid::DevicePtr d = vhid::findByPath(path);
    return d ? vhid::BusAccess::open(d) : nullptr;
}

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *)
{
    for (const vhid::DevicePtr &d : vhid::devices())
        if (d->config().vendorId == vendor_id && d->config().productId == product_id)
            return vhid::BusAccess::open(d);
    return nullptr;
}

void hid_close(hid_device *dev)
{
    if (dev)
        vhid::BusAccess::close(dev);
}

int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    return dev ? vhid::BusAccess::write(dev, data, length) : -1;
}

int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
    return hidsplit::read(dev, data, length, milliseconds);
}

int hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hidsplit::readHonouringBlocking(dev, data, length);
}

int hid_set_nonblocking(hid_device *dev, int nonblock)
{
    hidsplit::setNonBlocking(dev, nonblock != 0);
    return 0;
}

int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    if (!dev || !string || maxlen == 0 || dev->device->productStringFails())
        return -1;
    std::wcsncpy(string, dev->product.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    if (!dev || !string || maxlen == 0)
        return -1;
    std::wcsncpy(string, dev->serial.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

hid_device_info *hid_get_device_info(hid_device *dev)
{
    return dev ? &dev->info : nullptr;
}

const wchar_t *hid_error(hid_device *)
{
    return L"virtual HID bus";
}

} // extern "C"
