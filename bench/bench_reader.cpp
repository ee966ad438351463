// SPDX-License-Identifier: GPL-3.0-or-later
// The reader thread under load: 1, 3 and 8 virtual wheel bases each stream
// 1000 reports per second. For each, the reports delivered to the device's
// report handler, those lost, the latency from the device's send to the
// handler, and the host's CPU time per report; beside it the same load read
// the simple way, hid_read_timeout(dev, buf, 64, 1) on each device in turn.
// Then the CPU share of a running manager with no device attached.
//
// BENCH_SECONDS sets the length of each run (default 10).
#include "bench/BenchSupport.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/VirtualHidBus.h"
#include "usb/UsbClock.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int rate = 1000;

// Streamed reports carry their sequence number in report bytes 3..6 (bytes
// the tool does not read) and the send time in bytes 9..16 (kind 0 carries
// no payload).
struct Streamer {
    vhid::DevicePtr device;
    std::atomic<double> streamCpu{0};
};

void fill(Streamer *s, uint8_t *report, uint64_t sequence)
{
    report[0] = 1;
    std::memcpy(report + 3, &sequence, 4);
    report[8] = 0;
    const uint64_t now = currentTimeMicros();
    std::memcpy(report + 9, &now, 8);
    s->streamCpu = bench::threadCpuSeconds();
}

struct Result {
    double seconds = 0;
    uint64_t sent = 0;
    uint64_t delivered = 0;
    uint64_t busDropped = 0;
    std::vector<double> latencyMs;
    double hostCpu = 0;
};

std::vector<std::unique_ptr<Streamer>> plugStreamers(int count)
{
    std::vector<std::unique_ptr<Streamer>> streamers;
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<Streamer>();
        vhid::DeviceConfig config;
        config.productString = L"ZUD Wheel Base";
        s->device = vhid::plug(config);
        streamers.push_back(std::move(s));
    }
    return streamers;
}

double streamCpu(const std::vector<std::unique_ptr<Streamer>> &streamers)
{
    double total = 0;
    for (const auto &s : streamers)
        total += s->streamCpu;
    return total;
}

void account(Result &r, const uint8_t *report)
{
    uint64_t sent;
    std::memcpy(&sent, report + 9, 8);
    ++r.delivered;
    r.latencyMs.push_back(double(currentTimeMicros() - sent) / 1000.0);
}

Result runManager(QCoreApplication &app, int devices, double seconds)
{
    Result r;
    r.latencyMs.reserve(size_t(devices * rate * (seconds + 1)));
    auto streamers = plugStreamers(devices);
    UsbManager manager{createZudDevice};
    QObject::connect(&manager, &UsbManager::onDeviceConnected, [&](UsbDevice *d) {
        auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(d);
        QObject::connect(wheel, &UsbDeviceZudWheelBase::onJoystickUpdate,
                         [&r](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update, uint64_t) {
                             account(r, reinterpret_cast<const uint8_t *>(update) - 1);
                         });
    });
    manager.start();
    while (manager.getDevices().size() < devices)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    // Give the reader one pass to take up every device before streaming.
    QTimer::singleShot(600, &app, &QCoreApplication::quit);
    app.exec();

    const double cpu0 = bench::processCpuSeconds();
    const double t0 = bench::monotonicSeconds();
    for (auto &s : streamers) {
        Streamer *raw = s.get();
        s->device->startStreaming(rate, [raw](uint8_t *rep, uint64_t seq) { fill(raw, rep, seq); });
    }
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    for (auto &s : streamers)
        s->device->stopStreaming();
    r.seconds = bench::monotonicSeconds() - t0;
    QTimer::singleShot(300, &app, &QCoreApplication::quit); // in-flight reports land
    app.exec();
    r.hostCpu = bench::processCpuSeconds() - cpu0 - streamCpu(streamers);
    for (auto &s : streamers) {
        r.sent += s->device->streamedReports();
        r.busDropped += s->device->droppedReports();
    }
    manager.stop();
    vhid::unplugAll();
    return r;
}

Result runSimpleLoop(int devices, double seconds)
{
    Result r;
    r.latencyMs.reserve(size_t(devices * rate * (seconds + 1)));
    auto streamers = plugStreamers(devices);
    std::vector<hid_device *> handles;
    for (auto &s : streamers)
        handles.push_back(hid_open_path(s->device->path().c_str()));

    const double cpu0 = bench::processCpuSeconds();
    const double t0 = bench::monotonicSeconds();
    for (auto &s : streamers) {
        Streamer *raw = s.get();
        s->device->startStreaming(rate, [raw](uint8_t *rep, uint64_t seq) { fill(raw, rep, seq); });
    }
    uint8_t buffer[64];
    double stopAt = t0 + seconds, drainUntil = 0;
    for (;;) {
        const double now = bench::monotonicSeconds();
        if (drainUntil == 0 && now >= stopAt) {
            for (auto &s : streamers)
                s->device->stopStreaming();
            r.seconds = now - t0;
            drainUntil = now + 0.3;
        }
        if (drainUntil != 0 && now >= drainUntil)
            break;
        for (hid_device *h : handles)
            if (hid_read_timeout(h, buffer, sizeof buffer, 1) == 64)
                account(r, buffer);
    }
    r.hostCpu = bench::processCpuSeconds() - cpu0 - streamCpu(streamers);
    for (auto &s : streamers) {
        r.sent += s->device->streamedReports();
        r.busDropped += s->device->droppedReports();
    }
    for (hid_device *h : handles)
        hid_close(h);
    vhid::unplugAll();
    return r;
}

void print(const char *how, int devices, Result &r)
{
    const uint64_t lost = r.sent > r.delivered ? r.sent - r.delivered : 0;
    const double median = bench::percentile(r.latencyMs, 50);
    const double p99 = bench::percentile(r.latencyMs, 99);
    std::printf("%-24s %7d %12.0f %8llu %8llu %11.3f %11.3f %13.2f\n", how, devices,
                double(r.delivered) / r.seconds, (unsigned long long)r.sent,
                (unsigned long long)lost, median, p99,
                r.delivered ? r.hostCpu * 1e6 / double(r.delivered) : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *env = std::getenv("BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 10.0;

    std::printf("Reader thread, %d reports/s per device, %.0f s per run\n", rate, seconds);
    std::printf("%-24s %7s %12s %8s %8s %11s %11s %13s\n", "reader", "devices", "delivered/s",
                "sent", "lost", "median ms", "p99 ms", "CPU us/report");
    for (int devices : {1, 3, 8}) {
        Result ours = runManager(app, devices, seconds);
        print("UsbManager (wait-any)", devices, ours);
        Result simple = runSimpleLoop(devices, seconds);
        print("hid_read_timeout loop", devices, simple);
    }

    {
        UsbManager manager{createZudDevice};
        manager.start();
        const double cpu0 = bench::processCpuSeconds();
        const double t0 = bench::monotonicSeconds();
        QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
        app.exec();
        const double share = (bench::processCpuSeconds() - cpu0) / (bench::monotonicSeconds() - t0);
        manager.stop();
        std::printf("Idle manager, no device (virtual bus): %.3f %% of one core\n", share * 100);
    }
    return 0;
}
