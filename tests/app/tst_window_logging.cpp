// SPDX-License-Identifier: GPL-3.0-or-later
// CSV logging through the window: wheel base updates of every kind and pedals
// updates travel from the virtual bus through the reader, the device and the
// live view into the log file, which is then read back byte for byte.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <limits>
#include <sys/resource.h>

using namespace wintest;

namespace {

QPushButton *loggingButton(ZUD_wheel_tool &window)
{
    return child<QPushButton>(window, "pushButton_Logging");
}

// Lines without their CR LF; fails the comparison if any line lacks it.
QList<QByteArray> crlfLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    int start = 0;
    while (start < text.size()) {
        const int end = text.indexOf("\r\n", start);
        if (end < 0) {
            lines.append("<no CR LF>" + text.mid(start));
            break;
        }
        lines.append(text.mid(start, end - start));
        start = end + 2;
    }
    return lines;
}

QList<QByteArray> fields(const QByteArray &line)
{
    return line.split(',');
}

// A window with a quiet emulated wheel base selected, its settings loaded,
// and a clock that lets every update past the live view's throttle.
struct WheelRig : WindowRig {
    WheelRig()
    {
        useSteppingClock();
        plug();
    }
    // Sends updates and waits until the window has handled all of them.
    bool send(std::initializer_list<ZudUsbWheelBaseJoystickUpdate> list)
    {
        const int target = handled + int(list.size());
        for (const ZudUsbWheelBaseJoystickUpdate &u : list)
            emulator->device()->inject(wheelReport(u));
        return QTest::qWaitFor([&] { return handled >= target; }, 5000);
    }
    void click() { QTest::mouseClick(loggingButton(window), Qt::LeftButton); }
};

#define WHEEL_READY(rig) QTRY_VERIFY((rig).ready())

ZudUsbWheelBaseJoystickUpdate debugUpdate(float motorAngle, uint32_t ticks)
{
    ZudUsbWheelBaseJoystickUpdate u = wheelUpdate(100, 1);
    u.debug.motorAngle = motorAngle;
    u.debug.ticks = ticks;
    u.debug.ffbIn = 0.25f;
    u.debug.ffbOut = -3.0f;
    return u;
}

ZudUsbWheelBaseJoystickUpdate torqueUpdate(int16_t axis, int16_t torqueIn, uint8_t inSample,
                                           uint8_t count, std::initializer_list<int16_t> out = {},
                                           std::initializer_list<int16_t> actual = {})
{
    ZudUsbWheelBaseJoystickUpdate u = wheelUpdate(axis, 2);
    u.torque.torqueIn = torqueIn;
    u.torque.torqueInSample = inSample;
    u.torque.sampleCount = count;
    int j = 0;
    for (int16_t v : out)
        u.torque.torqueOut[j++] = v;
    j = 0;
    for (int16_t v : actual)
        u.torque.torqueActual[j++] = v;
    u.torque.rotorPos = 0.75f;
    return u;
}

ZudUsbWheelBaseJoystickUpdate commutationUpdate(float elAngle, uint32_t ticks)
{
    ZudUsbWheelBaseJoystickUpdate u = wheelUpdate(0, 3);
    u.commutation.ticks = ticks;
    u.commutation.mechAngle = 10.5f;
    u.commutation.elAngle = elAngle;
    u.commutation.elAngleEncoder = 3.0f;
    u.commutation.pwmU = 0.5f;
    u.commutation.pwmV = 0.25f;
    u.commutation.pwmW = 0.125f;
    u.commutation.hallU = 1.0f;
    u.commutation.hallV = 2.0f;
    u.commutation.hallPsu = 24.0f;
    return u;
}

const QRegularExpression wheelLogName(
    QStringLiteral("^wheel-log-\\d{4}-\\d\\d-\\d\\d-\\d\\d-\\d\\d-\\d\\d(-\\d+)?\\.csv$"));

} // namespace

class WindowLoggingTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void buttonWithNothingOrBootloaderSelected();
    void debugRows();
    void torqueRowsLatchAcrossUpdates();
    void torqueUpdateClaimingTooManySamples();
    void commutationRowsOncePerAngle();
    void pedalsRows();
    void unknownKindAtStartGivesNoHeader();
    void secondLogInTheSameSecondKeepsTheFirst();
    void logThatCannotBeCreated();
    void writeErrorStopsLoggingOnce();
};

