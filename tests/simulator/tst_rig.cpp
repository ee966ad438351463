// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated rig: a wheel base and pedals that go through their bootloader
// and come back, seen through a running manager as the window sees them.
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/EmulatedRig.h"
#include "usb/UsbManager.h"

#include <QtTest>

namespace {

template <typename T> T *findDevice(UsbManager &manager)
{
    for (UsbDevice *d : manager.getDevices())
        if (auto *t = qobject_cast<T *>(d))
            return t;
    return nullptr;
}

} // namespace

class TestRig : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void wheelBaseRoundTripThroughTheBootloader()
    {
        emu::EmulatedRig::Options options;
        options.streamRate = 100;
        emu::EmulatedRig rig(options);
        UsbManager manager{createZudDevice};
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.getDevices().size(), 2, 5000);

        auto *wheel = findDevice<UsbDeviceZudWheelBase>(manager);
        QVERIFY(wheel && findDevice<UsbDeviceZudPedals>(manager));
        QSignalSpy loaded(wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
        wheel->loadSettings();
        QTRY_VERIFY_WITH_TIMEOUT(loaded.count() >= 1, 5000);
        const int profiles = wheel->profileCount;
        QVERIFY(profiles >= 1);
        wheel->addProfile();
        QSignalSpy saved(wheel, &UsbDeviceZudWheelBase::onSettingsSaved);
        wheel->saveSettings();
        QTRY_VERIFY_WITH_TIMEOUT(saved.count() >= 1, 5000);

        QSignalSpy gone(&manager, &UsbManager::onDeviceDisconnected);
        wheel->enterBootloader();
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(findDevice<UsbDeviceZudBootloader>(manager) != nullptr, 5000);
        QVERIFY(findDevice<UsbDeviceZudWheelBase>(manager) == nullptr);

        auto *bootloader = findDevice<UsbDeviceZudBootloader>(manager);
        QSignalSpy completed(bootloader, &UsbDeviceZudBootloader::onUpdateCompleted);
        QByteArray image(1000, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7);
        bootloader->updateFirmware(image);
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 10000);
        const std::vector<uint8_t> received = rig.wheelBaseBootloader()->image();
        QVERIFY(received.size() >= size_t(image.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(received.data()), image.size()), image);

        bootloader->exitBootloader();
        QTRY_VERIFY_WITH_TIMEOUT(findDevice<UsbDeviceZudWheelBase>(manager) != nullptr, 5000);
        QVERIFY(findDevice<UsbDeviceZudBootloader>(manager) == nullptr);
        // The profile table survived, as it does in the device's flash.
        QCOMPARE(rig.wheelBase()->profileCount(), profiles + 1);
    }

    void pedalsRoundTripThroughTheBootloader()
    {
        emu::EmulatedRig::Options options;
        options.wheelBase = false;
        options.streamRate = 100;
        emu::EmulatedRig rig(options);
        UsbManager manager{createZudDevice};
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.getDevices().size(), 1, 5000);
        findDevice<UsbDeviceZudPedals>(manager)->enterBootloader();
        QTRY_VERIFY_WITH_TIMEOUT(findDevice<UsbDeviceZudBootloader>(manager) != nullptr, 5000);
        QVERIFY(findDevice<UsbDeviceZudBootloader>(manager)->getProductString().contains("Pedals"));
        findDevice<UsbDeviceZudBootloader>(manager)->exitBootloader();
        QTRY_VERIFY_WITH_TIMEOUT(findDevice<UsbDeviceZudPedals>(manager) != nullptr, 5000);
    }
};

QTEST_GUILESS_MAIN(TestRig)
#include "tst_rig.moc"
