// SPDX-License-Identifier: GPL-3.0-or-later
// The tool on the real Linux HID stack: hidapi's hidraw backend, the kernel's
// hidraw nodes, udev's enumeration over sysfs and our read layer on real
// descriptors, against devices that zud_uhid creates through uhid. Runs
// inside the test machine (make test-kernel), where /dev/uhid exists.
#include "KernelTestSupport.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "usb/UsbManager.h"

#include <QFile>
#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <unistd.h>

namespace {

bool passFor(UsbManager &manager, uint16_t productId)
{
    bool result = false;
    QMetaObject::invokeMethod(&manager, "doRescanForZudDevices", Qt::DirectConnection,
                              Q_RETURN_ARG(bool, result), Q_ARG(uint16_t, 0x0483),
                              Q_ARG(uint16_t, productId));
    return result;
}

uint32_t sequenceOf(const uint8_t *report)
{
    uint32_t s;
    std::memcpy(&s, report + 3, 4);
    return s;
}

// The hidraw node of a device from its "plugged <tag> <ids> <node> ..." line.
QString nodeOf(const QString &plugged)
{
    return plugged.section(' ', 3, 3);
}

QString hexReport(const QByteArray &bytes)
{
    QStringList parts;
    for (char c : bytes)
        parts << QString::number(uint8_t(c), 16);
    return parts.join(' ');
}

// Everything a manager announced, and the joystick sequence numbers that
// reached each device, by device id.
struct Watcher : QObject {
    QStringList connected;
    QStringList disconnected;
    QMap<QString, QString> kinds;
    QMap<QString, QList<uint32_t>> sequences;
    QStringList settingsLoaded;

    void follow(UsbManager &manager)
    {
        connect(&manager, &UsbManager::onDeviceConnected, this, [this](UsbDevice *d) {
            const QString id = d->getId();
            connected << id;
            kinds[id] = d->metaObject()->className();
            if (auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(d)) {
                connect(wheel, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                        [this, id](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *u, uint64_t) {
                            sequences[id] << sequenceOf(reinterpret_cast<uint8_t *>(u) - 1);
                        });
            } else if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(d)) {
                connect(pedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                        [this, id](UsbDevice *, ZudUsbPedalsJoystickUpdate *u, uint64_t) {
                            sequences[id] << sequenceOf(reinterpret_cast<uint8_t *>(u) - 1);
                        });
            } else if (auto *boot = qobject_cast<UsbDeviceZudBootloader *>(d)) {
                connect(boot, &UsbDeviceZudBootloader::onSettingsLoaded, this,
                        [this, id](UsbDevice *) { settingsLoaded << id; });
            }
        });
        connect(&manager, &UsbManager::onDeviceDisconnected, this,
                [this](UsbDevice *d) { disconnected << d->getId(); });
    }

    UsbDevice *find(UsbManager &manager, const QString &id) { return manager.getDevice(id); }
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray tableOf(const UsbDeviceZudWheelBase &wheel)
{
    return QByteArray(reinterpret_cast<const char *>(wheel.profiles),
                      int(sizeof(ZudUsbWheelBaseProfile)) * wheel.profileCount);
}

QList<uint32_t> upTo(uint32_t count)
{
    QList<uint32_t> out;
    for (uint32_t i = 0; i < count; ++i)
        out << i;
    return out;
}

} // namespace

