// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV log's bytes: headers, the rows of every kind with their number
// formats, the torque latch, the electrical-angle rule, file names, and the
// creation of a log file that never overwrites an older one.
#include "TestSupport.h"
#include "livedata/CsvLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using testing::wheelUpdate;

ZudUsbWheelBaseJoystickUpdate torqueUpdate(int16_t axis, int16_t torqueIn, uint8_t inSample,
                                           uint8_t count)
{
    ZudUsbWheelBaseJoystickUpdate update = wheelUpdate(axis, 2);
    update.torque.torqueIn = torqueIn;
    update.torque.torqueInSample = inSample;
    update.torque.sampleCount = count;
    for (int j = 0; j < zudMaxTorqueSamples; ++j) {
        update.torque.torqueOut[j] = int16_t(100 * (j + 1));
        update.torque.torqueActual[j] = int16_t(-10 * (j + 1));
    }
    update.torque.rotorPos = 1.5f;
    return update;
}

ZudUsbWheelBaseJoystickUpdate commutationUpdate(float elAngle)
{
    ZudUsbWheelBaseJoystickUpdate update = wheelUpdate(0, 3);
    ZudUsbWheelBaseCommutation &c = update.commutation;
    c.ticks = 4000000000u;
    c.mechAngle = 0.5f;
    c.elAngle = elAngle;
    c.elAngleEncoder = 2.25f;
    c.pwmU = 0.1f;
    c.pwmV = 0.2f;
    c.pwmW = 0.3f;
    c.hallU = 1.0f;
    c.hallV = 2.0f;
    c.hallPsu = 12.0f;
    return update;
}

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> result = text.split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

} // namespace

class CsvLogTest : public QObject {
    Q_OBJECT

private slots:
    void headersByteForByte();
    void numberFormats_data();
    void numberFormats();
    void computedColumnsInSinglePrecision();
    void debugRow();
    void torqueRowsAndLatch();
    void torqueLatchCarriesOverAndIgnoresLateIndex();
    void torqueRowsNeverReadPastTheRecord();
    void electricalAngleRule();
    void commutationRow();
    void pedalsRow();
    void fileNames();
    void newLogNeverTruncatesAnOldOne();
    void logThatCannotBeCreated();
};

void CsvLogTest::headersByteForByte()
{
    QCOMPARE(wheelLogHeader(1),
             QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %\r\n"));
    QCOMPARE(wheelLogHeader(2), QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT "
                                           "%, Torque Actual %,Rotor Pos\r\n"));
    QCOMPARE(wheelLogHeader(3), QByteArray("Time,Ticks,MechAngle,ElAngle,ElAngleEncoder,PwmU,"
                                           "PwmV,PwmW,HallU,HallV,HallW,HallPSU\r\n"));
    QCOMPARE(pedalsLogHeader(), QByteArray("Time,dt,x,y,z\r\n"));
    for (uint16_t kind : {0, 4, 255, 256})
        QVERIFY2(wheelLogHeader(kind).isEmpty(), qPrintable(QString::number(kind)));
}

void CsvLogTest::numberFormats_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QByteArray>("general");
    QTest::addColumn<QByteArray>("fixed2");
    QTest::newRow("12.5") << 12.5f << QByteArray("12.5") << QByteArray("12.50");
    QTest::newRow("100") << 100.0f << QByteArray("100") << QByteArray("100.00");
    QTest::newRow("1234567") << 1234567.0f << QByteArray("1.23457e+06") << QByteArray("1234567.00");
    QTest::newRow("small") << 0.00001f << QByteArray("1e-05") << QByteArray("0.00");
    // The float nearest 0.1 widened to double is 0.10000000149...
    QTest::newRow("0.1") << 0.1f << QByteArray("0.1") << QByteArray("0.10");
    QTest::newRow("negative") << -0.125f << QByteArray("-0.125") << QByteArray("-0.12");
    // Ties round as printf does, on the exact binary value.
    QTest::newRow("tie") << 12.125f << QByteArray("12.125") << QByteArray("12.12");
    QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << QByteArray("nan")
                         << QByteArray("nan");
    QTest::newRow("zero") << 0.0f << QByteArray("0") << QByteArray("0.00");
}

void CsvLogTest::numberFormats()
{
    QFETCH(float, value);
    QFETCH(QByteArray, general);
    QFETCH(QByteArray, fixed2);
    QCOMPARE(csvGeneral(value), general);
    QCOMPARE(csvFixed2(value), fixed2);
    QCOMPARE(csvInteger(18446744073709551615ull), QByteArray("18446744073709551615"));
    QCOMPARE(csvInteger(0), QByteArray("0"));
}

