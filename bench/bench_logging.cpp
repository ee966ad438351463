// SPDX-License-Identifier: GPL-3.0-or-later
// CSV logging under load: a wheel base on the virtual bus streams 1000 kind 2
// joystick reports per second, each with 11 torque samples; the live view
// passes about 62 of them a second to the logger, which writes 11 rows for
// each. Prints the GUI thread's busy share with and without the log open,
// and the cost of one row, formatted alone and written through the window.
//
//     make bench     (or build/bench/bench_logging [seconds])
#include "app/ZUD_wheel_tool.h"
#include "bench/BenchSupport.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/CsvLog.h"
#include "simulator/VirtualHidBus.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

ZudUsbWheelBaseJoystickUpdate torqueUpdate(uint64_t sequence)
{
    ZudUsbWheelBaseJoystickUpdate update;
    std::memset(&update, 0, sizeof update);
    const double phase = double(sequence % 4000) / 4000.0 * 2.0 * M_PI;
    update.axisValue = int16_t(std::lround(32767.0 * std::sin(phase)));
    update.updateKind = 2;
    update.torque.torqueIn = int16_t(sequence % 20000 - 10000);
    update.torque.torqueInSample = uint8_t(sequence % 11);
    update.torque.sampleCount = 11;
    for (int j = 0; j < zudMaxTorqueSamples; ++j) {
        update.torque.torqueOut[j] = int16_t((sequence * 11 + j) % 20000 - 10000);
        update.torque.torqueActual[j] = int16_t((sequence * 7 + j) % 20000 - 10000);
    }
    update.torque.rotorPos = float(sequence % 36000) / 100.0f;
    return update;
}

void fillReport(uint8_t *report, uint64_t sequence)
{
    std::memset(report, 0, zudUsbReportSize);
    report[0] = ZudUsbReportId::joystickReport;
    const ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(sequence);
    std::memcpy(report + 1, &update, sizeof update);
}