class TestKernelHid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(::access("/dev/uhid", R_OK | W_OK) == 0,
                 "these tests run inside the test machine (make test-kernel)");
    }

    void probe_data()
    {
        QTest::addColumn<QStringList>("plugs");
        QTest::addColumn<bool>("found");
        QTest::newRow("nothing") << QStringList() << false;
        QTest::newRow("wheel base") << QStringList{"wheel 0"} << true;
        QTest::newRow("pedals only") << QStringList{"pedals 0"} << false;
        QTest::newRow("bootloader") << QStringList{"boot"} << true;
        QTest::newRow("unnamed a355") << QStringList{"echo a355 Gadget"} << false;
        QTest::newRow("pedals and wheel base") << QStringList{"pedals 0", "wheel 0"} << true;
    }
    void probe()
    {
        QFETCH(QStringList, plugs);
        QFETCH(bool, found);
        ktest::Emulator emu;
        QVERIFY(emu.start());
        QList<int> tags;
        for (const QString &p : plugs) {
            tags << emu.plug("plug " + p);
            QVERIFY(tags.last() > 0);
        }

        QProcess tool;
        tool.start(ktest::programPath("ZUD_TOOL", "../ZUD_wheel_tool"), {"--has-usb-device"});
        QVERIFY(tool.waitForFinished(120000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), found ? 0 : 1);
        QCOMPARE(tool.readAllStandardOutput(),
                 QByteArray(found ? "Found ZUD USB device.\n" : "No ZUD USB device found.\n"));

        // The probe opens a device of product id 0xA355 once, sends it
        // nothing and closes it; the pedals' id is not asked for.
        for (int i = 0; i < plugs.size(); ++i) {
            const bool asked = !plugs[i].startsWith("pedals");
            QCOMPARE(emu.stat(tags[i], "opens"), asked ? 1 : 0);
            QCOMPARE(emu.stat(tags[i], "closes"), asked ? 1 : 0);
            QCOMPARE(emu.stat(tags[i], "outputs"), 0);
        }
    }

    void manager_readsThreeKindsAtOnceAndAnnouncesAnUnplugOnce()
    {
        ktest::Emulator emu;
        QVERIFY(emu.start());
        // The emulators stream nothing themselves: the numbered streams below
        // go straight into the kernel devices.
        const int wheel = emu.plug("plug wheel 0");
        const int pedals = emu.plug("plug pedals 0");
        const int boot = emu.plug("plug boot");
        QVERIFY(wheel > 0 && pedals > 0 && boot > 0);
        const QString wheelId = nodeOf(emu.takeEvent(QString("plugged %1 ").arg(wheel)));
        const QString pedalsId = nodeOf(emu.takeEvent(QString("plugged %1 ").arg(pedals)));
        const QString bootId = nodeOf(emu.takeEvent(QString("plugged %1 ").arg(boot)));

        UsbManager manager{createZudDevice};
        Watcher w;
        w.follow(manager);
        QVERIFY(manager.rescanForZudDevices());
        QVERIFY(passFor(manager, 0xA112));
        QCOMPARE(w.connected.size(), 3);
        QCOMPARE(w.kinds.value(wheelId), QString("UsbDeviceZudWheelBase"));
        QCOMPARE(w.kinds.value(pedalsId), QString("UsbDeviceZudPedals"));
        QCOMPARE(w.kinds.value(bootId), QString("UsbDeviceZudBootloader"));
        QCOMPARE(w.find(manager, wheelId)->getProductString(), QString("ZUD Wheel Base"));

        manager.start();
        // Both streams and the bootloader's exchange run at the same time,
        // all read by the one reader thread.
        QCOMPARE(emu.command(QString("stream %1 100 100").arg(wheel)), QString("ok"));
        QCOMPARE(emu.command(QString("stream %1 100 100").arg(pedals)), QString("ok"));
        qobject_cast<UsbDeviceZudBootloader *>(w.find(manager, bootId))->loadSettings();
        QVERIFY(ktest::spinUntil([&] {
            return w.sequences.value(wheelId).size() >= 100 &&
                   w.sequences.value(pedalsId).size() >= 100 && !w.settingsLoaded.isEmpty();
        }));
        QCOMPARE(w.sequences.value(wheelId), upTo(100));
        QCOMPARE(w.sequences.value(pedalsId), upTo(100));
        QCOMPARE(w.settingsLoaded, QStringList{bootId});

        QCOMPARE(emu.command(QString("unplug %1").arg(pedals)), QString("ok"));
        QVERIFY(ktest::spinUntil([&] { return w.disconnected.contains(pedalsId); }));
        ktest::spin(2500); // two more discovery passes
        QCOMPARE(w.disconnected, QStringList{pedalsId});
        QCOMPARE(manager.getDevices().size(), 2);
        QCOMPARE(w.connected.size(), 3);

        manager.stop();
        QCOMPARE(w.disconnected.size(), 3);
        QCOMPARE(w.disconnected.count(pedalsId), 1);
    }

    void settings_hundredProfilesLoadAndSaveThroughTheKernel()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int tag = emu.plug("plug wheel 20 100");
        QVERIFY(tag > 0);
        const QString dump = dir.filePath("profiles");
        QVERIFY(
            emu.command(QString("profiles %1 %2").arg(tag).arg(dump)).startsWith("ok count=100"));
        const QByteArray factory = readFile(dump);
        QCOMPARE(factory.size(), 100 * int(sizeof(ZudUsbWheelBaseProfile)));

        UsbManager manager{createZudDevice};
        Watcher w;
        w.follow(manager);
        QVERIFY(manager.rescanForZudDevices());
        auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(manager.getDevices().value(0));
        QVERIFY(wheel);
        QStringList failures;
        int loaded = 0, saved = 0;
        connect(wheel, &UsbDeviceZudWheelBase::onSettingsLoaded, [&] { ++loaded; });
        connect(wheel, &UsbDeviceZudWheelBase::onSettingsSaved, [&] { ++saved; });
        connect(wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed,
                [&](UsbDevice *, QString message) { failures << message; });
        manager.start();

        wheel->loadSettings();
        QVERIFY(ktest::spinUntil([&] { return loaded > 0 || !failures.isEmpty(); }, 120000));
        QCOMPARE(failures, QStringList());
        QCOMPARE(int(wheel->profileCount), 100);
        QCOMPARE(tableOf(*wheel), factory);

        for (int i = 0; i < 100; ++i) {
            ZudUsbWheelBaseProfile &p = wheel->profiles[i];
            std::memset(p.name, 0, sizeof p.name);
            const QByteArray name = QString("Kernel %1").arg(i).toUtf8();
            std::memcpy(p.name, name.constData(), size_t(name.size()));
            p.rotationDegrees = 180 + 7 * i;
            p.maxForce = i;
            p.damping = int8_t(10 * (i % 11));
        }
        wheel->currentProfile = 42;
        wheel->saveSettings();
        QVERIFY(ktest::spinUntil([&] { return saved > 0 || !failures.isEmpty(); }, 120000));
        QCOMPARE(failures, QStringList());
        const QString answer = emu.command(QString("profiles %1 %2").arg(tag).arg(dump));
        QVERIFY2(answer.startsWith("ok count=100 current=42 "), qPrintable(answer));
        QCOMPARE(readFile(dump), tableOf(*wheel));
        QCOMPARE(loaded, 1);
        QCOMPARE(saved, 1);
        manager.stop();
    }

    // Enter Bootloader, a 256 KiB image, Exit Bootloader: every step is a
    // real unplug and replug of a kernel device.
    void firmware_randomImageArrivesBitForBitAcrossBothReplugs()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int wheelTag = emu.plug("plug wheel 20 5");
        QVERIFY(wheelTag > 0);
        const QString wheelId = nodeOf(emu.takeEvent("plugged"));
        const QString tableBefore = dir.filePath("before");
        QVERIFY(emu.command(QString("profiles %1 %2").arg(wheelTag).arg(tableBefore))
                    .startsWith("ok count=5 "));

        UsbManager manager{createZudDevice};
        Watcher w;
        w.follow(manager);
        manager.start();
        QVERIFY(ktest::spinUntil([&] { return w.connected.size() == 1; }));
        auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(manager.getDevice(wheelId));
        QVERIFY(wheel);
        wheel->enterBootloader();

        const QString bootLine = emu.takeEvent("plugged", 60000);
        QVERIFY(!bootLine.isNull());
        QVERIFY(!emu.takeEvent(QString("unplugged %1 ").arg(wheelTag), 1000).isNull());
        QVERIFY(bootLine.endsWith("ZUD Wheel Base Bootloader"));
        const int bootTag = bootLine.section(' ', 1, 1).toInt();
        const QString bootId = nodeOf(bootLine);
        QVERIFY(ktest::spinUntil([&] { return w.connected.size() == 2; }));
        QCOMPARE(w.disconnected, QStringList{wheelId});
        QCOMPARE(w.connected.last(), bootId);
        auto *boot = qobject_cast<UsbDeviceZudBootloader *>(manager.getDevice(bootId));
        QVERIFY(boot);

        QByteArray image(256 * 1024, 0);
        QRandomGenerator random(20261207);
        for (int i = 0; i < image.size(); i += 4) {
            const quint32 v = random.generate();
            std::memcpy(image.data() + i, &v, 4);
        }
        int completed = 0, lastProgress = -1, total = 0;
        QStringList failures;
        connect(boot, &UsbDeviceZudBootloader::onUpdateCompleted, [&] { ++completed; });
        connect(boot, &UsbDeviceZudBootloader::onUpdateFailed,
                [&](UsbDevice *, QString message) { failures << message; });
        connect(boot, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, [&](int current, int n) {
            lastProgress = current;
            total = n;
        });
        boot->updateFirmware(image);
        QVERIFY(ktest::spinUntil([&] { return completed > 0 || !failures.isEmpty(); }, 600000));
        QCOMPARE(failures, QStringList());
        QCOMPARE(total, image.size() / 32);
        QCOMPARE(lastProgress, total);

        const QString dump = dir.filePath("image");
        const QString answer = emu.command(QString("image %1 %2").arg(bootTag).arg(dump));
        QVERIFY2(answer.startsWith("ok 262144 ended=1 crcMismatches=0 missing=0"),
                 qPrintable(answer));
        QVERIFY(readFile(dump) == image);

        boot->exitBootloader();
        const QString backLine = emu.takeEvent("plugged", 60000);
        QVERIFY(backLine.endsWith(" ZUD Wheel Base"));
        // The profile table lives in the device's flash.
        const QString tableAfter = dir.filePath("after");
        QVERIFY(
            emu.command(QString("profiles %1 %2").arg(backLine.section(' ', 1, 1)).arg(tableAfter))
                .startsWith("ok count=5 "));
        QCOMPARE(readFile(tableAfter), readFile(tableBefore));
        QVERIFY(ktest::spinUntil([&] { return w.connected.size() == 3; }));
        QCOMPARE(w.disconnected, (QStringList{wheelId, bootId}));
        QCOMPARE(w.kinds.value(w.connected.last()), QString("UsbDeviceZudWheelBase"));
        manager.stop();
    }

    void manager_followsADeviceThatReplugsAsAnotherKind()
    {
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int wheel = emu.plug("plug echo a355 ZUD Wheel Base");
        QVERIFY(wheel > 0);
        const QString wheelId = nodeOf(emu.takeEvent("plugged"));

        UsbManager manager{createZudDevice};
        Watcher w;
        w.follow(manager);
        manager.start();
        QVERIFY(ktest::spinUntil([&] { return w.connected.size() == 1; }));
        QCOMPARE(w.connected, QStringList{wheelId});

        const int boot = emu.plug(QString("replug %1 a355 ZUD Wheel Base Bootloader").arg(wheel));
        QVERIFY(boot > 0);
        const QString bootId = nodeOf(emu.takeEvent(QString("plugged %1 ").arg(boot)));
        QVERIFY(ktest::spinUntil([&] { return w.connected.size() == 2; }));
        QCOMPARE(w.disconnected, QStringList{wheelId});
        QCOMPARE(w.connected.last(), bootId);
        QCOMPARE(w.kinds.value(bootId), QString("UsbDeviceZudBootloader"));
        ktest::spin(1500);
        QCOMPARE(w.connected.size(), 2);
        QCOMPARE(w.disconnected.size(), 1);
        manager.stop();
    }

    void reader_dropsShortReportsFromTheKernel()
    {
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int pedals = emu.plug("plug echo a112 ZUD Pedals");
        QVERIFY(pedals > 0);
        UsbManager manager{createZudDevice};
        Watcher w;
        w.follow(manager);
        QVERIFY(passFor(manager, 0xA112));
        manager.start();

        QByteArray full(64, 0);
        full[0] = 1;
        full[3] = 7; // sequence 7
        QByteArray shortReport = full.left(10);
        shortReport[3] = 5;
        QCOMPARE(emu.command(QString("inject %1 %2").arg(pedals).arg(hexReport(shortReport))),
                 QString("ok"));
        QCOMPARE(emu.command(QString("inject %1 %2").arg(pedals).arg(hexReport(full))),
                 QString("ok"));
        QVERIFY(ktest::spinUntil([&] { return !w.sequences.isEmpty(); }));
        ktest::spin(500);
        QCOMPARE(w.sequences.first(), QList<uint32_t>{7});
        manager.stop();
    }
};

QTEST_GUILESS_MAIN(TestKernelHid)
#include "tst_kernel_hid.moc"