void CsvLogTest::computedColumnsInSinglePrecision()
{
    QCOMPARE(csvGeneral(steeringPercent(16384)), QByteArray("50"));
    QCOMPARE(csvGeneral(steeringPercent(-32768)), QByteArray("-100"));
    QCOMPARE(csvGeneral(steeringPercent(1)), QByteArray("0.00305176"));
    QCOMPARE(csvGeneral(torquePercent(1234)), QByteArray("12.34"));
    QCOMPARE(csvGeneral(torquePercent(-50)), QByteArray("-0.5"));
    QCOMPARE(csvGeneral(hallW(1.0f, 2.0f)), QByteArray("-3"));
}

void CsvLogTest::debugRow()
{
    ZudUsbWheelBaseJoystickUpdate update = wheelUpdate(123, 1);
    update.debug.ticks = 4000000000u;
    update.debug.motorAngle = 12.5f;
    update.debug.ffbIn = 0.25f;
    update.debug.ffbOut = 1234567.0f;
    QByteArray out("old,");
    appendDebugRow(out, update, 1700000000000001ull, 16000);
    QCOMPARE(out, QByteArray("old,1700000000000001,16000,12.50,0.25,1.23457e+06,4000000000\r\n"));
    // Six fields, the last being the tick counter, though the header names
    // five columns.
    QCOMPARE(out.mid(4).trimmed().split(',').size(), 6);
}

void CsvLogTest::torqueRowsAndLatch()
{
    float latched = -0.5f; // from an earlier update
    QByteArray out;
    const int rows = appendTorqueRows(out, torqueUpdate(16384, 1234, 1, 3), 77, 16, latched);
    QCOMPARE(rows, 3);
    QCOMPARE(latched, 12.34f);
    const QList<QByteArray> l = lines(out);
    QCOMPARE(l.size(), 3);
    QCOMPARE(l[0], QByteArray("77,16,50,-0.5,1,-0.1,1.5\r"));
    QCOMPARE(l[1], QByteArray("77,16,50,12.34,2,-0.2,1.5\r"));
    QCOMPARE(l[2], QByteArray("77,16,50,12.34,3,-0.3,1.5\r"));
    QVERIFY(out.endsWith("\r\n"));
}

void CsvLogTest::torqueLatchCarriesOverAndIgnoresLateIndex()
{
    float latched = 0.0f;
    QByteArray out;
    // Latched at sample 0 of the first update...
    appendTorqueRows(out, torqueUpdate(-32768, -50, 0, 1), 1, 1, latched);
    QCOMPARE(out, QByteArray("1,1,-100,-0.5,1,-0.1,1.5\r\n"));
    // ...and carried through an update whose index byte is not below its
    // sample count.
    out.clear();
    appendTorqueRows(out, torqueUpdate(1, 999, 2, 2), 2, 1, latched);
    QCOMPARE(latched, -0.5f);
    QCOMPARE(lines(out).size(), 2);
    QVERIFY(lines(out)[1].startsWith("2,1,0.00305176,-0.5,2,"));
    // No samples: no rows and no latch, even at index 0.
    out.clear();
    QCOMPARE(appendTorqueRows(out, torqueUpdate(0, 700, 0, 0), 3, 1, latched), 0);
    QVERIFY(out.isEmpty());
    QCOMPARE(latched, -0.5f);
}

void CsvLogTest::torqueRowsNeverReadPastTheRecord()
{
    // A device claiming 200 samples: the record holds 11; the bytes after
    // the arrays (the rotor position) are not samples.
    ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(0, 1000, 10, 200);
    float latched = 0.0f;
    QByteArray out;
    QCOMPARE(appendTorqueRows(out, update, 5, 5, latched), 11);
    const QList<QByteArray> l = lines(out);
    QCOMPARE(l.size(), 11);
    QCOMPARE(l[10], QByteArray("5,5,0,10,11,-1.1,1.5\r"));
    QCOMPARE(l[9], QByteArray("5,5,0,0,10,-1,1.5\r"));
    // An index beyond the 11 samples latches nothing.
    update.torque.torqueInSample = 11;
    latched = 0.0f;
    out.clear();
    appendTorqueRows(out, update, 5, 5, latched);
    QCOMPARE(latched, 0.0f);
}

