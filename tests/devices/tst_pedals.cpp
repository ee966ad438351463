// SPDX-License-Identifier: GPL-3.0-or-later
// The pedals device against its emulator: the three axes, the retry of
// EnterBootloader until the pedals leave the bus, and what stops a retry.
#include "DeviceRig.h"

#include "devices/UsbDeviceZudPedals.h"
#include "simulator/PedalsEmulator.h"

#include <QSignalSpy>
#include <QTest>

using Emulator = emu::PedalsEmulator;
using Rig = DeviceRig<Emulator, UsbDeviceZudPedals>;

namespace {

Emulator::Config quiet()
{
    Emulator::Config config;
    config.streamRate = 0;
    return config;
}

struct AxesSeen {
    int x = -1, y = -1, z = -1;
    int count = 0;
};

void watch(UsbDeviceZudPedals &pedals, AxesSeen &seen)
{
    QObject::connect(&pedals, &UsbDeviceZudPedals::onJoystickUpdate,
                     [&seen](UsbDevice *, ZudUsbPedalsJoystickUpdate *update, uint64_t) {
                         seen.x = update->x;
                         seen.y = update->y;
                         seen.z = update->z;
                         ++seen.count;
                     });
}

} // namespace

class TestPedals : public QObject {
    Q_OBJECT

private slots:
    void init() { vhid::unplugAll(); }
    void cleanup() { vhid::unplugAll(); }

    void axesArriveUnchanged();
    void streamedAxesFollowThePedals();
    void replyStopsRetryAndEmitsNothing();
    void enterBootloaderIsRetriedUntilThePedalsLeave();
    void unplugWhileWaitingForTheBootloader();
};

void TestPedals::axesArriveUnchanged()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::pedals);
    QVERIFY(rig.device);
    AxesSeen seen;
    watch(*rig.device, seen);
    uint64_t time = 0;
    connect(rig.device.data(), &UsbDeviceZudPedals::onJoystickUpdate,
            [&](UsbDevice *device, ZudUsbPedalsJoystickUpdate *, uint64_t readTime) {
                QCOMPARE(device, static_cast<UsbDevice *>(rig.device.data()));
                time = readTime;
            });

    rig.emulator->setAxes(65535, 0, 32768);
    rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return seen.count == 1; }));
    QCOMPARE(seen.x, 65535);
    QCOMPARE(seen.y, 0);
    QCOMPARE(seen.z, 32768);
    QVERIFY(time > 0);

    rig.emulator->setAxes(0x1234, 0xFFFE, 1);
    rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return seen.count == 2; }));
    QCOMPARE(seen.x, 0x1234);
    QCOMPARE(seen.y, 0xFFFE);
    QCOMPARE(seen.z, 1);
}

void TestPedals::streamedAxesFollowThePedals()
{
    Emulator::Config config;
    config.streamRate = 1000;
    Rig rig(config, Rig::ReaderThread, ZudUsbIds::pedals);
    QVERIFY(rig.device);
    AxesSeen seen;
    watch(*rig.device, seen);

    rig.emulator->setAxes(100, 200, 300);
    QVERIFY(rig.runUntil([&] { return seen.x == 100 && seen.y == 200 && seen.z == 300; }));
    rig.emulator->setAxes(65535, 32768, 0);
    QVERIFY(rig.runUntil([&] { return seen.x == 65535 && seen.y == 32768 && seen.z == 0; }));
    QVERIFY(seen.count > 2);
}

void TestPedals::replyStopsRetryAndEmitsNothing()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::pedals);
    QVERIFY(rig.device);
    AxesSeen seen;
    watch(*rig.device, seen);

    rig.emulator->dropCommands(1);
    rig.device->enterBootloader();
    QVERIFY(rig.device->isRetryArmed());

    // Joystick reports leave the retry armed.
    rig.emulator->sendJoystickReport();
    rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return seen.count == 2; }));
    QVERIFY(rig.device->isRetryArmed());

    // Any other report stops it and is not passed on.
    uint8_t reply[64] = {101, 1};
    rig.emulator->injectRaw(reply, sizeof reply);
    rig.settle();
    QVERIFY(!rig.device->isRetryArmed());
    QCOMPARE(seen.count, 2);
    QVERIFY(rig.emulator->isPlugged());
}

void TestPedals::enterBootloaderIsRetriedUntilThePedalsLeave()
{
    std::atomic<int> calls{0};
    Emulator::Config config;
    config.streamRate = 1000;
    config.onEnterBootloader = [&calls] { ++calls; };
    Rig rig(config, Rig::ReaderThread, ZudUsbIds::pedals);
    QVERIFY(rig.device);
    QSignalSpy gone(&rig.manager, &UsbManager::onDeviceDisconnected);

    // The first two commands are lost; the retry sends the same report again.
    rig.emulator->dropCommands(2);
    rig.device->enterBootloader();
    QVERIFY(rig.runUntil([&] { return gone.count() > 0; }));
    QCOMPARE(calls.load(), 1);
    QVERIFY(rig.device.isNull());
    QVERIFY(!rig.emulator->isPlugged());
    const std::vector<vhid::Report> sent = rig.emulator->commands();
    QCOMPARE(int(sent.size()), 3);
    vhid::Report want(64, 0);
    want[0] = 100;
    want[1] = 1;
    for (const vhid::Report &r : sent)
        QVERIFY(r == want);
}

void TestPedals::unplugWhileWaitingForTheBootloader()
{
    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::pedals);
    QVERIFY(rig.device);
    QSignalSpy gone(&rig.manager, &UsbManager::onDeviceDisconnected);
    rig.emulator->dropCommands(1000);
    rig.device->enterBootloader();
    QVERIFY(rig.runUntil([&] { return rig.emulator->commandCount() >= 3; }));
    rig.emulator->unplug();
    QVERIFY(rig.runUntil([&] { return gone.count() > 0; }));
    QVERIFY(rig.device.isNull());
    rig.settle();
    QCOMPARE(gone.count(), 1);
}

QTEST_GUILESS_MAIN(TestPedals)
#include "tst_pedals.moc"
