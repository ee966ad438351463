// SPDX-License-Identifier: GPL-3.0-or-later
// The live view under load: the emulated wheel base streams 1000 kind 1
// joystick reports per second while its rim sweeps from lock to lock, and
// the shown window, with the wheel base's settings loaded, follows it. Then
// the same with the Scope page shown and a kind 2 stream (11 torque samples
// per report) for a minute, the recorder's whole span. Prints the GUI
// thread's busy share (CPU time of the GUI thread over wall time) in both,
// split by the events it went to, what the telemetry recorder received and
// lost, and the cost of one rim redraw.
//
//     make bench     (or build/bench/bench_liveview [seconds [scope seconds]])
//     BENCH_ONLY=rim or BENCH_ONLY=scope runs one phase (for a profiler)
#include "app/ScopePage.h"
#include "app/ZUD_wheel_tool.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/LiveViewMath.h"
#include "simulator/WheelBaseEmulator.h"
#include "usb/UsbClock.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Splits the GUI thread's CPU time by the kind of event it handled: the
// reports (queued calls from the reader thread), painting, timers (the
// scope's frames) and the rest. What is left of the busy time went to the
// event loop itself: waiting, waking and dispatching.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    enum Part { Reports, Painting, Timers, Other, Parts };
    static constexpr const char *partNames[Parts] = {"reports", "painting", "timers", "other"};

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (depth_ > 0)
            return QApplication::notify(receiver, event);
        const Part part = event->type() == QEvent::MetaCall        ? Reports
                          : event->type() == QEvent::UpdateRequest ? Painting
                          : event->type() == QEvent::Timer         ? Timers
                                                                   : Other;
        ++depth_;
        const double start = threadCpuSeconds();
        const bool handled = QApplication::notify(receiver, event);
        seconds_[part] += threadCpuSeconds() - start;
        --depth_;
        return handled;
    }
    void reset() { std::fill(std::begin(seconds_), std::end(seconds_), 0.0); }
    double seconds(Part part) const { return seconds_[part]; }
    // "reports 1.2 %, painting ..." over the wall time, and the loop's share.
    std::string shares(double busy, double wall) const
    {
        std::string out;
        double handled = 0;
        char buffer[64];
        for (int p = 0; p < Parts; ++p) {
            handled += seconds_[p];
            std::snprintf(buffer, sizeof buffer, "%s %.1f %%, ", partNames[p],
                          100.0 * seconds_[p] / wall);
            out += buffer;
        }
        std::snprintf(buffer, sizeof buffer, "event loop %.1f %%",
                      100.0 * std::max(0.0, busy - handled) / wall);
        return out + buffer;
    }

