// SPDX-License-Identifier: GPL-3.0-or-later
// Three devices streaming 1000 reports per second each, read by a running
// UsbManager: reports delivered per second, reports lost, and the latency
// from the device's send to the device object's handler, with the manager's
// CPU time per report. Built twice: bench_kernel_stream reads kernel HID
// devices (zud_uhid streams into uhid, the tool reads hidraw nodes) and runs
// inside the test machine; bench_kernel_stream_vhid reads the same load from
// the virtual bus. Run both on the same machine and compare ratios.
//
// BENCH_SECONDS sets the length of the run (default 10).
#include "bench/BenchSupport.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/ZudDeviceFactory.h"
#include "usb/UsbClock.h"
#include "usb/UsbManager.h"

#ifdef ZUD_BENCH_HIDRAW
#include "kernel/KernelTestSupport.h"
#else
#include "simulator/VirtualHidBus.h"
#endif

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kDevices = 3;
constexpr int kRate = 1000;

struct Figures {
    double seconds = 0;
    uint64_t sent = 0;
    uint64_t delivered = 0;
    uint64_t deliveredWhileStreaming = 0;
    uint64_t outOfOrder = 0;
    std::vector<double> latencyMs;
    double hostCpu = 0;
};

// The streamed layout: report id 1, sequence in bytes 3..6, the send time
// in wall-clock microseconds in bytes 9..16.
void account(Figures &f, uint32_t &expected, const uint8_t *report)
{
    uint32_t sequence;
    uint64_t sent;
    std::memcpy(&sequence, report + 3, 4);
    std::memcpy(&sent, report + 9, 8);
    ++f.delivered;
    if (sequence < expected)
        ++f.outOfOrder;
    expected = sequence + 1;
    f.latencyMs.push_back(double(int64_t(currentTimeMicros() - sent)) / 1000.0);
}

bool passForPedals(UsbManager &manager)
{
    bool result = false;
    QMetaObject::invokeMethod(&manager, "doRescanForZudDevices", Qt::DirectConnection,
                              Q_RETURN_ARG(bool, result), Q_ARG(uint16_t, 0x0483),
                              Q_ARG(uint16_t, 0xA112));
    return result;
}

