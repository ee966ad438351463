// SPDX-License-Identifier: GPL-3.0-or-later
// The window, offscreen, on kernel HID devices: a wheel base goes through
// "Enter Bootloader", a firmware update chosen in the file dialog, and
// "Exit Bootloader", the two switches each a real unplug and replug of a
// hidraw node; and the window program, ended by SIGTERM during a step test,
// releases the force on the device before it ends.
// Runs inside the test machine (make test-kernel).
#include "KernelTestSupport.h"
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "tests/support/DialogAnswerer.h"
#include "tests/support/FindChild.h"
#include "tests/support/StepTestDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The test forces a wheel base received, in order, from the reports it was
// sent (64 bytes each): command 9, test kind 0, the force in bytes 4 to 7.
QList<float> testForcesIn(const QByteArray &reports)
{
    QList<float> forces;
    for (int at = 0; at + 64 <= reports.size(); at += 64) {
        const char *r = reports.constData() + at;
        if (r[1] == 9 && r[2] == 3 && r[3] == 0) {
            float force = 0;
            std::memcpy(&force, r + 4, sizeof force);
            forces << force;
        }
    }
    return forces;
}

// The child of window_releasesTestForceOnSigterm: the window program,
// driven into a step test; says "started" and, when the force is
// released, "released timeUp=0|1" on standard output.
int runWindowChild(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    return zudMain(argc, argv, [](ZUD_wheel_tool &window) {
        wintest::startStepTest(
            window,
            [] {
                std::puts("started");
                std::fflush(stdout);
            },
            [](bool timeUp) {
                std::printf("released timeUp=%d\n", int(timeUp));
                std::fflush(stdout);
            });
    });
}

} // namespace

class TestKernelWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(::access("/dev/uhid", R_OK | W_OK) == 0,
                 "these tests run inside the test machine (make test-kernel)");
    }

    // The device list and the bootloader button through a real unplug and
    // replug each way. A file dialog that the bootloader brings up is
    // cancelled: this test updates nothing.
    void window_followsWheelBaseIntoBootloaderAndBack()
    {
        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20") > 0);
        const QString wheelLine = emu.takeEvent("plugged");

        wintest::DialogAnswerer answerer(20); // no file to choose: the dialog is cancelled
        ZUD_wheel_tool window;
        window.show();
        auto *devices = wintest::child<QComboBox>(window, "comboBox_UsbDevice");
        auto *bootButton = wintest::child<QPushButton>(window, "pushButton_EnterExitBootloader");
        QVERIFY(ktest::spinUntil([&] { return devices->count() == 1; }));
        QCOMPARE(devices->currentData().toString(), wheelLine.section(' ', 3, 3));
        QCOMPARE(bootButton->text(), QString("Enter Bootloader"));

        bootButton->click();
        const QString bootLine = emu.takeEvent("plugged", 60000);
        QVERIFY(bootLine.endsWith("ZUD Wheel Base Bootloader"));
        QVERIFY(ktest::spinUntil([&] {
            return devices->count() == 1 &&
                   devices->currentData().toString() == bootLine.section(' ', 3, 3);
        }));
        QVERIFY(ktest::spinUntil([&] { return bootButton->text() == "Exit Bootloader"; }));

        bootButton->click();
        const QString backLine = emu.takeEvent("plugged", 60000);
        QVERIFY(backLine.endsWith(" ZUD Wheel Base"));
        QVERIFY(ktest::spinUntil([&] {
            return devices->count() == 1 &&
                   devices->currentData().toString() == backLine.section(' ', 3, 3) &&
                   bootButton->text() == "Enter Bootloader";
        }));
        for (const QString &seen : answerer.summary())
            QVERIFY2(seen.startsWith("file dialog: "), qPrintable(seen)); // no message box
    }

    // "Enter Bootloader", the file chosen in the dialog that selecting the
    // bootloader opens, the transfer to its success box, "Exit Bootloader".
    void window_updatesFirmwareBetweenBothReplugs()
    {
        QTemporaryDir dir;
        const QString firmware = dir.filePath("new.fw");
        QByteArray image(64 * 1024, 0);
        QRandomGenerator random(7);
        for (int i = 0; i < image.size(); i += 4) {
            const quint32 v = random.generate();
            std::memcpy(image.data() + i, &v, 4);
        }
        {
            QFile f(firmware);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(image), qint64(image.size()));
        }

        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20") > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        wintest::DialogAnswerer answerer(20);
        answerer.files << firmware;
        ZUD_wheel_tool window;
        window.show();
        auto *devices = wintest::child<QComboBox>(window, "comboBox_UsbDevice");
        auto *bootButton = wintest::child<QPushButton>(window, "pushButton_EnterExitBootloader");
        QVERIFY(ktest::spinUntil([&] { return devices->count() == 1; }));
        QCOMPARE(bootButton->text(), QString("Enter Bootloader"));

        bootButton->click();
        const QString bootLine = emu.takeEvent("plugged", 60000);
        QVERIFY(bootLine.endsWith("ZUD Wheel Base Bootloader"));
        const int bootTag = bootLine.section(' ', 1, 1).toInt();
        const QString success = "Firmware update: Update completed successfully!";
        QVERIFY(ktest::spinUntil([&] { return answerer.summary().contains(success); }, 600000));
        QCOMPARE(answerer.summary(), (QStringList{"file dialog: Open new FW File", success}));
        QCOMPARE(devices->count(), 1);
        QCOMPARE(devices->currentData().toString(), bootLine.section(' ', 3, 3));
        QCOMPARE(bootButton->text(), QString("Exit Bootloader"));

        const QString dump = dir.filePath("received");
        const QString answer = emu.command(QString("image %1 %2").arg(bootTag).arg(dump));
        QVERIFY2(answer.startsWith("ok 65536 ended=1 crcMismatches=0 missing=0"),
                 qPrintable(answer));
        QVERIFY(readFile(dump) == image);

        bootButton->click();
        const QString backLine = emu.takeEvent("plugged", 60000);
        QVERIFY(backLine.endsWith(" ZUD Wheel Base"));
        QVERIFY(ktest::spinUntil(
            [&] { return devices->count() == 1 && bootButton->text() == "Enter Bootloader"; }));
        QCOMPARE(devices->currentData().toString(), backLine.section(' ', 3, 3));
        QCOMPARE(answerer.seen.size(), 2); // no second file dialog, no error box
    }

    // SIGTERM to the window program during a step test: the wheel base
    // receives a test force of 0 before the program ends.
    void window_releasesTestForceOnSigterm()
    {
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int tag = emu.plug("plug wheel 100");
        QVERIFY(tag > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        QTemporaryDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZUD_KERNEL_WINDOW_CHILD", "1");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(dir.path());
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QByteArray out;
        QVERIFY(ktest::spinUntil(
            [&] {
                out += child.readAllStandardOutput();
                return out.contains("started\n") || child.state() == QProcess::NotRunning;
            },
            120000));
        QVERIFY2(out.contains("started\n"), out.constData());
        child.terminate(); // SIGTERM
        QVERIFY(child.waitForFinished(60000));
        out += child.readAllStandardOutput();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 128 + SIGTERM);
        if (out.contains("released timeUp=1"))
            QSKIP("the step test's 3 s ran out before the signal came: this machine is too slow");
        QVERIFY2(out.contains("released timeUp=0"), out.constData());

        const QString record = dir.filePath("written");
        QVERIFY(emu.command(QString("written %1 %2").arg(tag).arg(record)).startsWith("ok "));
        const QList<float> forces = testForcesIn(readFile(record));
        QVERIFY2(forces.size() >= 2 && forces.contains(0.05f),
                 qPrintable(QString::number(forces.size())));
        QCOMPARE(forces.last(), 0.0f);
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("ZUD_KERNEL_WINDOW_CHILD"))
        return runWindowChild(argc, argv);
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestKernelWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kernel_window.moc"