void CsvLogTest::electricalAngleRule()
{
    float last = -1.0f;
    QVERIFY(!takeElectricalAngle(-1.0f, last));
    QVERIFY(!takeElectricalAngle(-0.5f, last));
    QVERIFY(!takeElectricalAngle(std::numeric_limits<float>::quiet_NaN(), last));
    QCOMPARE(last, -1.0f);
    QVERIFY(takeElectricalAngle(0.0f, last)); // 0 is not below 0
    QVERIFY(!takeElectricalAngle(0.0f, last));
    QVERIFY(takeElectricalAngle(3.0f, last));
    QVERIFY(!takeElectricalAngle(3.0f, last));
    QVERIFY(!takeElectricalAngle(-2.0f, last));
    QCOMPARE(last, 3.0f);
    QVERIFY(takeElectricalAngle(std::numeric_limits<float>::infinity(), last));
}

void CsvLogTest::commutationRow()
{
    float last = -1.0f;
    QByteArray out;
    QVERIFY(appendCommutationRow(out, commutationUpdate(1.75f), 99, last));
    QCOMPARE(out, QByteArray("99,4000000000,0.5,1.75,2.25,0.1,0.2,0.3,1,2,-3,12\r\n"));
    QCOMPARE(out.trimmed().split(',').size(), 12);
    QVERIFY(!appendCommutationRow(out, commutationUpdate(1.75f), 100, last));
    QVERIFY(!appendCommutationRow(out, commutationUpdate(-1.0f), 101, last));
    QCOMPARE(lines(out).size(), 1);
}

void CsvLogTest::pedalsRow()
{
    ZudUsbPedalsJoystickUpdate update;
    std::memset(&update, 0, sizeof update);
    update.x = 0;
    update.y = 65535;
    update.z = 32768;
    QByteArray out;
    appendPedalsRow(out, update, 18446744073709551615ull, 0);
    QCOMPARE(out, QByteArray("18446744073709551615,0,0,65535,32768\r\n"));
}

void CsvLogTest::fileNames()
{
    const QDateTime t(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(logFileName(QStringLiteral("wheel-log-"), t),
             QStringLiteral("wheel-log-2024-03-05-14-07-09.csv"));
    QCOMPARE(logFileName(QStringLiteral("pedals-log-"),
                         QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58))),
             QStringLiteral("pedals-log-2024-12-31-23-59-58.csv"));
    const QString name = QStringLiteral("wheel-log-2024-03-05-14-07-09.csv");
    QCOMPARE(numberedLogFileName(name, 1), name);
    QCOMPARE(numberedLogFileName(name, 2), QStringLiteral("wheel-log-2024-03-05-14-07-09-2.csv"));
    QCOMPARE(numberedLogFileName(name, 13), QStringLiteral("wheel-log-2024-03-05-14-07-09-13.csv"));
}

void CsvLogTest::newLogNeverTruncatesAnOldOne()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir d(dir.path());
    const QString name = QStringLiteral("wheel-log-2024-03-05-14-07-09.csv");

    QFile first;
    QString reason;
    QVERIFY(openNewLogFile(first, d, name, &reason));
    QCOMPARE(first.fileName(), d.absoluteFilePath(name));
    first.write("first\r\n");
    first.close();

    // A second log in the same second, and a third; a dangling link also
    // counts as taken.
    QFile second, third;
    QVERIFY(openNewLogFile(second, d, name, &reason));
    QCOMPARE(second.fileName(), d.absoluteFilePath("wheel-log-2024-03-05-14-07-09-2.csv"));
    QVERIFY(QFile::link(d.absoluteFilePath("nowhere"),
                        d.absoluteFilePath("wheel-log-2024-03-05-14-07-09-3.csv")));
    QVERIFY(openNewLogFile(third, d, name, &reason));
    QCOMPARE(third.fileName(), d.absoluteFilePath("wheel-log-2024-03-05-14-07-09-4.csv"));
    QVERIFY(!QFileInfo::exists(d.absoluteFilePath("nowhere")));

    QFile check(d.absoluteFilePath(name));
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("first\r\n"));
}

void CsvLogTest::logThatCannotBeCreated()
{
    // sysfs refuses new files, even to root.
    const QDir sys(QStringLiteral("/sys"));
    if (!sys.exists())
        QSKIP("no /sys here");
    QFile file;
    QString reason;
    QVERIFY(!openNewLogFile(file, sys, QStringLiteral("wheel-log-x.csv"), &reason));
    QVERIFY(!file.isOpen());
    QCOMPARE(file.fileName(), QStringLiteral("/sys/wheel-log-x.csv"));
    QVERIFY(!reason.isEmpty());
}

QTEST_GUILESS_MAIN(CsvLogTest)
#include "tst_csvlog.moc"
