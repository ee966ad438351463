// SPDX-License-Identifier: GPL-3.0-or-later
// The lock that lets programs take turns with one device: its file names,
// the holder it names, and a lock left by a program that died.
#include "usb/DeviceLock.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestDeviceLock : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;

private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit()); }

    void namesStandForOneDeviceEach()
    {
        const QStringList names{
            DeviceLock::lockName("ZWB-0001", 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName("ZWB/0001", 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName("ZWB_0001", 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName("ZWB%2F0001", 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName(QString::fromUtf8("Ä1"), 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName(QString::fromUtf8("Ö1"), 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName(QString(), 0x483, 0xA355, "/dev/hidraw3"),
            DeviceLock::lockName(QString(), 0x483, 0xA355, "/dev/hidraw4"),
            DeviceLock::lockName(QString(), 0x483, 0xA112, "/dev/hidraw3"),
            DeviceLock::lockName(QString(), 0x483, 0xA355, "\\\\?\\hid#vid_0483&pid_a355#7&1"),
        };
        for (const QString &name : names) {
            QVERIFY2(QRegularExpression("^[A-Za-z0-9._%~-]+\\.lock$").match(name).hasMatch(),
                     qPrintable(name));
            QVERIFY(name.size() < 255);
        }
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        // The same device gives the same name in every program.
        QCOMPARE(DeviceLock::lockName("ZWB-0001", 1, 2, "/dev/hidraw9"), names.first());
    }

    void holderIsNamedAndDeadHolderTakenOver()
    {
        DeviceLock first("ZWB-0002", 0x483, 0xA355, "/dev/hidraw1");
        DeviceLock second("ZWB-0002", 0x483, 0xA355, "/dev/hidraw1");
        QVERIFY(first.filePath().startsWith(runtime.path() + "/zud-wheel-tool/"));
        QVERIFY(first.tryLock("is saving its profiles"));
        QVERIFY(!second.tryLock("is loading its profiles"));
        QVERIFY(second.error().isEmpty());
        QCOMPARE(second.holder(),
                 QStringLiteral("%1 (pid %2) is saving its profiles")
                     .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
                     .arg(QCoreApplication::applicationPid()));
        first.unlock();
        QVERIFY(second.tryLock("is loading its profiles"));
        second.unlock();

        // A lock whose holder has ended is no one's.
        QProcess gone;
        gone.start("true", QStringList());
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QFile stale(first.filePath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::number(pid) + "\ntrue\n" + QSysInfo::machineHostName().toUtf8() +
                    "\n");
        stale.close();
        QVERIFY(first.tryLock("is centring the rim"));
    }
};

QTEST_GUILESS_MAIN(TestDeviceLock)
#include "tst_devicelock.moc"
