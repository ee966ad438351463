// SPDX-License-Identifier: GPL-3.0-or-later
// Loading 100 profiles from a wheel base through a started manager and its
// reader thread, against an emulator that answers every command at once:
// the time from loadSettings to onSettingsLoaded (goal: at most 50 ms) and
// the reports exchanged (expected: 102 written, 101 replies). A second run
// uses the USB frame model (one report per direction per 1 ms frame), whose
// limit is two frames per request and reply. On a busy machine threads wake
// late and frames are lost; those lost to the model's own threads are
// counted and taken out in a second figure, printed with the load average.
//
// BENCH_LOADS sets the number of timed loads per run (default 50).
#include "bench/BenchSupport.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/WheelBaseEmulator.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Run {
    std::vector<double> ms;
    // Each load's time without the frames the model lost to its own threads
    // woken late (a busy machine's doing, not the host's), and those frames.
    std::vector<double> hostMs;
    uint64_t lateFrames = 0;
    size_t written = 0; // per load, the last one
    size_t replies = 0;
    bool complete = true;
    bool tableMatches = true;
};

Run measure(int loads, bool frames)
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    std::vector<ZudUsbWheelBaseProfile> table;
    for (int i = 0; i < maxProfiles; ++i) {
        ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(i);
        p.rotationDegrees = 100 + i;
        table.push_back(p);
    }
    emulator->setProfiles(table, 0);
    emulator->setUsbFrameLatency(frames);

    Run run;
    UsbManager manager{createZudDevice};
    manager.start();
    manager.rescanForZudDevices();
    UsbDeviceZudWheelBase *wheel = nullptr;
    for (UsbDevice *d : manager.getDevices())
        if (auto *w = qobject_cast<UsbDeviceZudWheelBase *>(d))
            wheel = w;
    if (!wheel) {
        run.complete = false;
        return run;
    }

    QEventLoop loop;
    QObject::connect(wheel, &UsbDeviceZudWheelBase::onSettingsLoaded, &loop, &QEventLoop::quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        run.complete = false;
        loop.quit();
    });

    // The first load also waits for the reader to take up the new device.
    for (int i = -1; i < loads; ++i) {
        emulator->clearCommands();
        const size_t repliesBefore = emulator->repliesSent();
        const uint64_t lateBefore =
            emulator->device()->lateDeliveryFrames() + emulator->device()->lateWriteFrames();
        guard.start(10000);
        const double start = bench::monotonicSeconds();
        wheel->loadSettings();
        loop.exec();
        const double elapsed = bench::monotonicSeconds() - start;
        guard.stop();
        if (!run.complete)
            break;
        run.written = emulator->commandCount();
        run.replies = emulator->repliesSent() - repliesBefore;
        const uint64_t late = emulator->device()->lateDeliveryFrames() +
                              emulator->device()->lateWriteFrames() - lateBefore;
        if (i >= 0) {
            run.ms.push_back(elapsed * 1000.0);
            run.hostMs.push_back(elapsed * 1000.0 - double(late));
            run.lateFrames += late;
        }
    }
    for (int i = 0; i < maxProfiles; ++i)
        if (std::memcmp(&wheel->profiles[i], &table[size_t(i)], sizeof table[0]) != 0)
            run.tableMatches = false;
    manager.stop();
    return run;
}

void print(const char *name, Run &run)
{
    if (!run.complete || run.ms.empty()) {
        std::printf("%-22s  load did not complete\n", name);
        return;
    }
    const double median = bench::percentile(run.ms, 50);
    std::printf("%-22s  loads %3zu  median %7.2f ms  p90 %7.2f ms  min %7.2f ms  max %7.2f ms  "
                "written %zu  replies %zu  table %s\n",
                name, run.ms.size(), median, bench::percentile(run.ms, 90), run.ms.front(),
                run.ms.back(), run.written, run.replies, run.tableMatches ? "ok" : "WRONG");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *env = std::getenv("BENCH_LOADS");
    const int loads = env && std::atoi(env) > 0 ? std::atoi(env) : 50;

    std::printf("bench_profiles: loading 100 profiles through a started UsbManager\n");
    std::printf("  goal: median at most 50 ms against the instant emulator; "
                "102 written, 101 replies per load\n");
    Run instant = measure(loads, false);
    print("instant emulator", instant);
    Run frames = measure(loads / 5 > 0 ? loads / 5 : 1, true);
    print("USB frame model", frames);
    if (frames.complete && !frames.ms.empty()) {
        // 101 request/reply pairs at two frames each, then one frame for the
        // closing report.
        const double limitMs = 101 * 2.0 + 1.0;
        std::printf("  frame model limit %.0f ms per load: achieved rate / limit = %.2f\n", limitMs,
                    limitMs / bench::percentile(frames.ms, 50));
        std::printf("  frames lost to threads of the model woken late: %llu in %zu loads; without "
                    "them, rate / limit = %.2f (load average %.2f)\n",
                    static_cast<unsigned long long>(frames.lateFrames), frames.hostMs.size(),
                    limitMs / bench::percentile(frames.hostMs, 50), bench::loadAverage());
    }
    const bool ok = instant.complete && frames.complete && instant.tableMatches &&
                    instant.written == 102 && instant.replies == 101;
    return ok ? 0 : 1;
}