qint64 lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count('\n');
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;

    QApplication application(argc, argv);
    QTemporaryDir logDir;
    if (!logDir.isValid() || !QDir::setCurrent(logDir.path())) {
        std::fprintf(stderr, "bench_logging: no temporary directory\n");
        return 1;
    }
    ZUD_wheel_tool window;
    window.show();

    auto device = vhid::plug({0x0483, 0xA355, L"ZUD Wheel Base", ""});
    window.manager().rescanForZudDevices();
    auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(
        window.manager().getDevice(QString::fromStdString(device->path())));
    if (!wheel) {
        std::fprintf(stderr, "bench_logging: the wheel base was not found\n");
        return 1;
    }
    // Nothing answers the settings request on the bare bus: announce one
    // profile as loaded, which enables the wheel controls.
    wheel->profileCount = 1;
    wheel->profiles[0].rotationDegrees = 900;
    emit wheel->onSettingsLoaded(wheel);

    uint64_t delivered = 0;
    QObject::connect(wheel, &UsbDeviceZudWheelBase::onJoystickUpdate, [&] { ++delivered; });

    auto measure = [&application](double forSeconds) {
        const double cpuStart = bench::threadCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(int(forSeconds * 1000), &application, &QApplication::quit);
        application.exec();
        return std::make_pair(bench::threadCpuSeconds() - cpuStart,
                              double(wall.nsecsElapsed()) * 1e-9);
    };

    QPushButton *logging = window.findChild<QPushButton *>(QStringLiteral("pushButton_Logging"));
    device->startStreaming(1000, fillReport);
    measure(0.5); // let the stream settle; the log kind becomes 2

    // Phase 1: the stream shown, no log open.
    const auto [offCpu, offWall] = measure(seconds);

    // Phase 2: the same stream logged.
    logging->click();
    const QStringList logs = QDir().entryList({QStringLiteral("*.csv")}, QDir::Files);
    if (logs.size() != 1) {
        std::fprintf(stderr, "bench_logging: logging did not start\n");
        return 1;
    }
    const uint64_t deliveredBefore = delivered;
    const uint64_t streamedBefore = device->streamedReports();
    const auto [onCpu, onWall] = measure(seconds);
    const uint64_t streamed = device->streamedReports() - streamedBefore;
    const uint64_t handled = delivered - deliveredBefore;
    device->stopStreaming();
    measure(0.2);
    logging->click();
    const qint64 rows = lineCount(QDir().absoluteFilePath(logs.first())) - 1;

    // Phase 2b: "Log every report": every streamed update logged, counted
    // from a stopped stream to a stopped stream.
    auto *everyReport = window.findChild<QCheckBox *>(QStringLiteral("checkBox_LogEveryReport"));
    everyReport->setChecked(true);
    logging->click();
    QStringList fullLogs = QDir().entryList({QStringLiteral("*.csv")}, QDir::Files);
    for (const QString &earlier : logs)
        fullLogs.removeAll(earlier);
    if (fullLogs.size() != 1) {
        std::fprintf(stderr, "bench_logging: the full-rate log did not start\n");
        return 1;
    }
    const uint64_t fullStreamedBefore = device->streamedReports();
    device->startStreaming(1000, fillReport);
    const auto [fullCpu, fullWall] = measure(seconds);
    device->stopStreaming();
    measure(0.2);
    const uint64_t fullStreamed = device->streamedReports() - fullStreamedBefore;
    logging->click();
    everyReport->setChecked(false);
    const qint64 fullRows = lineCount(QDir().absoluteFilePath(fullLogs.first())) - 1;

    // Phase 3: one row, formatted alone.
    const int updates = 20000;
    float latched = 0.0f;
    QByteArray out;
    out.reserve(1 << 20);
    qint64 formattedRows = 0;
    const double formatStart = bench::threadCpuSeconds();
    for (int i = 0; i < updates; ++i) {
        const ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(uint64_t(i));
        formattedRows += appendTorqueRows(out, update, 1700000000000000ull + uint64_t(i) * 16000,
                                          16000, latched);
        if (out.size() > (1 << 19))
            out.clear();
    }
    const double formatCpu = bench::threadCpuSeconds() - formatStart;

    // Phase 4: one row through the window's logging slot into the file.
    logging->click();
    const double slotStart = bench::threadCpuSeconds();
    for (int i = 0; i < updates; ++i) {
        ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(uint64_t(i));
        QMetaObject::invokeMethod(&window, "onLogDebugOutput", Qt::DirectConnection,
                                  Q_ARG(UsbDevice *, wheel),
                                  Q_ARG(ZudUsbWheelBaseJoystickUpdate *, &update),
                                  Q_ARG(uint64_t, 1700000000000000ull + uint64_t(i) * 16000));
    }
    logging->click(); // closing writes out the buffer: part of the cost
    const double slotCpu = bench::threadCpuSeconds() - slotStart;

    std::printf("bench_logging: wheel base streaming kind 2 (11 samples) at 1000 reports/s, "
                "window shown (%s)\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("  measured              %.2f s wall with the log open\n", onWall);
    std::printf("  reports streamed      %llu (%.0f/s), handled by the GUI thread %llu (%.0f/s)\n",
                (unsigned long long)streamed, double(streamed) / onWall,
                (unsigned long long)handled, double(handled) / onWall);
    std::printf("  rows written          %lld (%.0f/s, %.1f logged updates/s)\n", (long long)rows,
                double(rows) / onWall, double(rows) / zudMaxTorqueSamples / onWall);
    std::printf("  GUI thread busy       %.1f %% of one core, logging (goal <= 10 %%)\n",
                100.0 * onCpu / onWall);
    std::printf("    without a log       %.1f %% of one core (same stream)\n",
                100.0 * offCpu / offWall);
    std::printf("  Log every report      %llu reports streamed, %lld rows written (%.2f per "
                "report), GUI thread busy %.1f %% of one core\n",
                (unsigned long long)fullStreamed, (long long)fullRows,
                fullStreamed ? double(fullRows) / double(fullStreamed) : 0.0,
                100.0 * fullCpu / fullWall);
    const double rowCost = slotCpu / (double(updates) * zudMaxTorqueSamples);
    std::printf("    of which logging    %.2f %% of one core (rows/s x the written row's cost)\n",
                100.0 * double(rows) / onWall * rowCost);
    std::printf("  one row, formatted    %.2f us CPU (%lld rows)\n",
                1e6 * formatCpu / double(formattedRows), (long long)formattedRows);
    std::printf("  one row, written      %.2f us CPU through the logging slot into the file\n",
                1e6 * rowCost);
    return 0;
}