void WindowLoggingTest::buttonWithNothingOrBootloaderSelected()
{
    LogDir dir;
    DialogAnswerer answers;
    {
        ZUD_wheel_tool window;
        loggingButton(window)->click();
        QCOMPARE(loggingButton(window)->text(), QStringLiteral("Start Logging"));
        QVERIFY(dir.logs().isEmpty());

        auto boot = emu::BootloaderEmulator::plug();
        discover(window);
        QTRY_COMPARE(answers.fileDialogs().size(), 1); // cancelled
        loggingButton(window)->click();
        QCOMPARE(loggingButton(window)->text(), QStringLiteral("Start Logging"));
    }
    QVERIFY(QDir(dir.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    QVERIFY(answers.boxes().isEmpty());
}

void WindowLoggingTest::debugRows()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    QVERIFY(rig.send({debugUpdate(1.0f, 1)})); // the log kind is known at the start
    rig.click();
    QCOMPARE(loggingButton(rig.window)->text(), QStringLiteral("Stop Logging"));
    QCOMPARE(dir.logs().size(), 1);
    const QString name = dir.logs().first();
    QVERIFY2(wheelLogName.match(name).hasMatch(), qPrintable(name));

    QVERIFY(
        rig.send({debugUpdate(12.5f, 4000000000u), debugUpdate(-0.125f, 7), debugUpdate(3.0f, 8)}));
    rig.click();
    QCOMPARE(loggingButton(rig.window)->text(), QStringLiteral("Start Logging"));

    const QList<QByteArray> lines = crlfLines(dir.read(name));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %"));
    const QList<QByteArray> first = fields(lines[1]);
    QCOMPARE(first.size(), 6);
    QCOMPARE(first[2], QByteArray("12.50"));
    QCOMPARE(first[3], QByteArray("0.25"));
    QCOMPARE(first[4], QByteArray("-3"));
    QCOMPARE(first[5], QByteArray("4000000000"));
    QCOMPARE(fields(lines[2])[2], QByteArray("-0.12"));
    QCOMPARE(fields(lines[3])[5], QByteArray("8"));
    // Read times grow, and each dt spans back to the previous update, the
    // one before the start included.
    uint64_t previous = 0;
    for (int i = 1; i < 4; ++i) {
        const QList<QByteArray> f = fields(lines[i]);
        QCOMPARE(f.size(), 6);
        bool ok1 = false, ok2 = false;
        const uint64_t time = f[0].toULongLong(&ok1);
        const uint64_t dt = f[1].toULongLong(&ok2);
        QVERIFY(ok1 && ok2);
        QVERIFY(time > 1600000000000000ull); // microseconds since 1970
        if (i > 1)
            QCOMPARE(dt, time - previous);
        QVERIFY(dt < 60000000ull);
        previous = time;
    }
}

void WindowLoggingTest::torqueRowsLatchAcrossUpdates()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    QVERIFY(rig.send({torqueUpdate(0, 0, 0, 0)}));
    rig.click();
    QVERIFY(rig.send({torqueUpdate(16384, -50, 0, 1, {1234}, {-50}),
                      torqueUpdate(-32768, 1234, 1, 3, {100, 200, 300}, {-1, -2, -3}),
                      torqueUpdate(1, 999, 5, 2, {0, -50}, {1234, 0})}));
    rig.click();

    const QList<QByteArray> lines = crlfLines(dir.read(dir.logs().first()));
    QCOMPARE(lines.size(), 1 + 1 + 3 + 2);
    QCOMPARE(lines[0], QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %, "
                                  "Torque Actual %,Rotor Pos"));
    auto tail = [&](int i) { return fields(lines[i]).mid(2).join(','); };
    QCOMPARE(tail(1), QByteArray("50,-0.5,12.34,-0.5,0.75"));
    // Sample 0 still carries the torque input of the update before; the
    // new one applies from sample 1 on.
    QCOMPARE(tail(2), QByteArray("-100,-0.5,1,-0.01,0.75"));
    QCOMPARE(tail(3), QByteArray("-100,12.34,2,-0.02,0.75"));
    QCOMPARE(tail(4), QByteArray("-100,12.34,3,-0.03,0.75"));
    // An index byte beyond the samples latches nothing.
    QCOMPARE(tail(5), QByteArray("0.00305176,12.34,0,12.34,0.75"));
    QCOMPARE(tail(6), QByteArray("0.00305176,12.34,-0.5,0,0.75"));
    // The rows of one update share Time and dt.
    for (int i = 3; i <= 4; ++i)
        QCOMPARE(fields(lines[i]).mid(0, 2), fields(lines[2]).mid(0, 2));
    QVERIFY(fields(lines[5])[0] != fields(lines[4])[0]);
    for (int i = 1; i < lines.size(); ++i)
        QCOMPARE(fields(lines[i]).size(), 7);
}