private:
    int depth_ = 0;
    double seconds_[Parts] = {};
};

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const double scopeSeconds = argc > 2 ? std::atof(argv[2]) : 60.0;
    const QByteArray only = qgetenv("BENCH_ONLY");

    TimedApplication application(argc, argv);
    ZUD_wheel_tool window;
    window.show();

    // The emulator's factory profile turns 900 degrees.
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 1000;
    config.updateKind = 1;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    window.manager().rescanForZudDevices();
    auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(
        window.manager().getDevice(QString::fromStdString(emulator->device()->path())));
    if (!wheel) {
        std::fprintf(stderr, "bench_liveview: the wheel base was not found\n");
        return 1;
    }
    bool loaded = false;
    QObject::connect(wheel, &UsbDeviceZudWheelBase::onSettingsLoaded, [&] { loaded = true; });
    QElapsedTimer waiting;
    waiting.start();
    while (!loaded && waiting.elapsed() < 5000)
        application.processEvents(QEventLoop::AllEvents, 50);
    if (!loaded) {
        std::fprintf(stderr, "bench_liveview: the settings did not load\n");
        return 1;
    }

    // A full sweep from lock to lock and back every four seconds.
    std::atomic<bool> stopMotion{false};
    std::thread motion([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!stopMotion) {
            const double t =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            emulator->setPosition(450.0 * std::sin(2 * M_PI * t / 4.0));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    // Every update handed to the window, and the ones its 16 ms throttle
    // shows (the same rule, applied right after the window's).
    uint64_t delivered = 0, shown = 0;
    uint32_t lastShown = currentTimeMillis();
    QObject::connect(wheel, &UsbDeviceZudWheelBase::onJoystickUpdate, [&] {
        ++delivered;
        const uint32_t now = currentTimeMillis();
        if (wheelUpdateDue(now, lastShown)) {
            lastShown = now;
            ++shown;
        }
    });

    // Runs the event loop for the given time and returns the GUI thread's
    // CPU seconds and the wall seconds.
    auto measure = [&application](double forSeconds) {
        const double cpuStart = threadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(int(forSeconds * 1000), &application, &QApplication::quit);
        application.exec();
        return std::make_pair(threadCpuSeconds() - cpuStart, double(wall.nsecsElapsed()) * 1e-9);
    };

    // Phase 1: the streaming wheel followed by the window.
    measure(0.5); // let the stream settle
    uint64_t deliveredBefore = delivered;
    const uint64_t shownBefore = shown;
    uint64_t streamedBefore = emulator->device()->streamedReports();
    application.reset();
    const auto [cpuSeconds, wallSeconds] =
        only.isEmpty() || only == "rim" ? measure(seconds) : std::make_pair(0.0, 1.0);
    const std::string rimShares = application.shares(cpuSeconds, wallSeconds);
    const uint64_t streamed = emulator->device()->streamedReports() - streamedBefore;
    const uint64_t handled = delivered - deliveredBefore;
    const uint64_t shownUpdates = shown - shownBefore;

    // Phase 1a: the Scope page shown, a kind 2 stream, for the recorder's
    // whole minute. Losses: reports streamed that the recorder did not get,
    // and samples it had to overwrite before they were a minute old.
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *scope = window.findChild<ScopePage *>(QStringLiteral("tab_Scope"));
    QWidget *previousPage = tabs->currentWidget();
    const TelemetryRecorder &recorder = window.telemetryRecorder();
    double scopeCpu = 0, scopeWall = 1;
    std::string scopeShares;
    uint64_t scopeStreamed = 0, scopeRecorded = 0, scopeLost = 0, scopeSamples = 0;
    quint64 scopeFrames = 0;
    if (only.isEmpty() || only == "scope") {
        // Counted from a stopped stream to a stopped stream, so that every
        // report streamed in between is accounted for.
        emulator->setStreamRate(0);
        measure(0.3);
        streamedBefore = emulator->device()->streamedReports();
        const uint64_t recordedBefore = recorder.reportsReceived();
        const uint64_t lostBefore = recorder.samplesLost();
        const uint64_t samplesBefore = recorder.samplesReceived();
        emulator->setUpdateKind(2);
        emulator->setStreamRate(1000);
        tabs->setCurrentWidget(scope);
        measure(0.5); // the picture fills
        const quint64 framesBefore = scope->framesDrawn();
        application.reset();
        std::tie(scopeCpu, scopeWall) = measure(scopeSeconds);
        scopeShares = application.shares(scopeCpu, scopeWall);
        scopeFrames = scope->framesDrawn() - framesBefore;
        emulator->setStreamRate(0);
        measure(0.3);
        scopeStreamed = emulator->device()->streamedReports() - streamedBefore;
        scopeRecorded = recorder.reportsReceived() - recordedBefore;
        scopeLost = recorder.samplesLost() - lostBefore;
        scopeSamples = recorder.samplesReceived() - samplesBefore;
        tabs->setCurrentWidget(previousPage);
        emulator->setUpdateKind(1);
        emulator->setStreamRate(1000);
        measure(0.3);
    }

    // Phase 1b: the same stream with no device selected: what the report
    // delivery alone costs the GUI thread, without the live view.
    QComboBox *devices = window.findChild<QComboBox *>(QStringLiteral("comboBox_UsbDevice"));
    devices->setCurrentIndex(-1);
    const auto [baseCpu, baseWall] = measure(seconds);
    loaded = false;
    stopMotion = true;
    motion.join();
    emulator->setStreamRate(0);
    devices->setCurrentIndex(0);
    waiting.restart();
    while (!loaded && waiting.elapsed() < 5000)
        application.processEvents(QEventLoop::AllEvents, 50);

    // Phase 2: the cost of one redraw, each call a new whole-degree angle.
    const int redrawCalls = 2000;
    QElapsedTimer drawTimer;
    drawTimer.start();
    const double drawCpuStart = threadCpuSeconds();
    for (int i = 0; i < redrawCalls; ++i) {
        const int16_t axis = int16_t((i % 2 ? 1 : -1) * (100 + 73 * (i % 400)));
        QMetaObject::invokeMethod(&window, "drawWheel", Qt::DirectConnection, Q_ARG(int16_t, axis));
    }
    const double drawWall = double(drawTimer.nsecsElapsed()) * 1e-9;
    const double drawCpu = threadCpuSeconds() - drawCpuStart;

    // Phase 3: the same with the label painting the new picture at once,
    // scaled to its 160 x 160.
    QLabel *rim = window.findChild<QLabel *>(QStringLiteral("label_Rim_Image"));
    const double paintCpuStart = threadCpuSeconds();
    for (int i = 0; i < redrawCalls; ++i) {
        const int16_t axis = int16_t((i % 2 ? -1 : 1) * (100 + 73 * (i % 400)));
        QMetaObject::invokeMethod(&window, "drawWheel", Qt::DirectConnection, Q_ARG(int16_t, axis));
        rim->repaint();
    }
    const double paintCpu = threadCpuSeconds() - paintCpuStart;

    std::printf("bench_liveview: emulated wheel base streaming kind 1 at 1000 reports/s, "
                "900 degrees, rim sweeping lock to lock; window shown (%s)\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  measured              %.2f s wall\n", wallSeconds);
    std::printf("  reports streamed      %llu (%.0f/s), handled by the GUI thread %llu (%.0f/s)\n",
                (unsigned long long)streamed, double(streamed) / wallSeconds,
                (unsigned long long)handled, double(handled) / wallSeconds);
    std::printf("  updates shown         %llu (%.1f/s; at most one per 16 ms)\n",
                (unsigned long long)shownUpdates, double(shownUpdates) / wallSeconds);
    std::printf("  GUI thread busy       %.3f s CPU = %.1f %% of one core (goal <= 5 %%)\n",
                cpuSeconds, 100.0 * cpuSeconds / wallSeconds);
    std::printf("    of which delivery   %.1f %% of one core (same stream, nothing selected)\n",
                100.0 * baseCpu / baseWall);
    std::printf("    by event            %s\n", rimShares.c_str());
    std::printf(
        "  Scope page shown, kind 2 (11 samples per report) at 1000 reports/s, %.2f s wall, "
        "%.0f frames/s\n",
        scopeWall, double(scopeFrames) / scopeWall);
    std::printf("    GUI thread busy     %.3f s CPU = %.1f %% of one core (goal <= 8 %%)\n",
                scopeCpu, 100.0 * scopeCpu / scopeWall);
    std::printf("    by event            %s\n", scopeShares.c_str());
    std::printf(
        "    recorder            %llu of %llu reports streamed, %llu samples, %llu lost "
        "(goal 0)\n",
        (unsigned long long)scopeRecorded, (unsigned long long)scopeStreamed,
        (unsigned long long)scopeSamples,
        (unsigned long long)(scopeLost +
                             (scopeStreamed > scopeRecorded ? scopeStreamed - scopeRecorded : 0)));
    std::printf("  rim redraw            %.1f us wall, %.1f us CPU per redraw (%d redraws)\n",
                1e6 * drawWall / redrawCalls, 1e6 * drawCpu / redrawCalls, redrawCalls);
    std::printf("  rim redraw and paint  %.1f us CPU per redraw, the label painting it scaled\n",
                1e6 * paintCpu / redrawCalls);
    return 0;
}
