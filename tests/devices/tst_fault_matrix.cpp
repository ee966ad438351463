// SPDX-License-Identifier: GPL-3.0-or-later
// Faults at every step of every multi-step exchange, seen through a started
// manager as the window sees them: the device leaves the bus, a write fails,
// a reply is lost, a reply comes twice. After each one the exchange has
// ended or recovered, the signals tell the truth, the device objects of a
// device that left are gone with their handles, and the device, plugged back,
// is announced and answers a whole exchange again.
#include "FaultInjection.h"
#include "ProfileSupport.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/VirtualHidBus.h"
#include "simulator/WheelBaseEmulator.h"
#include "usb/UsbManager.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

using testing::sameProfile;

constexpr int profileCount = 3;
// Settings request, one request per profile, the closing report.
constexpr int exchangeSteps = profileCount + 2;
constexpr int imageChunks = 4;
constexpr int waitMs = 5000;

enum class Exchange { Load, Save, Centre };

const char *name(Exchange e)
{
    switch (e) {
    case Exchange::Load:
        return "load";
    case Exchange::Save:
        return "save";
    case Exchange::Centre:
        return "centre";
    }
    return "";
}

int steps(Exchange e)
{
    return e == Exchange::Centre ? 1 : exchangeSteps;
}

template <typename T> T *findDevice(UsbManager &manager, const QString &path)
{
    return qobject_cast<T *>(manager.getDevice(path));
}