void WindowLoggingTest::torqueUpdateClaimingTooManySamples()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    QVERIFY(rig.send({torqueUpdate(0, 0, 0, 0)}));
    rig.click();
    ZudUsbWheelBaseJoystickUpdate u =
        torqueUpdate(0, 100, 10, 255, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    QVERIFY(rig.send({u}));
    rig.click();
    const QList<QByteArray> lines = crlfLines(dir.read(dir.logs().first()));
    QCOMPARE(lines.size(), 1 + 11);
    QCOMPARE(fields(lines[11])[3], QByteArray("1"));    // latched at sample 10
    QCOMPARE(fields(lines[11])[4], QByteArray("0.11")); // the last sample there is
}

void WindowLoggingTest::commutationRowsOncePerAngle()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    QVERIFY(rig.send({commutationUpdate(-1.0f, 1)}));
    rig.click();
    QVERIFY(rig.send({commutationUpdate(101.5f, 2), commutationUpdate(101.5f, 3),
                      commutationUpdate(-1.0f, 4), commutationUpdate(-0.5f, 5),
                      commutationUpdate(std::numeric_limits<float>::quiet_NaN(), 6),
                      commutationUpdate(102.25f, 7), commutationUpdate(101.5f, 8)}));
    rig.click();
    const QList<QByteArray> lines = crlfLines(dir.read(dir.logs().first()));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("Time,Ticks,MechAngle,ElAngle,ElAngleEncoder,PwmU,PwmV,PwmW,"
                                  "HallU,HallV,HallW,HallPSU"));
    auto tail = [&](int i) { return fields(lines[i]).mid(1).join(','); };
    QCOMPARE(tail(1), QByteArray("2,10.5,101.5,3,0.5,0.25,0.125,1,2,-3,24"));
    QCOMPARE(tail(2), QByteArray("7,10.5,102.25,3,0.5,0.25,0.125,1,2,-3,24"));
    QCOMPARE(tail(3), QByteArray("8,10.5,101.5,3,0.5,0.25,0.125,1,2,-3,24"));

    // The last logged angle outlives the log: a new log does not repeat it.
    const QStringList before = dir.logs();
    rig.click();
    QVERIFY(rig.send({commutationUpdate(101.5f, 9)}));
    rig.click();
    QStringList logs = dir.logs();
    QCOMPARE(logs.size(), 2);
    for (const QString &old : before)
        logs.removeAll(old);
    QCOMPARE(crlfLines(dir.read(logs.value(0))), QList<QByteArray>{lines[0]});
}

void WindowLoggingTest::pedalsRows()
{
    LogDir dir;
    emu::PedalsEmulator::Config config;
    config.streamRate = 0;
    auto pedals = emu::PedalsEmulator::plug(config);
    ZUD_wheel_tool window;
    discover(window);
    auto *device = deviceOf<UsbDeviceZudPedals>(window, pedals->device());
    QVERIFY(device);
    int updates = 0;
    QObject::connect(device, &UsbDeviceZudPedals::onJoystickUpdate, &window, [&] { ++updates; });

    pedals->device()->inject(pedalsReport(1, 2, 3));
    QTRY_COMPARE(updates, 1);
    QTest::mouseClick(loggingButton(window), Qt::LeftButton);
    QCOMPARE(loggingButton(window)->text(), QStringLiteral("Stop Logging"));
    const QString name = dir.logs().value(0);
    QVERIFY2(name.startsWith(QStringLiteral("pedals-log-")), qPrintable(name));
    pedals->device()->inject(pedalsReport(0, 65535, 32768));
    pedals->device()->inject(pedalsReport(65535, 0, 1));
    QTRY_COMPARE(updates, 3);
    QTest::mouseClick(loggingButton(window), Qt::LeftButton);

    const QList<QByteArray> lines = crlfLines(dir.read(name));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QByteArray("Time,dt,x,y,z"));
    QCOMPARE(fields(lines[1]).mid(2).join(','), QByteArray("0,65535,32768"));
    QCOMPARE(fields(lines[2]).mid(2).join(','), QByteArray("65535,0,1"));
    QCOMPARE(fields(lines[2])[1].toULongLong(),
             fields(lines[2])[0].toULongLong() - fields(lines[1])[0].toULongLong());
}