void runFor(QCoreApplication &app, double seconds)
{
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *env = std::getenv("BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 10.0;

#ifdef ZUD_BENCH_HIDRAW
    const char *transport = "hidraw (uhid)";
    ktest::Emulator emulator;
    if (!emulator.start()) {
        std::fprintf(stderr, "bench_kernel_stream: the uhid emulator did not start\n");
        return 1;
    }
    std::vector<int> tags;
    for (int i = 0; i < kDevices; ++i) {
        const int tag = emulator.plug("plug echo a112 ZUD Pedals");
        if (tag < 0) {
            std::fprintf(stderr, "bench_kernel_stream: cannot plug a device\n");
            return 1;
        }
        tags.push_back(tag);
    }
#else
    const char *transport = "virtual bus";
    std::vector<vhid::DevicePtr> streamers;
    std::atomic<double> streamCpu[kDevices];
    for (int i = 0; i < kDevices; ++i) {
        vhid::DeviceConfig config;
        config.productId = 0xA112;
        config.productString = L"ZUD Pedals";
        streamers.push_back(vhid::plug(config));
        streamCpu[i] = 0;
    }
#endif

    Figures f;
    f.latencyMs.reserve(size_t(kDevices * kRate * (seconds + 2)));
    std::vector<uint32_t> expected(kDevices, 0);
    UsbManager manager{createZudDevice};
    int connected = 0;
    QObject::connect(&manager, &UsbManager::onDeviceConnected, [&](UsbDevice *d) {
        auto *pedals = qobject_cast<UsbDeviceZudPedals *>(d);
        if (!pedals)
            return;
        uint32_t *next = &expected[size_t(connected++ % kDevices)];
        QObject::connect(pedals, &UsbDeviceZudPedals::onJoystickUpdate,
                         [&f, next](UsbDevice *, ZudUsbPedalsJoystickUpdate *u, uint64_t) {
                             account(f, *next, reinterpret_cast<const uint8_t *>(u) - 1);
                         });
    });
    passForPedals(manager);
    if (manager.getDevices().size() != kDevices) {
        std::fprintf(stderr, "bench: found %d of %d devices\n", int(manager.getDevices().size()),
                     kDevices);
        return 1;
    }
    manager.start();
    runFor(app, 0.6); // the reader takes up every device

    const double cpu0 = bench::processCpuSeconds();
    const double t0 = bench::monotonicSeconds();
#ifdef ZUD_BENCH_HIDRAW
    for (int tag : tags)
        emulator.command(QString("stream %1 %2").arg(tag).arg(kRate));
#else
    for (int i = 0; i < kDevices; ++i) {
        std::atomic<double> *cpu = &streamCpu[i];
        streamers[size_t(i)]->startStreaming(kRate, [cpu](uint8_t *report, uint64_t sequence) {
            report[0] = 1;
            const uint32_t s = uint32_t(sequence);
            std::memcpy(report + 3, &s, 4);
            const uint64_t now = currentTimeMicros();
            std::memcpy(report + 9, &now, 8);
            *cpu = bench::threadCpuSeconds();
        });
    }
#endif
    runFor(app, seconds);
#ifdef ZUD_BENCH_HIDRAW
    for (int tag : tags)
        emulator.command(QString("stream %1 0").arg(tag));
#else
    for (auto &s : streamers)
        s->stopStreaming();
#endif
    f.seconds = bench::monotonicSeconds() - t0;
    f.deliveredWhileStreaming = f.delivered;
    // Reports in flight (in the kernel, the sockets or the GUI thread's
    // queue) land; what never arrives is lost.
    for (int idle = 0, waited = 0; idle < 2 && waited < 120; ++waited) {
        const uint64_t before = f.delivered;
        runFor(app, 0.5);
        idle = f.delivered == before ? idle + 1 : 0;
    }
    f.hostCpu = bench::processCpuSeconds() - cpu0;
#ifdef ZUD_BENCH_HIDRAW
    for (int tag : tags)
        f.sent += uint64_t(emulator.stat(tag, "streamed"));
#else
    for (int i = 0; i < kDevices; ++i) {
        f.sent += streamers[size_t(i)]->streamedReports();
        f.hostCpu -= streamCpu[i]; // the streaming threads are not the manager's
    }
#endif
    manager.stop();

    const uint64_t lost = f.sent > f.delivered ? f.sent - f.delivered : 0;
    // Delivered per second while the devices streamed: a reader that falls
    // behind shows a lower rate here and its backlog as latency.
    std::printf("%d devices x %d reports/s, %.1f s, manager reading %s\n", kDevices, kRate,
                f.seconds, transport);
    std::printf("%-14s %12s %9s %9s %8s %7s %10s %10s %10s %13s\n", "transport", "delivered/s",
                "sent", "delivered", "lost", "lost %", "median ms", "p99 ms", "max ms",
                "CPU us/report");
    const double median = bench::percentile(f.latencyMs, 50);
    const double p99 = bench::percentile(f.latencyMs, 99);
    const double max = bench::percentile(f.latencyMs, 100);
    std::printf("%-14s %12.0f %9llu %9llu %8llu %7.2f %10.3f %10.3f %10.3f %13.2f\n", transport,
                double(f.deliveredWhileStreaming) / f.seconds, (unsigned long long)f.sent,
                (unsigned long long)f.delivered, (unsigned long long)lost,
                f.sent ? 100.0 * double(lost) / double(f.sent) : 0.0, median, p99, max,
                f.delivered ? f.hostCpu * 1e6 / double(f.delivered) : 0.0);
    if (f.outOfOrder)
        std::printf("reports out of order: %llu\n", (unsigned long long)f.outOfOrder);
    return 0;
}
