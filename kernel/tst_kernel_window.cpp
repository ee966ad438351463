// The window, offscreen, on kernel HID devices: a wheel base goes through
// "Enter Bootloader", a firmware update chosen in the file dialog, and
// "Exit Bootloader", the two switches each a real unplug and replug of a
// hidraw node.
// Runs inside the test machine (make test-kernel).
#include "KernelTestSupport.h"
#include "app/ZUD_wheel_tool.h"
#include "tests/DialogAnswerer.h"
#include "tests/FindChild.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
};

ZUD_WINDOW_TEST_MAIN(TestKernelWindow)

#include "tst_kernel_window.moc"