void WindowLoggingTest::unknownKindAtStartGivesNoHeader()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    rig.click(); // no update yet: log kind 0
    QVERIFY(rig.send({wheelUpdate(5, 7), debugUpdate(2.0f, 3)}));
    rig.click();
    const QList<QByteArray> lines = crlfLines(dir.read(dir.logs().first()));
    QCOMPARE(lines.size(), 1);
    QCOMPARE(fields(lines[0]).size(), 6);
    QCOMPARE(fields(lines[0])[2], QByteArray("2.00"));
}

void WindowLoggingTest::secondLogInTheSameSecondKeepsTheFirst()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    QVERIFY(rig.send({debugUpdate(1.0f, 1)}));
    // Logs of this second and the next few exist already, as a log started
    // and stopped a moment ago leaves one.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int s = -1; s <= 5; ++s) {
        const QString name = QStringLiteral("wheel-log-") +
                             now.addSecs(s).toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss")) +
                             QStringLiteral(".csv");
        QFile file(QDir(dir.dir.path()).absoluteFilePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier log\r\n");
        taken << name;
    }
    rig.click();
    QVERIFY(rig.send({debugUpdate(2.0f, 2)}));
    rig.click();
    const QStringList logs = dir.logs();
    QCOMPARE(logs.size(), taken.size() + 1);
    for (const QString &name : taken)
        QCOMPARE(dir.read(name), QByteArray("earlier log\r\n"));
    QString added;
    for (const QString &name : logs)
        if (!taken.contains(name))
            added = name;
    QVERIFY2(added.endsWith(QStringLiteral("-2.csv")), qPrintable(added));
    QVERIFY(wheelLogName.match(added).hasMatch());
    QCOMPARE(crlfLines(dir.read(added)).size(), 2);
}

void WindowLoggingTest::logThatCannotBeCreated()
{
    if (!QFileInfo(QStringLiteral("/sys")).isDir())
        QSKIP("no /sys here");
    WheelRig rig;
    WHEEL_READY(rig);
    DialogAnswerer answers;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral("/sys"))); // no new files there, even for root
    rig.click();
    QDir::setCurrent(previous);

    QCOMPARE(loggingButton(rig.window)->text(), QStringLiteral("Start Logging"));
    QCOMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Unable to start logging"));
    QVERIFY2(box.text.contains(QStringLiteral("/sys/wheel-log-")), qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("ermission denied")), qPrintable(box.text));
    // Updates while nothing is open write nothing and show nothing.
    QVERIFY(rig.send({debugUpdate(1.0f, 1)}));
    QCOMPARE(answers.boxes().size(), 1);
}

void WindowLoggingTest::writeErrorStopsLoggingOnce()
{
    LogDir dir;
    WheelRig rig;
    WHEEL_READY(rig);
    DialogAnswerer answers;
    QVERIFY(rig.send({torqueUpdate(0, 0, 0, 0)}));

    // Files of this process may grow to 4 KiB; beyond that a write fails
    // (EFBIG) instead of raising SIGXFSZ.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);

    rig.click();
    const QString name = dir.logs().value(0);
    // Each update makes 11 rows of about 40 bytes: the file's 16 KiB buffer
    // spills well before 100 updates.
    bool stopped = false;
    for (int i = 0; i < 100 && !stopped; ++i) {
        QVERIFY(
            rig.send({torqueUpdate(int16_t(i), 1, 0, 11, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})}));
        stopped = loggingButton(rig.window)->text() == QStringLiteral("Start Logging");
    }
    QVERIFY(stopped);
    QTRY_COMPARE(answers.boxes().size(), 1);
    // More updates write nothing and tell nothing more.
    QVERIFY(rig.send({torqueUpdate(1, 1, 0, 11), torqueUpdate(2, 1, 0, 11)}));
    QTest::qWait(50);

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(box.text.contains(name), qPrintable(box.text));
    // What reached the file before the error is kept.
    const QByteArray kept = dir.read(name);
    QCOMPARE(kept.size(), 4096);
    QVERIFY(kept.startsWith("Time,dt,SteeringWheelAngle %"));
    // The button starts a new log again.
    rig.click();
    QCOMPARE(loggingButton(rig.window)->text(), QStringLiteral("Stop Logging"));
    rig.click();
}

ZUD_WINDOW_TEST_MAIN(WindowLoggingTest)
#include "tst_window_logging.moc"
