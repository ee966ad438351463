// SPDX-License-Identifier: GPL-3.0-or-later
// `log`: the live data of a wheel base or pedals in the window's CSV formats,
// for a given time. The rows come from the same functions the window logs
// with; a wheel base's updates pass the live view's 16 ms throttle unless
// every report is asked for. The log starts with the first update, whose
// kind chooses the header (the window takes the kind of the update before
// its button was pressed, which a command line has not seen).
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/WheelBaseExchange.h"

#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/CsvLog.h"
#include "livedata/LiveViewMath.h"
#include "usb/UsbClock.h"

#include <QElapsedTimer>
#include <QSaveFile>
#include <cmath>

namespace {

// The rows of one log: what the window keeps between updates.
struct LogState {
    QSaveFile &file;
    bool everyReport = false;
    bool started = false;
    bool writeFailed = false;
    uint32_t lastAcceptedMillis = 0;
    uint64_t lastReadTimeMicros = 0;
    float latchedTorqueIn = 0.0f;
    float lastLoggedElAngle = -1.0f;
    qint64 rows = 0;
    qint64 reports = 0;

    void write(const QByteArray &bytes)
    {
        if (!writeFailed && !bytes.isEmpty() && file.write(bytes) != bytes.size())
            writeFailed = true;
    }

    void start(const QByteArray &header)
    {
        started = true;
        write(header);
    }

    void wheelUpdate(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros)
    {
        if (!everyReport) {
            const uint32_t now = currentTimeMillis();
            if (!wheelUpdateDue(now, lastAcceptedMillis))
                return;
            lastAcceptedMillis = now;
        }
        if (!started)
            start(wheelLogHeader(update.updateKind));
        const uint64_t dt = readTimeMicros - lastReadTimeMicros;
        lastReadTimeMicros = readTimeMicros;
        QByteArray out;
        switch (update.updateKind) {
        case CsvLogKind::debug:
            appendDebugRow(out, update, readTimeMicros, dt);
            rows += 1;
            break;
        case CsvLogKind::torque:
            rows += appendTorqueRows(out, update, readTimeMicros, dt, latchedTorqueIn);
            break;
        case CsvLogKind::commutation:
            rows += appendCommutationRow(out, update, readTimeMicros, lastLoggedElAngle) ? 1 : 0;
            break;
        default:
            break;
        }
        ++reports;
        write(out);
    }

    void pedalsUpdate(const ZudUsbPedalsJoystickUpdate &update, uint64_t readTimeMicros)
    {
        if (!started)
            start(pedalsLogHeader());
        const uint64_t dt = readTimeMicros - lastReadTimeMicros;
        lastReadTimeMicros = readTimeMicros;
        QByteArray out;
        appendPedalsRow(out, update, readTimeMicros, dt);
        ++rows;
        ++reports;
        write(out);
    }
};

} // namespace

int runLog(CommandContext &context)
{
    CliConsole &console = context.console;
    const QString path = context.arguments.at(0);
    bool ok = false;
    const double seconds = context.parser.value(QStringLiteral("seconds")).toDouble(&ok);
    if (!context.parser.isSet(QStringLiteral("seconds")) || !ok || !(seconds > 0) ||
        seconds > 1e6) {
        console.err(QStringLiteral("log needs --seconds N, a number of seconds above 0."));
        return CliExit::usage;
    }

    // --every-report is a wheel base's: without --device it chooses the
    // wheel base even when pedals are attached (pedals given by path still
    // log, every report of theirs as always).
    const bool everyReport = context.parser.isSet(QStringLiteral("every-report"));
    const QList<DeviceKind> kinds =
        everyReport && context.devicePath.isEmpty()
            ? QList<DeviceKind>{DeviceKind::WheelBase}
            : QList<DeviceKind>{DeviceKind::WheelBase, DeviceKind::Pedals};
    DeviceSession session(console, context.timeouts);
    session.start();
    QString id;
    if (const int status = session.select(context.devicePath, kinds, id))
        return status;

    // Written whole when the log ends: a file of that name is replaced only
    // then, and a log that cannot be written leaves it as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        console.err(
            QStringLiteral("Cannot create the log file %1: %2").arg(path, file.errorString()));
        return CliExit::fileError;
    }
    LogState state{file};
    state.everyReport = everyReport;
    state.lastAcceptedMillis = currentTimeMillis() - wheelUpdateIntervalMs;
    state.lastReadTimeMicros = currentTimeMicros();

    UsbDevice *device = session.device(id);
    QMetaObject::Connection updates;
    if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(device))
        updates = QObject::connect(
            wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, &session,
            [&](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update, uint64_t readTimeMicros) {
                state.wheelUpdate(*update, readTimeMicros);
                session.wake();
            });
    else if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(device))
        updates = QObject::connect(
            pedals, &UsbDeviceZudPedals::onJoystickUpdate, &session,
            [&](UsbDevice *, ZudUsbPedalsJoystickUpdate *update, uint64_t readTimeMicros) {
                state.pedalsUpdate(*update, readTimeMicros);
                session.wake();
            });

    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &session,
                     [&] { session.requestStop(interrupts.cause()); });

    // A log that ends before the first update has nothing to keep: that is
    // a failure, whatever ended it.
    const QString step = QStringLiteral("Logging");
    console.err(QStringLiteral("Waiting for live data from %1 (up to %2 s)...")
                    .arg(id)
                    .arg(context.timeouts.replyMs / 1000.0));
    DeviceSession::Wait wait = session.waitFor([&] { return state.started || state.writeFailed; },
                                               context.timeouts.replyMs, id);
    if (wait != DeviceSession::Wait::Done) {
        QObject::disconnect(updates);
        file.cancelWriting();
        QString what;
        if (wait == DeviceSession::Wait::Left)
            what = QStringLiteral("the device left the bus before any data arrived");
        else if (wait == DeviceSession::Wait::Interrupted)
            what = QStringLiteral("stopped by %1 before any data arrived").arg(session.stopCause());
        else
            what = QStringLiteral("no live data arrived within %1 s")
                       .arg(context.timeouts.replyMs / 1000.0);
        return reportStepFailure(console, step, what,
                                 QStringLiteral("%1 was not written.").arg(path));
    }

    console.err(QStringLiteral("Logging %1 for %2 s to %3 (Ctrl-C ends it early)...")
                    .arg(id)
                    .arg(seconds)
                    .arg(path));
    QElapsedTimer clock;
    clock.start();
    wait = session.waitFor([&] { return state.writeFailed; }, int(std::lround(seconds * 1000)), id);
    QObject::disconnect(updates);
    const double elapsed = clock.elapsed() / 1000.0;

    if (state.writeFailed || !file.commit()) {
        console.err(QStringLiteral("Writing the log file %1 failed: %2. It was not written.")
                        .arg(path, file.errorString()));
        return CliExit::fileError;
    }
    const QString summary = QStringLiteral("Logged %1 rows from %2 reports of %3 in %4 s to %5.")
                                .arg(state.rows)
                                .arg(state.reports)
                                .arg(id)
                                .arg(elapsed, 0, 'f', 1)
                                .arg(path);
    if (wait == DeviceSession::Wait::Left) {
        console.out(summary);
        return reportStepFailure(
            console, step,
            QStringLiteral("the device left the bus after %1 s").arg(elapsed, 0, 'f', 1),
            QStringLiteral("The rows logged until then are in %1.").arg(path));
    }
    console.out(summary);
    return CliExit::done;
}
