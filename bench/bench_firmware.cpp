// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware transfer throughput: the largest image the chunk fields can number
// (32767 chunks of 32 bytes), sent through UsbManager and its reader thread to
// the emulated bootloader. First against a bootloader that answers at once,
// which measures what the host manages; then against the USB full-speed frame
// model, which measures how close the transfer comes to the bus's limit; the
// frames lost there to the model's own threads woken late (a busy machine's
// doing) are counted and taken out in a second figure.
//
//   bench_firmware [chunks-instant] [chunks-frame-model]
#include "BenchSupport.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/BootloaderEmulator.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// One 64-byte report per direction per 1 ms frame, and each chunk waits for
// its answer: a chunk out in one frame, its answer back in the next.
constexpr double frameModelFramesPerChunk = 2.0;
constexpr double framesPerSecond = 1000.0;

struct Result {
    bool completed = false;
    QString failure;
    double seconds = 0;
    double cpuSeconds = 0;
    size_t writes = 0;
    uint64_t lateFrames = 0; // lost to the model's threads woken late
    bool imageIntact = false;
};

Result run(int chunks, bool frameModel)
{
    std::mt19937 rng(20240601u + uint32_t(chunks));
    QByteArray image(chunks * UsbDeviceZudBootloader::chunkSize, '\0');
    for (char &c : image)
        c = char(rng() & 0xFF);

    emu::BootloaderEmulator::Config config;
    config.usbFrameLatency = frameModel;
    auto emulator = emu::BootloaderEmulator::plug(config);

    Result result;
    UsbManager manager{createZudDevice};
    manager.start();
    manager.rescanForZudDevices();
    auto *device = qobject_cast<UsbDeviceZudBootloader *>(
        manager.getDevice(QString::fromStdString(emulator->device()->path())));
    if (!device) {
        result.failure = "bootloader not found";
        return result;
    }

    QEventLoop loop;
    QObject::connect(device, &UsbDeviceZudBootloader::onUpdateCompleted, &loop, [&] {
        result.completed = true;
        loop.quit();
    });
    QObject::connect(device, &UsbDeviceZudBootloader::onUpdateFailed, &loop,
                     [&](UsbDevice *, QString message) {
                         result.failure = message;
                         loop.quit();
                     });
    // A transfer that stalls (it never gives up by itself) ends the run.
    const int limitMs = int(chunks * frameModelFramesPerChunk * 4) + 60000;
    QTimer::singleShot(limitMs, &loop, [&] {
        result.failure = "timed out";
        loop.quit();
    });

    QElapsedTimer timer;
    const double cpuStart = bench::processCpuSeconds();
    timer.start();
    device->updateFirmware(image);
    if (!result.completed && result.failure.isEmpty())
        loop.exec();
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    result.cpuSeconds = bench::processCpuSeconds() - cpuStart;
    result.writes = emulator->device()->writeCount();
    result.lateFrames =
        emulator->device()->lateDeliveryFrames() + emulator->device()->lateWriteFrames();
    const std::vector<uint8_t> received = emulator->image();
    result.imageIntact = received.size() == size_t(image.size()) &&
                         std::equal(received.begin(), received.end(),
                                    reinterpret_cast<const uint8_t *>(image.constData()));
    manager.stop();
    emulator->unplug();
    return result;
}

bool report(const char *name, int chunks, const Result &r)
{
    if (!r.completed) {
        std::printf("%s: FAILED: %s\n", name, qPrintable(r.failure));
        return false;
    }
    std::printf("%s: %d chunks (%d bytes) in %.3f s (%.3f s CPU, both threads and the "
                "emulator), %zu reports written (%zu retries), image %s\n",
                name, chunks, chunks * 32, r.seconds, r.cpuSeconds, r.writes,
                r.writes - size_t(chunks) - 1, r.imageIntact ? "intact" : "CORRUPTED");
    return r.imageIntact;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int instantChunks = argc > 1 ? std::atoi(argv[1]) : 32767;
    const int frameChunks = argc > 2 ? std::atoi(argv[2]) : 32767;
    bool ok = true;

    const Result instant = run(instantChunks, false);
    ok &= report("instant bootloader", instantChunks, instant);
    if (instant.completed)
        std::printf("  host rate: %.0f chunks/s (goal >= 10000)\n",
                    instantChunks / instant.seconds);

    const Result framed = run(frameChunks, true);
    ok &= report("USB frame model", frameChunks, framed);
    if (framed.completed) {
        const double limit = framesPerSecond / frameModelFramesPerChunk;
        const double rate = frameChunks / framed.seconds;
        std::printf("  achieved %.1f chunks/s, model limit %.0f chunks/s, ratio %.3f (goal >= "
                    "0.95)\n",
                    rate, limit, rate / limit);
        // A busy machine wakes threads late, the model's own among them; the
        // frames it lost that way are not the host's doing.
        const double hostSeconds = framed.seconds - double(framed.lateFrames) / framesPerSecond;
        std::printf("  frames lost to threads of the model woken late: %llu; without them, ratio "
                    "%.3f (load average %.2f)\n",
                    static_cast<unsigned long long>(framed.lateFrames),
                    frameChunks / hostSeconds / limit, bench::loadAverage());
    }
    vhid::unplugAll();
    return ok ? 0 : 1;
}