QByteArray testImage()
{
    QByteArray image(imageChunks * UsbDeviceZudBootloader::chunkSize - 7, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 13 + 5);
    return image;
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    std::unique_ptr<UsbManager> manager;
    std::shared_ptr<emu::WheelBaseEmulator> wheelEmu;
    QPointer<UsbDeviceZudWheelBase> wheel;
    std::unique_ptr<QSignalSpy> connected;
    std::unique_ptr<QSignalSpy> disconnected;

    // A fresh emulated wheel base with three profiles, found and loaded.
    bool plugWheel(std::vector<ZudUsbWheelBaseProfile> table = {})
    {
        emu::WheelBaseEmulator::Config config;
        config.factoryProfileCount = profileCount;
        config.streamRate = 200;
        wheelEmu = emu::WheelBaseEmulator::plug(config);
        if (!table.empty())
            wheelEmu->setProfiles(table, 1);
        const QString path = QString::fromStdString(wheelEmu->device()->path());
        manager->rescanForZudDevices();
        wheel = findDevice<UsbDeviceZudWheelBase>(*manager, path);
        if (!wheel)
            return false;
        return load();
    }

    bool load()
    {
        QSignalSpy loaded(wheel.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);
        wheel->loadSettings();
        return QTest::qWaitFor([&] { return loaded.count() >= 1; }, waitMs) &&
               QTest::qWaitFor([&] { return !wheel->isRetryArmed(); }, waitMs) &&
               wheel->profileCount == wheelEmu->profileCount();
    }

    bool tableMatchesDevice() const
    {
        if (wheel->profileCount != wheelEmu->profileCount())
            return false;
        for (int i = 0; i < wheel->profileCount; ++i)
            if (!sameProfile(wheel->profiles[i], wheelEmu->profile(i)))
                return false;
        return true;
    }

    // An edit in the host's table that only a save carries to the device.
    void edit()
    {
        wheel->currentProfile = 2;
        wheel->profiles[2].maxForce = int32_t(wheel->profiles[2].maxForce) + 7;
        wheel->profiles[2].damping = 42;
    }

    void start(Exchange e)
    {
        switch (e) {
        case Exchange::Load:
            wheel->loadSettings();
            break;
        case Exchange::Save:
            wheel->saveSettings();
            break;
        case Exchange::Centre:
            wheelEmu->setPosition(30.0);
            wheel->centerRim();
            break;
        }
    }

    // The signal that tells that exchange e has ended well.
    std::unique_ptr<QSignalSpy> doneSpy(Exchange e)
    {
        if (e == Exchange::Save)
            return std::make_unique<QSignalSpy>(wheel.data(),
                                                &UsbDeviceZudWheelBase::onSettingsSaved);
        return std::make_unique<QSignalSpy>(wheel.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);
    }

    // The device went with the emulator; its handle is closed, and the
    // wheel base plugged back is announced and works.
    void expectGoneAndBack()
    {
        const vhid::DevicePtr old = wheelEmu->device();
        QTRY_VERIFY_WITH_TIMEOUT(wheel.isNull(), waitMs);
        QCOMPARE(disconnected->count(), 1);
        QCOMPARE(old->openHandleCount(), 0);
        QVERIFY(manager->getDevice(QString::fromStdString(old->path())) == nullptr);
        const std::vector<ZudUsbWheelBaseProfile> table = wheelEmu->profiles();
        const int announcedBefore = connected->count();
        QVERIFY(plugWheel(table));
        QCOMPARE(connected->count(), announcedBefore + 1);
        QVERIFY(tableMatchesDevice());
    }

    void addExchangeColumns()
    {
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("step");
        for (Exchange e : {Exchange::Load, Exchange::Save, Exchange::Centre})
            for (int k = 1; k <= steps(e); ++k)
                QTest::addRow("%s step %d", name(e), k) << int(e) << k;
    }

    // A bootloader on the bus and its device object.
    std::shared_ptr<emu::BootloaderEmulator> bootEmu;
    QPointer<UsbDeviceZudBootloader> boot;

    bool plugBootloader()
    {
        bootEmu = emu::BootloaderEmulator::plug();
        manager->rescanForZudDevices();
        boot = findDevice<UsbDeviceZudBootloader>(
            *manager, QString::fromStdString(bootEmu->device()->path()));
        return boot;
    }

    bool imageArrived() const
    {
        const QByteArray image = testImage();
        const std::vector<uint8_t> got = bootEmu->image();
        return bootEmu->transferEnded() && got.size() >= size_t(image.size()) &&
               std::memcmp(got.data(), image.constData(), size_t(image.size())) == 0;
    }

private slots:
    void init()
    {
        manager = std::make_unique<UsbManager>(createZudDevice);
        connected = std::make_unique<QSignalSpy>(manager.get(), &UsbManager::onDeviceConnected);
        disconnected =
            std::make_unique<QSignalSpy>(manager.get(), &UsbManager::onDeviceDisconnected);
        manager->start();
    }

    void cleanup()
    {
        if (manager)
            manager->stop();
        connected.reset();
        disconnected.reset();
        manager.reset();
        vhid::unplugAll();
        wheelEmu.reset();
        bootEmu.reset();
    }

    void unplugDuringWheelExchange_data() { addExchangeColumns(); }
    void unplugDuringWheelExchange()
    {
        QFETCH(int, exchange);
        QFETCH(int, step);
        const Exchange e = Exchange(exchange);
        QVERIFY(plugWheel());
        edit();
        auto done = doneSpy(e);
        QSignalSpy failed(wheel.data(), &UsbDeviceZudWheelBase::onSettingsLoadFailed);
        wheelEmu->unplugAtCommand(step);
        start(e);
        QTRY_VERIFY_WITH_TIMEOUT(wheel.isNull(), waitMs);
        // Only the closing report, which awaits no answer, lets the exchange
        // finish before the device goes.
        QCOMPARE(done->count(), step == exchangeSteps ? 1 : 0);
        QCOMPARE(failed.count(), 0);
        expectGoneAndBack();
    }

    void failedWriteInWheelExchange_data() { addExchangeColumns(); }
    void failedWriteInWheelExchange()
    {
        QFETCH(int, exchange);
        QFETCH(int, step);
        const Exchange e = Exchange(exchange);
        QVERIFY(plugWheel());
        edit();
        const ZudUsbWheelBaseProfile edited = wheel->profiles[2];
        auto done = doneSpy(e);
        {
            faults::FailWriteAt fault(wheelEmu->device(), size_t(step));
            start(e);
            QTRY_COMPARE_WITH_TIMEOUT(done->count(), 1, waitMs);
            QTRY_VERIFY_WITH_TIMEOUT(fault.struck(), waitMs);
        }
        if (e == Exchange::Save)
            QVERIFY(sameProfile(wheelEmu->profile(2), edited));
        else if (e == Exchange::Load)
            QVERIFY(tableMatchesDevice());
        else
            QCOMPARE(float(wheel->profiles[2].centerOffset),
                     float(wheelEmu->profile(2).centerOffset));
        // A failed closing report is sent again, now awaiting an answer
        // that never comes; the next exchange takes over and ends quiet.
        QVERIFY(load());
        QVERIFY(tableMatchesDevice());
        QCOMPARE(done->count(), e == Exchange::Save ? 1 : 2);
        QCOMPARE(disconnected->count(), 0);
    }

    void lostReplyInWheelExchange_data() { addExchangeColumns(); }
    void lostReplyInWheelExchange()
    {
        QFETCH(int, exchange);
        QFETCH(int, step);
        const Exchange e = Exchange(exchange);
        QVERIFY(plugWheel());
        edit();
        auto done = doneSpy(e);
        wheelEmu->clearCommands();
        wheelEmu->dropRepliesTo({step});
        start(e);
        QTRY_COMPARE_WITH_TIMEOUT(done->count(), 1, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!wheel->isRetryArmed(), waitMs);
        // Ends quiet: nothing more is sent once the retry has been disarmed.
        QTest::qWait(300);
        const size_t sent = wheelEmu->commandCount();
        QTest::qWait(300);
        QCOMPARE(wheelEmu->commandCount(), sent);
        // A lost reply costs at least one repeat of the command; the closing
        // report has no reply to lose.
        const bool answered = !(e != Exchange::Centre && step == exchangeSteps);
        QVERIFY(int(wheelEmu->commandCount()) >= steps(e) + (answered ? 1 : 0));
        if (e == Exchange::Save) {
            QCOMPARE(wheelEmu->profile(2).damping, int8_t(42));
            QCOMPARE(int(wheelEmu->savesFinished()), 1);
        } else {
            QVERIFY(tableMatchesDevice());
        }
    }

    void duplicatedReplyInWheelExchange_data()
    {
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("step");
        // Every step that is answered: all but the closing report.
        for (Exchange e : {Exchange::Load, Exchange::Save, Exchange::Centre})
            for (int k = 1; k <= (e == Exchange::Centre ? 1 : exchangeSteps - 1); ++k)
                QTest::addRow("%s reply %d", name(e), k) << int(e) << k;
    }
    void duplicatedReplyInWheelExchange()
    {
        QFETCH(int, exchange);
        QFETCH(int, step);
        const Exchange e = Exchange(exchange);
        QVERIFY(plugWheel());
        edit();
        const ZudUsbWheelBaseProfile edited = wheel->profiles[2];
        auto done = doneSpy(e);
        QSignalSpy failed(wheel.data(), &UsbDeviceZudWheelBase::onSettingsLoadFailed);
        wheelEmu->clearCommands();
        {
            faults::DuplicateReply fault(wheelEmu->device(), step);
            QVERIFY(fault.opened());
            start(e);
            QTRY_VERIFY_WITH_TIMEOUT(fault.duplicated(), waitMs);
            QTRY_VERIFY_WITH_TIMEOUT(done->count() >= 1, waitMs);
        }
        // The second copy may restart the rest of the exchange once (the
        // protocol keeps no sequence state), but it ends, quiet.
        QTRY_VERIFY_WITH_TIMEOUT(!wheel->isRetryArmed(), waitMs);
        QTest::qWait(300);
        const size_t commands = wheelEmu->commandCount();
        QVERIFY(commands <= size_t(2 * steps(e)));
        QTest::qWait(300);
        QCOMPARE(wheelEmu->commandCount(), commands);
        QVERIFY(done->count() <= 2);
        QCOMPARE(failed.count(), 0);
        if (e == Exchange::Save)
            QVERIFY(sameProfile(wheelEmu->profile(2), edited));
        QVERIFY(tableMatchesDevice());
        QCOMPARE(disconnected->count(), 0);
    }

    // Firmware transfer: steps 1..4 are the chunks, step 5 the end report.
    void firmwareSteps_data()
    {
        QTest::addColumn<int>("step");
        for (int k = 1; k <= imageChunks + 1; ++k)
            QTest::addRow("step %d", k) << k;
    }

    void unplugDuringFirmwareTransfer_data() { firmwareSteps_data(); }
    void unplugDuringFirmwareTransfer()
    {
        QFETCH(int, step);
        QVERIFY(plugBootloader());
        QSignalSpy completed(boot.data(), &UsbDeviceZudBootloader::onUpdateCompleted);
        QSignalSpy failed(boot.data(), &UsbDeviceZudBootloader::onUpdateFailed);
        QSignalSpy progress(boot.data(), &UsbDeviceZudBootloader::onFirmwareUpdateProgress);
        std::unique_ptr<faults::UnplugAfterWrite> endFault;
        if (step <= imageChunks)
            bootEmu->unplugAfterChunk(step - 1);
        else
            endFault = std::make_unique<faults::UnplugAfterWrite>(bootEmu->device(), step);
        boot->updateFirmware(testImage());
        QTRY_VERIFY_WITH_TIMEOUT(boot.isNull(), waitMs);
        QCOMPARE(disconnected->count(), 1);
        QCOMPARE(completed.count(), step == imageChunks + 1 ? 1 : 0);
        QCOMPARE(failed.count(), 0);
        // Progress names the chunk about to go and never runs past the
        // device's last acknowledgement.
        QCOMPARE(progress.count(), step);
        QCOMPARE(progress.last().at(0).toInt(), step - 1);
        QCOMPARE(bootEmu->device()->openHandleCount(), 0);
        endFault.reset();

        QVERIFY(plugBootloader());
        QCOMPARE(connected->count(), 2);
        QSignalSpy again(boot.data(), &UsbDeviceZudBootloader::onUpdateCompleted);
        boot->updateFirmware(testImage());
        QTRY_COMPARE_WITH_TIMEOUT(again.count(), 1, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(imageArrived(), waitMs);
    }

    void failedWriteInFirmwareTransfer_data() { firmwareSteps_data(); }
    void failedWriteInFirmwareTransfer()
    {
        QFETCH(int, step);
        QVERIFY(plugBootloader());
        QSignalSpy completed(boot.data(), &UsbDeviceZudBootloader::onUpdateCompleted);
        QSignalSpy failed(boot.data(), &UsbDeviceZudBootloader::onUpdateFailed);
        faults::FailWriteAt fault(bootEmu->device(), size_t(step));
        boot->updateFirmware(testImage());
        QTRY_VERIFY_WITH_TIMEOUT(fault.struck(), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(imageArrived(), waitMs);
        QCOMPARE(completed.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(bootEmu->crcMismatches() + bootEmu->tailMismatches(), 0);
        QCOMPARE(disconnected->count(), 0);
    }

    void lostAcknowledgementInFirmwareTransfer_data()
    {
        QTest::addColumn<int>("chunk");
        for (int k = 0; k < imageChunks; ++k)
            QTest::addRow("chunk %d", k) << k;
    }
    void lostAcknowledgementInFirmwareTransfer()
    {
        QFETCH(int, chunk);
        QVERIFY(plugBootloader());
        QSignalSpy completed(boot.data(), &UsbDeviceZudBootloader::onUpdateCompleted);
        QSignalSpy failed(boot.data(), &UsbDeviceZudBootloader::onUpdateFailed);
        bootEmu->dropAcknowledgements(chunk);
        boot->updateFirmware(testImage());
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, waitMs);
        QVERIFY(imageArrived());
        // At least the lost chunk went twice (more when a loaded machine
        // lets the retry cross a late acknowledgement).
        QVERIFY(bootEmu->chunkReports() >= imageChunks + 1);
        QCOMPARE(failed.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!boot->isRetryArmed(), waitMs);
    }

    void duplicatedAcknowledgementInFirmwareTransfer_data()
    {
        lostAcknowledgementInFirmwareTransfer_data();
    }
    void duplicatedAcknowledgementInFirmwareTransfer()
    {
        QFETCH(int, chunk);
        QVERIFY(plugBootloader());
        QSignalSpy completed(boot.data(), &UsbDeviceZudBootloader::onUpdateCompleted);
        QSignalSpy failed(boot.data(), &UsbDeviceZudBootloader::onUpdateFailed);
        bootEmu->duplicateAcknowledgement(chunk);
        boot->updateFirmware(testImage());
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!boot->isRetryArmed(), waitMs);
        QTest::qWait(300);
        // The end is announced once, however many copies arrive.
        QCOMPARE(completed.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(imageArrived());
        QVERIFY(bootEmu->endReports() >= 1);
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"
