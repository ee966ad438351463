// SPDX-License-Identifier: GPL-3.0-or-later
// The wheel base device against its emulator: the command reports byte for
// byte, the reply-driven load and save, the version check, the local profile
// edits, lost replies, unplugging, and devices that send nonsense.
#include "DeviceRig.h"
#include "ProfileSupport.h"
#include "devices/ZudDeviceFactory.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudUsbCommands.h"
#include "simulator/WheelBaseEmulator.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <set>

using Emulator = emu::WheelBaseEmulator;
using Rig = DeviceRig<Emulator, UsbDeviceZudWheelBase>;

namespace {

using testing::makeProfile;
using testing::sameProfile;

Emulator::Config quiet(int profiles = 1)
{
    Emulator::Config config;
    config.streamRate = 0;
    config.factoryProfileCount = profiles;
    return config;
}

std::vector<ZudUsbWheelBaseProfile> makeProfiles(int count)
{
    std::vector<ZudUsbWheelBaseProfile> list;
    for (int i = 0; i < count; ++i)
        list.push_back(makeProfile(i));
    return list;
}

QByteArray bytes(const ZudUsbWheelBaseProfile &p)
{
    return QByteArray(reinterpret_cast<const char *>(&p), int(sizeof p));
}

// A readable name for each command, for comparing whole exchanges.
QString describe(const vhid::Report &c)
{
    if (c.size() != 64 || c[0] != 100)
        return QStringLiteral("?");
    switch (c[1]) {
    case 3:
        return c[42] == 255 ? QStringLiteral("load-end") : QStringLiteral("load");
    case 4:
        return c[42] == 255 ? QStringLiteral("save-end")
                            : QStringLiteral("save %1/%2").arg(c[42]).arg(c[43]);
    case 5:
        return QStringLiteral("read %1").arg(c[3]);
    case 6:
        return QStringLiteral("write %1").arg(c[3]);
    default:
        return QStringLiteral("cmd %1").arg(c[1]);
    }
}

QStringList describeAll(const std::vector<vhid::Report> &commands)
{
    QStringList list;
    for (const vhid::Report &c : commands)
        list << describe(c);
    return list;
}

// The same list with repeats of one command (retries) folded together.
QStringList folded(const QStringList &list)
{
    QStringList out;
    for (const QString &s : list)
        if (out.isEmpty() || out.last() != s)
            out << s;
    return out;
}

QStringList loadExchange(int count)
{
    QStringList list{QStringLiteral("load")};
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("read %1").arg(i);
    list << QStringLiteral("load-end");
    return list;
}

QStringList saveExchange(int count, int current)
{
    QStringList list{QStringLiteral("save %1/%2").arg(count).arg(current)};
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("write %1").arg(i);
    list << QStringLiteral("save-end");
    return list;
}

// A 64-byte command report: id 100 and the given bytes, zero elsewhere.
QByteArray expected(std::initializer_list<std::pair<int, uint8_t>> set)
{
    QByteArray r(64, '\0');
    r[0] = char(100);
    for (const auto &b : set)
        r[b.first] = char(b.second);
    return r;
}

QByteArray toBytes(const vhid::Report &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()), int(r.size()));
}

// Profile 7 "Abc" laid out by hand, as it must appear at report byte 3.
ZudUsbWheelBaseProfile handProfile()
{
    ZudUsbWheelBaseProfile p{};
    p.index = 7;
    std::memcpy(p.name, "Abc", 3);
    p.centerOffset = 0.25f;
    p.rotationDegrees = 1080;
    p.encoderType = 2;
    p.encoderResolution = 4096;
    p.maxForce = 75;
    p.smoothing = 2;
    p.damping = 30;
    p.friction = 40;
    p.inertia = 50;
    p.spring = 60;
    p.dampingEffect = 0;
    p.frictionEffect = 1;
    p.inertiaEffect = 2;
    p.springEffect = 1;
    return p;
}

QByteArray handProfileReport(uint8_t code)
{
    return expected({{1, code},  {2, 3},     {3, 7},     {4, 'A'},   {5, 'b'}, {6, 'c'},
                     {22, 0x80}, {23, 0x3E}, {24, 0x38}, {25, 0x04}, {28, 2},  {30, 0x10},
                     {33, 75},   {37, 2},    {38, 30},   {39, 40},   {40, 50}, {41, 60},
                     {42, 0},    {43, 1},    {44, 2},    {45, 1}});
}

} // namespace

class TestWheelBase : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The spies only count these; the records die with their reports.
        qRegisterMetaType<ZudUsbWheelBaseJoystickUpdate *>("ZudUsbWheelBaseJoystickUpdate*");
        qRegisterMetaType<ZudUsbWheelBaseDebugOutput *>("ZudUsbWheelBaseDebugOutput*");
        qRegisterMetaType<ZudUsbWheelBaseTestCommand *>("ZudUsbWheelBaseTestCommand*");
    }
    void init() { vhid::unplugAll(); }
    void cleanup() { vhid::unplugAll(); }

    void slotsSendTheirReportsAndArmTheRetryOnlyWhenAwaitingReply_data();
    void slotsSendTheirReportsAndArmTheRetryOnlyWhenAwaitingReply();

    void loadRunsExactlyTheExchange();
    void saveOfOneProfileRunsExactlyTheExchange();
    void exchangeThroughReaderThread_data();
    void exchangeThroughReaderThread();
    void shortRepliesAreDroppedAndRetried();
    void slowRepliesStillLoad_data();
    void slowRepliesStillLoad();

    void olderAndNewerSettingsVersionsFail_data();
    void olderAndNewerSettingsVersionsFail();

    void addProfile();
    void removeProfile_data();
    void removeProfile();

    void centerRimStoresTheNewCentre();
    void centerRimShortReplyTakesCountAndCurrent();
    void repliesReachTheirSignals();

    void joystickReportNeverStopsRetry();
    void streamingDoesNotStopLoadRetries();

    void unplugDuringExchange_data();
    void unplugDuringExchange();
    void enterBootloaderUnplugsAndCallsBack();

    void headerWithCountOutsideTableFails_data();
    void headerWithCountOutsideTableFails();
    void replyWithBadIndexEndsExchange_data();
    void replyWithBadIndexEndsExchange();
    void centreReplyWithBadIndexChangesNothing();
    void strayRepliesWithoutLoadedSettings();
    void garbageRepliesStayInsideTheTable();

    void anotherProgramsExchangeChangesNothing_data();
    void anotherProgramsExchangeChangesNothing();
    void exchangesTakeTurnsBetweenPrograms();
};

void TestWheelBase::slotsSendTheirReportsAndArmTheRetryOnlyWhenAwaitingReply_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QByteArray>("want");
    QTest::addColumn<bool>("awaitsReply");
    QTest::newRow("enterBootloader") << "enterBootloader" << expected({{1, 1}}) << false;
    QTest::newRow("loadSettings") << "loadSettings" << expected({{1, 3}, {2, 3}}) << true;
    QTest::newRow("finishLoadSettings")
        << "finishLoadSettings" << expected({{1, 3}, {2, 3}, {42, 255}}) << false;
    QTest::newRow("saveSettings") << "saveSettings" << expected({{1, 4}, {2, 3}, {42, 9}, {43, 7}})
                                  << true;
    QTest::newRow("finishSaveSettings")
        << "finishSaveSettings" << expected({{1, 4}, {2, 3}, {42, 255}}) << false;
    QTest::newRow("readProfile") << "readProfile" << expected({{1, 5}, {2, 3}, {3, 42}}) << true;
    QTest::newRow("writeProfile") << "writeProfile" << handProfileReport(6) << true;
    QTest::newRow("centerRim") << "centerRim" << handProfileReport(7) << true;
    QTest::newRow("resetToFactoryDefaults")
        << "resetToFactoryDefaults" << expected({{1, 8}, {2, 3}, {5, 1}}) << false;
    QTest::newRow("sendTestForceCommand")
        << "sendTestForceCommand" << expected({{1, 9}, {2, 3}, {6, 0x80}, {7, 0x3F}}) << false;
    QTest::newRow("brakeOn") << "brakeOn" << expected({{1, 9}, {2, 3}, {3, 1}}) << false;
    QTest::newRow("brakeOff") << "brakeOff" << expected({{1, 9}, {2, 3}, {3, 2}}) << false;
}

void TestWheelBase::slotsSendTheirReportsAndArmTheRetryOnlyWhenAwaitingReply()
{
    QFETCH(QString, slot);
    QFETCH(QByteArray, want);
    QFETCH(bool, awaitsReply);

    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    wheel.profileCount = 9;
    wheel.currentProfile = 7;
    wheel.profiles[7] = handProfile();

    if (slot == "readProfile")
        wheel.readProfile(42);
    else if (slot == "writeProfile")
        wheel.writeProfile(7);
    else if (slot == "finishLoadSettings")
        wheel.finishLoadSettings();
    else if (slot == "finishSaveSettings")
        wheel.finishSaveSettings();
    else if (slot == "sendTestForceCommand")
        QVERIFY(QMetaObject::invokeMethod(&wheel, "sendTestForceCommand", Q_ARG(float, 1.0f)));
    else if (slot == "brakeOn" || slot == "brakeOff")
        QVERIFY(QMetaObject::invokeMethod(&wheel, "sendTestBrakeResistorCommand",
                                          Q_ARG(bool, slot == "brakeOn")));
    else
        QVERIFY(QMetaObject::invokeMethod(&wheel, slot.toLatin1().constData()));

    const std::vector<vhid::Report> sent = rig.emulator->device()->writtenReports();
    QCOMPARE(int(sent.size()), 1);
    QCOMPARE(toBytes(sent[0]).toHex(' '), want.toHex(' '));
    QCOMPARE(wheel.isRetryArmed(), awaitsReply);
}

void TestWheelBase::loadRunsExactlyTheExchange()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    rig.emulator->setProfiles(makeProfiles(3), 2);
    QSignalSpy loaded(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    rig.device->loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() > 0; }));
    rig.settle();

    QCOMPARE(describeAll(rig.emulator->commands()), loadExchange(3));
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(loaded.first().first().value<UsbDevice *>(), rig.device.data());
    QCOMPARE(int(rig.device->profileCount), 3);
    QCOMPARE(int(rig.device->currentProfile), 2);
    QCOMPARE(rig.device->settingsVersion, 3u);
    QCOMPARE(rig.device->deviceInfo1, 0x5A554401u);
    QCOMPARE(int(rig.device->deviceInfo2), 0x0203);
    QCOMPARE(int(rig.device->deviceInfo3), 7);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.device->deviceInfo4), 23),
             QByteArray("ZUD emulated wheel base"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(bytes(rig.device->profiles[i]), bytes(makeProfile(i)));
    QCOMPARE(bytes(rig.device->profiles[3]), bytes(ZudUsbWheelBaseProfile{}));
    QVERIFY(!rig.device->isRetryArmed());
    QCOMPARE(int(rig.emulator->loadsFinished()), 1);
}

void TestWheelBase::saveOfOneProfileRunsExactlyTheExchange()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    QSignalSpy saved(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsSaved);
    rig.device->profileCount = 1;
    rig.device->currentProfile = 0;
    rig.device->profiles[0] = makeProfile(0);

    rig.device->saveSettings();
    QVERIFY(rig.runUntil([&] { return saved.count() > 0; }));
    rig.settle();

    QCOMPARE(describeAll(rig.emulator->commands()), saveExchange(1, 0));
    QCOMPARE(saved.count(), 1);
    QCOMPARE(rig.emulator->profileCount(), 1);
    QCOMPARE(bytes(rig.emulator->profile(0)), bytes(makeProfile(0)));
    QCOMPARE(int(rig.emulator->savesFinished()), 1);

    // A device that confirms the end of the save reports it a second time.
    rig.emulator->device()->clearWritten();
    const ZudUsbReport end = ZudUsbCommands::finishSaveSettings();
    vhid::Report confirm(64, 0);
    confirm[0] = 101;
    confirm[1] = 4;
    confirm[42] = end.data[42];
    rig.emulator->injectRaw(confirm.data(), confirm.size());
    rig.settle();
    QCOMPARE(saved.count(), 2);
    QVERIFY(rig.emulator->device()->writtenReports().empty());
}

// A load or a save of 1, 3 and 100 profiles, some with replies lost.
void TestWheelBase::exchangeThroughReaderThread_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("drops");
    for (const bool save : {false, true}) {
        const char *op = save ? "save" : "load";
        QTest::addRow("%s 1", op) << save << 1 << QList<int>{};
        QTest::addRow("%s 3", op) << save << 3 << QList<int>{};
        QTest::addRow("%s 100", op) << save << 100 << QList<int>{};
        QTest::addRow("%s 1 header and %s lost", op, save ? "write" : "profile")
            << save << 1 << QList<int>{1, 2};
        QTest::addRow("%s 3 middle lost", op) << save << 3 << QList<int>{3};
        QTest::addRow("%s 100 first, middle, last lost", op)
            << save << 100 << QList<int>{1, save ? 51 : 37, 101};
    }
}

void TestWheelBase::exchangeThroughReaderThread()
{
    QFETCH(bool, save);
    QFETCH(int, count);
    QFETCH(QList<int>, drops);

    // A load reads the emulator's table; a save writes the host's to a
    // device that holds another.
    Rig rig(save ? quiet(7) : quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    const int current = save ? count / 2 : count - 1;
    if (save) {
        for (int i = 0; i < count; ++i)
            wheel.profiles[i] = makeProfile(i);
        wheel.profileCount = uint8_t(count);
        wheel.currentProfile = uint8_t(current);
    } else {
        rig.emulator->setProfiles(makeProfiles(count), current);
    }
    rig.emulator->dropRepliesTo(std::set<int>(drops.begin(), drops.end()));
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy done(&wheel, save ? &UsbDeviceZudWheelBase::onSettingsSaved
                                 : &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    save ? wheel.saveSettings() : wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return done.count() > 0; }));
    rig.settle();

    const QStringList sent = describeAll(rig.emulator->commands());
    QCOMPARE(folded(sent), save ? saveExchange(count, current) : loadExchange(count));
    // Every lost reply cost at least one repetition of its command.
    QVERIFY2(sent.size() >= count + 2 + drops.size(), qPrintable(sent.join(", ")));
    // (A reply slower than the retry interval repeats a step, and the
    // repetition runs on to the end; the direct-pass tests count exactly.)
    QVERIFY(done.count() >= 1);
    QCOMPARE(failed.count(), 0);
    if (save) {
        QCOMPARE(rig.emulator->profileCount(), count);
        QCOMPARE(rig.emulator->currentProfile(), current);
        for (int i = 0; i < count; ++i)
            QVERIFY2(sameProfile(rig.emulator->profile(i), makeProfile(i)),
                     qPrintable(QString::number(i)));
        // The table survives on the device: a fresh load returns what was saved.
        for (int i = 0; i < count; ++i)
            wheel.profiles[i] = ZudUsbWheelBaseProfile{};
        const int loadsBefore = loaded.count();
        wheel.loadSettings();
        QVERIFY(rig.runUntil([&] { return loaded.count() > loadsBefore; }));
        rig.settle();
    }
    QCOMPARE(int(wheel.profileCount), count);
    QCOMPARE(int(wheel.currentProfile), current);
    for (int i = 0; i < count; ++i)
        QVERIFY2(sameProfile(wheel.profiles[i], makeProfile(i)), qPrintable(QString::number(i)));
    QVERIFY(!wheel.isRetryArmed());
}

void TestWheelBase::shortRepliesAreDroppedAndRetried()
{
    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    rig.emulator->setProfiles(makeProfiles(2), 0);
    rig.emulator->truncateReplies(2, 20);
    QSignalSpy loaded(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);

    rig.device->loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() > 0; }));
    const QStringList sent = describeAll(rig.emulator->commands());
    QCOMPARE(folded(sent), loadExchange(2));
    QVERIFY(sent.count("load") >= 3);
    QVERIFY(sameProfile(rig.device->profiles[1], makeProfile(1)));
}

void TestWheelBase::slowRepliesStillLoad_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("frames");
    QTest::newRow("20 ms") << 20 << false;
    // Slower than the retry interval: every step is sent twice or more and
    // each copy is answered; the table must still come out right.
    QTest::newRow("250 ms") << 250 << false;
    QTest::newRow("USB frames") << 0 << true;
}

void TestWheelBase::slowRepliesStillLoad()
{
    QFETCH(int, delayMs);
    QFETCH(bool, frames);

    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    rig.emulator->setProfiles(makeProfiles(4), 3);
    rig.emulator->setReplyDelay(std::chrono::milliseconds(delayMs));
    rig.emulator->setUsbFrameLatency(frames);
    QSignalSpy loaded(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    rig.device->loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() > 0; }));
    QTest::qWait(2 * delayMs + 300); // the echoes of repeated steps die out
    QCOMPARE(failed.count(), 0);
    QCOMPARE(int(rig.device->profileCount), 4);
    for (int i = 0; i < 4; ++i)
        QVERIFY(sameProfile(rig.device->profiles[i], makeProfile(i)));
    const QStringList sent = describeAll(rig.emulator->commands());
    QVERIFY2(sent.count("load-end") >= 1 && sent.count("load") >= 1, qPrintable(sent.join(", ")));
    if (delayMs > 200)
        QVERIFY2(sent.count("load") >= 2, qPrintable(sent.join(", ")));
}

void TestWheelBase::olderAndNewerSettingsVersionsFail_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("keepsHeader");
    QTest::addColumn<QString>("message");
    const QString older = "Device has an older firmware. Please update the firmware.";
    const QString newer = "Device had a newer firmware. Please update this config tool.";
    QTest::newRow("0") << 0 << false << older;
    QTest::newRow("1") << 1 << false << older;
    QTest::newRow("2") << 2 << true << older;
    QTest::newRow("4") << 4 << false << newer;
    QTest::newRow("255") << 255 << false << newer;
}

void TestWheelBase::olderAndNewerSettingsVersionsFail()
{
    QFETCH(int, version);
    QFETCH(bool, keepsHeader);
    QFETCH(QString, message);

    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    // A table from an earlier load, which a refused header must not touch.
    for (int i = 0; i < 5; ++i)
        wheel.profiles[i] = makeProfile(i);
    wheel.profileCount = 5;
    wheel.currentProfile = 4;
    wheel.deviceInfo1 = 1;
    rig.emulator->setProfiles(makeProfiles(4), 3);
    rig.emulator->setSettingsVersion(uint8_t(version));
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return failed.count() > 0; }));
    rig.settle();

    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).value<UsbDevice *>(), rig.device.data());
    QCOMPARE(failed.first().at(1).toString(), message);
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(describeAll(rig.emulator->commands()), QStringList{"load"});
    QCOMPARE(wheel.settingsVersion, uint32_t(version));
    if (keepsHeader) {
        QCOMPARE(int(wheel.profileCount), 4);
        QCOMPARE(int(wheel.currentProfile), 3);
        QCOMPARE(wheel.deviceInfo1, 0x5A554401u);
        QCOMPARE(int(wheel.deviceInfo4[0]), int('Z'));
    } else {
        QCOMPARE(int(wheel.profileCount), 0);
        QCOMPARE(int(wheel.currentProfile), 0);
        QCOMPARE(wheel.deviceInfo1, 0u);
        QCOMPARE(int(wheel.deviceInfo2), 0);
        QCOMPARE(int(wheel.deviceInfo4[0]), 0);
    }
    for (int i = 0; i < 5; ++i)
        QVERIFY(sameProfile(wheel.profiles[i], makeProfile(i)));
}

void TestWheelBase::addProfile()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);

    // An empty table gets Profile 0 with the defaults; other fields stay.
    wheel.profiles[0].friction = 77;
    wheel.profiles[0].centerOffset = 0.125f;
    std::memcpy(wheel.profiles[0].name, "XXXXXXXXXXXXXXXX", 16);
    wheel.addProfile();
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(int(wheel.profileCount), 1);
    QCOMPARE(int(wheel.currentProfile), 0);
    const ZudUsbWheelBaseProfile &first = wheel.profiles[0];
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(first.name), 16),
             QByteArray("Profile 0\0XXXXXX", 16));
    QCOMPARE(int(first.index), 0);
    QCOMPARE(int(first.rotationDegrees), 900);
    QCOMPARE(int(first.encoderType), 3);
    QCOMPARE(int(first.encoderResolution), 4194304);
    QCOMPARE(int(first.maxForce), 50);
    QCOMPARE(int(first.smoothing), 1);
    QCOMPARE(int(first.damping), 1);
    QCOMPARE(int(first.friction), 77);
    QCOMPARE(float(first.centerOffset), 0.125f);

    // With two profiles and the first current, the last one is copied.
    wheel.profiles[0] = makeProfile(0);
    wheel.profiles[1] = makeProfile(1);
    std::memcpy(wheel.profiles[1].name, "ABCDEFGHIJKLMNOP", 16);
    wheel.profileCount = 2;
    wheel.currentProfile = 0;
    wheel.addProfile();
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(int(wheel.profileCount), 3);
    QCOMPARE(int(wheel.currentProfile), 2);
    ZudUsbWheelBaseProfile want = wheel.profiles[1];
    want.index = 2;
    std::memcpy(want.name, "Profile 2\0KLMNOP", 16);
    QCOMPARE(bytes(wheel.profiles[2]), bytes(want));
    QCOMPARE(int(wheel.profiles[1].index), 1);

    // Up to 100 and no further.
    while (wheel.profileCount < maxProfiles)
        wheel.addProfile();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(wheel.profiles[99].name)),
             QByteArray("Profile 99"));
    QCOMPARE(int(wheel.profiles[99].index), 99);
    const int emitted = loaded.count();
    const QByteArray before(reinterpret_cast<const char *>(wheel.profiles), sizeof wheel.profiles);
    wheel.addProfile();
    QCOMPARE(loaded.count(), emitted);
    QCOMPARE(int(wheel.profileCount), 100);
    QCOMPARE(int(wheel.currentProfile), 99);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(wheel.profiles), sizeof wheel.profiles),
             before);
    QVERIFY(rig.emulator->device()->writtenReports().empty()); // all of it local
}

void TestWheelBase::removeProfile_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("wantCurrent");
    // The profiles (by makeProfile's number) left in the table's slots, each
    // renumbered to its slot; a table that stays as it was emits no load.
    QTest::addColumn<QList<int>>("kept");

    QList<int> allButLast;
    for (int i = 0; i < maxProfiles - 1; ++i)
        allButLast.append(i);
    // The current index moves back when the last one goes.
    QTest::newRow("last of three") << 3 << 2 << 1 << QList<int>{0, 1};
    // The others move down, renumbered, names kept.
    QTest::newRow("first of three") << 3 << 0 << 0 << QList<int>{1, 2};
    QTest::newRow("middle of three") << 3 << 1 << 1 << QList<int>{0, 2};
    // A single profile is never removed.
    QTest::newRow("single") << 1 << 0 << 0 << QList<int>{0};
    QTest::newRow("last of a full table") << maxProfiles << 99 << 98 << allButLast;
}

void TestWheelBase::removeProfile()
{
    QFETCH(int, count);
    QFETCH(int, current);
    QFETCH(int, wantCurrent);
    QFETCH(QList<int>, kept);
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    for (int i = 0; i < count; ++i)
        wheel.profiles[i] = makeProfile(i);
    wheel.profileCount = uint8_t(count);
    wheel.currentProfile = uint8_t(current);

    wheel.removeProfile();
    QCOMPARE(int(wheel.profileCount), kept.size());
    QCOMPARE(int(wheel.currentProfile), wantCurrent);
    for (int slot = 0; slot < kept.size(); ++slot) {
        ZudUsbWheelBaseProfile want = makeProfile(kept[slot]);
        want.index = uint8_t(slot);
        QCOMPARE(bytes(wheel.profiles[slot]), bytes(want));
    }
    QCOMPARE(loaded.count(), kept.size() < count ? 1 : 0);
    QVERIFY(rig.emulator->device()->writtenReports().empty()); // all of it local
}

void TestWheelBase::centerRimStoresTheNewCentre()
{
    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    rig.emulator->setProfiles(makeProfiles(3), 1);
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() >= 1; }));
    rig.settle();
    const int loads = loaded.count();

    rig.emulator->setPosition(90.0); // a quarter turn
    wheel.centerRim();
    QVERIFY(rig.runUntil([&] { return loaded.count() > loads; }));
    QCOMPARE(float(wheel.profiles[1].centerOffset), 0.25f);
    ZudUsbWheelBaseProfile rest = wheel.profiles[1];
    rest.centerOffset = makeProfile(1).centerOffset;
    QVERIFY(sameProfile(rest, makeProfile(1)));
    QVERIFY(sameProfile(wheel.profiles[0], makeProfile(0)));
    QCOMPARE(float(rig.emulator->profile(1).centerOffset), 0.25f);
    QVERIFY(!wheel.isRetryArmed());
}

void TestWheelBase::centerRimShortReplyTakesCountAndCurrent()
{
    Emulator::Config config = quiet(4);
    config.shortCenterReply = true;
    Rig rig(config, Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    rig.emulator->setProfiles(makeProfiles(4), 3);
    wheel.profileCount = 2;
    wheel.currentProfile = 0;
    wheel.profiles[0] = makeProfile(50);
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);

    wheel.centerRim();
    QVERIFY(rig.runUntil([&] { return loaded.count() == 1; }));
    QCOMPARE(int(wheel.profileCount), 4);
    QCOMPARE(int(wheel.currentProfile), 3);
    QVERIFY(sameProfile(wheel.profiles[0], makeProfile(50))); // nothing else read

    // A short reply with a count outside the table is not taken over (the
    // device's own answer to the centre is lost, the bad one answers it).
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);
    for (uint8_t count : {0, 101}) {
        rig.emulator->dropReplies(1);
        wheel.centerRim();
        rig.settle();
        vhid::Report reply(64, 0);
        reply[0] = 101;
        reply[1] = 7;
        reply[42] = count;
        rig.emulator->injectRaw(reply.data(), reply.size());
        QVERIFY(rig.runUntil([&] { return failed.count() == (count == 0 ? 1 : 2); }));
    }
    QCOMPARE(failed.first().at(1).toString(),
             QString("Device reported 0 profiles; a wheel base holds 1 to 100 profiles. "
                     "The centre was not taken over."));
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(int(wheel.profileCount), 4);
    QCOMPARE(int(wheel.currentProfile), 3);
}

void TestWheelBase::repliesReachTheirSignals()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;

    // Debug output (type 2): the record starts at report byte 3.
    int motorState = -1;
    float motorAngle = 0;
    connect(&wheel, &UsbDeviceZudWheelBase::onDebugOutput,
            [&](UsbDevice *, ZudUsbWheelBaseDebugOutput *out, uint64_t) {
                motorState = out->motorState;
                motorAngle = out->motorAngle;
            });
    rig.emulator->setPosition(-45.5);
    rig.emulator->sendDebugReply();
    QVERIFY(rig.runUntil([&] { return motorState >= 0; }));
    QCOMPARE(motorState, 4);
    QCOMPARE(motorAngle, -45.5f);

    // Test reply (type 9): bytes 3..63 passed on as received.
    QByteArray test;
    connect(&wheel, &UsbDeviceZudWheelBase::onTestCommand,
            [&](UsbDevice *, ZudUsbWheelBaseTestCommand *command) {
                test = QByteArray(reinterpret_cast<const char *>(command->data), 61);
            });
    wheel.sendTestForceCommand(0.5f);
    QVERIFY(rig.runUntil([&] { return !test.isEmpty(); }));
    QCOMPARE(test.left(5).toHex(' '), QByteArray("00 00 00 00 3f"));
    QCOMPARE(rig.emulator->lastTestForce(), 0.5f);
    wheel.sendTestBrakeResistorCommand(true);
    rig.settle();
    QVERIFY(rig.emulator->brakeResistorOn());
    wheel.sendTestBrakeResistorCommand(false);
    rig.settle();
    QVERIFY(!rig.emulator->brakeResistorOn());

    // Joystick reports: the record starts at byte 1; the axis follows the rim.
    int axis = 0;
    int kind = 0;
    connect(&wheel, &UsbDeviceZudWheelBase::onJoystickUpdate,
            [&](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update, uint64_t) {
                axis = update->axisValue;
                kind = update->updateKind;
            });
    rig.emulator->setPosition(450.0); // half of the 900 degree range: full scale
    rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return kind != 0; }));
    QCOMPARE(kind, 1);
    QCOMPARE(axis, 32767);
    rig.emulator->setPosition(-225.0);
    rig.emulator->setUpdateKind(2);
    rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return kind == 2; }));
    QCOMPARE(axis, -16384);

    // Factory reset: the device restores its table; nothing awaits a reply.
    rig.emulator->setProfiles(makeProfiles(5), 4);
    wheel.resetToFactoryDefaults();
    rig.settle();
    QCOMPARE(rig.emulator->factoryResets(), 1);
    QCOMPARE(rig.emulator->profileCount(), 1);
    QVERIFY(sameProfile(rig.emulator->profile(0), Emulator::factoryProfile(0)));
}

void TestWheelBase::joystickReportNeverStopsRetry()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    QSignalSpy joystick(&wheel, &UsbDeviceZudWheelBase::onJoystickUpdate);
    QSignalSpy debug(&wheel, &UsbDeviceZudWheelBase::onDebugOutput);

    rig.emulator->dropReplies(1);
    wheel.loadSettings();
    QVERIFY(wheel.isRetryArmed());
    for (int i = 0; i < 5; ++i)
        rig.emulator->sendJoystickReport();
    QVERIFY(rig.runUntil([&] { return joystick.count() == 5; }));
    QVERIFY(wheel.isRetryArmed());

    // A report with another id that the wheel base does not know stops it.
    uint8_t other[64] = {7};
    rig.emulator->injectRaw(other, sizeof other);
    rig.settle();
    QVERIFY(!wheel.isRetryArmed());

    // So does a reply of any type, even one that carries nothing for the tool.
    wheel.loadSettings();
    rig.emulator->dropReplies(0);
    QVERIFY(rig.runUntil([&] { return !wheel.isRetryArmed(); })); // answered
    wheel.readProfile(0);
    rig.emulator->dropReplies(1);
    QVERIFY(wheel.isRetryArmed());
    rig.emulator->sendDebugReply();
    QVERIFY(rig.runUntil([&] { return debug.count() == 1; }));
    QVERIFY(!wheel.isRetryArmed());
}

void TestWheelBase::streamingDoesNotStopLoadRetries()
{
    Emulator::Config config = quiet();
    config.streamRate = 1000;
    config.updateKind = 3;
    Rig rig(config, Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    rig.emulator->setProfiles(makeProfiles(10), 0);
    rig.emulator->dropRepliesTo({1, 2, 6});
    QSignalSpy loaded(rig.device.data(), &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy joystick(rig.device.data(), &UsbDeviceZudWheelBase::onJoystickUpdate);

    rig.device->loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() > 0; }));
    QVERIFY(joystick.count() > 0);
    QCOMPARE(folded(describeAll(rig.emulator->commands())), loadExchange(10));
    for (int i = 0; i < 10; ++i)
        QVERIFY(sameProfile(rig.device->profiles[i], makeProfile(i)));
}

void TestWheelBase::unplugDuringExchange_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("unplugAt");
    QTest::newRow("load, asking for profile 1") << false << 3;
    QTest::newRow("save, writing profile 2") << true << 4;
}

void TestWheelBase::unplugDuringExchange()
{
    QFETCH(bool, save);
    QFETCH(int, unplugAt);

    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    const int count = save ? 4 : 5;
    if (save) {
        for (int i = 0; i < count; ++i)
            rig.device->profiles[i] = makeProfile(i);
        rig.device->profileCount = uint8_t(count);
    } else {
        rig.emulator->setProfiles(makeProfiles(count), 0);
    }
    rig.emulator->unplugAtCommand(unplugAt);
    QSignalSpy done(rig.device.data(), save ? &UsbDeviceZudWheelBase::onSettingsSaved
                                            : &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy gone(&rig.manager, &UsbManager::onDeviceDisconnected);

    save ? rig.device->saveSettings() : rig.device->loadSettings();
    QVERIFY(rig.runUntil([&] { return gone.count() > 0; }));
    rig.settle();
    QCOMPARE(gone.count(), 1);
    QVERIFY(rig.device.isNull());
    QCOMPARE(done.count(), 0);
    // The commands up to the one the device left on went out (a slow reply
    // may have repeated one), that one was never answered, and nothing
    // followed the unplug.
    const QStringList sent = describeAll(rig.emulator->commands());
    QCOMPARE(sent.size(), unplugAt);
    const QStringList exchange = save ? saveExchange(count, 0) : loadExchange(count);
    QCOMPARE(folded(sent), exchange.mid(0, folded(sent).size()));
    QVERIFY(rig.manager.getDevices().isEmpty());
    // The profile being written when the device left was not stored.
    if (sent.last() == "write 2")
        QVERIFY(!sameProfile(rig.emulator->profile(2), makeProfile(2)));
}

void TestWheelBase::enterBootloaderUnplugsAndCallsBack()
{
    std::atomic<int> calls{0};
    Emulator::Config config = quiet();
    config.streamRate = 500;
    config.onEnterBootloader = [&calls] { ++calls; };
    Rig rig(config, Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    QSignalSpy gone(&rig.manager, &UsbManager::onDeviceDisconnected);

    rig.device->enterBootloader();
    QVERIFY(!rig.emulator->isPlugged());
    QCOMPARE(calls.load(), 1);
    QVERIFY(rig.runUntil([&] { return gone.count() > 0; }));
    QVERIFY(rig.device.isNull());
}

void TestWheelBase::headerWithCountOutsideTableFails_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("current");
    QTest::newRow("no profiles") << 0 << 0;
    QTest::newRow("101 profiles") << 101 << 0;
    QTest::newRow("255 profiles") << 255 << 0;
    QTest::newRow("current beyond count") << 3 << 3;
    QTest::newRow("current beyond table") << 100 << 200;
}

void TestWheelBase::headerWithCountOutsideTableFails()
{
    QFETCH(int, count);
    QFETCH(int, current);

    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    rig.emulator->setProfiles(makeProfiles(3), 1);
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);
    wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() == 1; }));
    rig.emulator->clearCommands();

    rig.emulator->setProfiles(makeProfiles(100), current);
    rig.emulator->setReportedProfileCount(count);
    wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return failed.count() == 1; }));
    rig.settle();

    const QString message = failed.first().at(1).toString();
    QVERIFY2(message.contains(QString::number(count == 3 ? current : count)), qPrintable(message));
    QVERIFY2(message.contains("not loaded"), qPrintable(message));
    QCOMPARE(describeAll(rig.emulator->commands()), QStringList{"load"});
    QCOMPARE(loaded.count(), 1);
    // What was loaded before stays as it was.
    QCOMPARE(int(wheel.profileCount), 3);
    QCOMPARE(int(wheel.currentProfile), 1);
    for (int i = 0; i < 3; ++i)
        QVERIFY(sameProfile(wheel.profiles[i], makeProfile(i)));
    QVERIFY(!wheel.isRetryArmed());
}

void TestWheelBase::replyWithBadIndexEndsExchange_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("index");
    QTest::newRow("load, negative") << false << 0xFF;
    QTest::newRow("load, -128") << false << 0x80;
    QTest::newRow("load, 100") << false << 100;
    QTest::newRow("load, 127") << false << 127;
    QTest::newRow("load, not below the count") << false << 3;
    QTest::newRow("save, negative") << true << 0xFF;
    QTest::newRow("save, 100") << true << 100;
    QTest::newRow("save, not below the count") << true << 3;
    QTest::newRow("save, 5") << true << 5;
}

void TestWheelBase::replyWithBadIndexEndsExchange()
{
    QFETCH(bool, save);
    QFETCH(int, index);

    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    if (save) {
        for (int i = 0; i < 3; ++i)
            wheel.profiles[i] = makeProfile(i);
        wheel.profileCount = 3;
    } else {
        rig.emulator->setProfiles(makeProfiles(3), 0);
    }
    QSignalSpy done(&wheel, save ? &UsbDeviceZudWheelBase::onSettingsSaved
                                 : &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    // Profile 0 goes through correctly, the reply for profile 1 names `index`.
    save ? wheel.saveSettings() : wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return rig.emulator->commandCount() == 2; }));
    rig.emulator->corruptNextProfileIndex(uint8_t(index));
    QVERIFY(rig.runUntil([&] { return failed.count() > 0; }));
    rig.settle();

    QCOMPARE(failed.count(), 1);
    const QString message = failed.first().at(1).toString();
    QVERIFY2(message.contains(save ? "not saved completely" : "not loaded completely"),
             qPrintable(message));
    QCOMPARE(done.count(), 0);
    QCOMPARE(describeAll(rig.emulator->commands()),
             save ? (QStringList{"save 3/0", "write 0", "write 1"})
                  : (QStringList{"load", "read 0", "read 1"}));
    QVERIFY(!wheel.isRetryArmed());
    if (!save) {
        // The load names the index and keeps only the profile it read.
        QVERIFY2(message.contains(QString::number(int(int8_t(index)))), qPrintable(message));
        QVERIFY(sameProfile(wheel.profiles[0], makeProfile(0)));
        for (int i = 1; i < maxProfiles; ++i)
            QCOMPARE(bytes(wheel.profiles[i]), bytes(ZudUsbWheelBaseProfile{}));
    }
}

void TestWheelBase::centreReplyWithBadIndexChangesNothing()
{
    for (int index : {0xFF, 100, 2}) {
        Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
        QVERIFY(rig.device);
        UsbDeviceZudWheelBase &wheel = *rig.device;
        for (int i = 0; i < 2; ++i)
            wheel.profiles[i] = makeProfile(i);
        wheel.profileCount = 2;
        wheel.currentProfile = 1;
        QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
        QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);
        const QByteArray before(reinterpret_cast<const char *>(wheel.profiles),
                                sizeof wheel.profiles);

        rig.emulator->corruptNextProfileIndex(uint8_t(index));
        rig.emulator->setPosition(30.0);
        wheel.centerRim();
        QVERIFY(rig.runUntil([&] { return failed.count() > 0; }));
        rig.settle();
        QVERIFY2(failed.first().at(1).toString().contains("centre"),
                 qPrintable(failed.first().at(1).toString()));
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(wheel.profiles), sizeof wheel.profiles),
                 before);
        QVERIFY(!wheel.isRetryArmed());
    }
}

void TestWheelBase::strayRepliesWithoutLoadedSettings()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy saved(&wheel, &UsbDeviceZudWheelBase::onSettingsSaved);
    QSignalSpy failed(&wheel, &UsbDeviceZudWheelBase::onSettingsLoadFailed);

    // Saving before anything is loaded would tell the device it has no
    // profiles: refused before anything is sent.
    wheel.saveSettings();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.last().at(1).toString(),
             QString("No profiles are loaded, so there is nothing to save."));
    QVERIFY(rig.emulator->commands().empty());
    QVERIFY(!wheel.isRetryArmed());

    // Replies that belong to no exchange of this object (another program's):
    // a profile (type 5), a written profile (6), a save acceptance (4). None
    // may address the table, send anything or report a failure.
    vhid::Report reply(64, 0);
    reply[0] = 101;
    reply[1] = 5;
    reply[3] = 0;
    reply[4] = 'Z';
    rig.emulator->injectRaw(reply.data(), reply.size());
    reply[1] = 6;
    rig.emulator->injectRaw(reply.data(), reply.size());
    reply[1] = 4;
    rig.emulator->injectRaw(reply.data(), reply.size());
    // Type 8 and unknown types are ignored.
    reply[1] = 8;
    rig.emulator->injectRaw(reply.data(), reply.size());
    reply[1] = 0x85;
    rig.emulator->injectRaw(reply.data(), reply.size());
    rig.settle();

    QCOMPARE(failed.count(), 1);
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(saved.count(), 0);
    QVERIFY(rig.emulator->commands().empty());
    QCOMPARE(bytes(wheel.profiles[0]), bytes(ZudUsbWheelBaseProfile{}));
    QCOMPARE(int(wheel.profileCount), 0);
}

void TestWheelBase::garbageRepliesStayInsideTheTable()
{
    Rig rig(quiet(), Rig::DirectPasses, ZudUsbIds::wheelBaseOrBootloader);
    QVERIFY(rig.device);
    UsbDeviceZudWheelBase &wheel = *rig.device;
    rig.emulator->setProfiles(makeProfiles(100), 50);
    QSignalSpy loaded(&wheel, &UsbDeviceZudWheelBase::onSettingsLoaded);
    wheel.loadSettings();
    QVERIFY(rig.runUntil([&] { return loaded.count() == 1; }));

    // Random replies: whatever they trigger, counts and indices stay valid.
    // Commands they provoke are answered by the emulator as usual.
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        rig.emulator->sendGarbage(50, seed);
        rig.settle(200);
        // (A header of another version returns the count to 0.)
        QVERIFY(wheel.profileCount <= maxProfiles);
        QVERIFY(wheel.profileCount == 0 ? wheel.currentProfile == 0
                                        : wheel.currentProfile < wheel.profileCount);
    }
    // Short reports never reach the device object at all.
    const int before = loaded.count();
    uint8_t shortReply[10] = {101, 7, 0};
    rig.emulator->injectRaw(shortReply, sizeof shortReply);
    rig.settle();
    QCOMPARE(loaded.count(), before);
}

// A second program's object for the rig's wheel base: a manager of its own
// opens the same virtual device, whose every reply reaches both handles.
struct SecondProgram {
    explicit SecondProgram(uint16_t productId = ZudUsbIds::wheelBaseOrBootloader)
    {
        manager.start();
        QMetaObject::invokeMethod(&manager, "doRescanForZudDevices", Qt::DirectConnection,
                                  Q_ARG(uint16_t, ZudUsbIds::vendorId), Q_ARG(uint16_t, productId));
        for (UsbDevice *d : manager.getDevices())
            device = qobject_cast<UsbDeviceZudWheelBase *>(d);
    }
    ~SecondProgram() { manager.stop(); }
    UsbManager manager{createZudDevice};
    QPointer<UsbDeviceZudWheelBase> device;
};

void TestWheelBase::anotherProgramsExchangeChangesNothing_data()
{
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<bool>("changesTheDevice");
    QTest::newRow("load") << "load" << false;
    QTest::newRow("save") << "save" << true;
    QTest::newRow("centre") << "centre" << true;
    QTest::newRow("factory reset") << "reset" << true;
}

// The window has its own edited table while zud-wheel runs an exchange on
// the same wheel base: the window's object must neither take the replies
// over nor answer them with commands of its own.
void TestWheelBase::anotherProgramsExchangeChangesNothing()
{
    QFETCH(QString, exchange);
    QFETCH(bool, changesTheDevice);
    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    rig.emulator->setProfiles(makeProfiles(4), 1);
    SecondProgram cli;
    QVERIFY(rig.device && cli.device);
    UsbDeviceZudWheelBase &window = *rig.device;
    QSignalSpy windowLoaded(&window, &UsbDeviceZudWheelBase::onSettingsLoaded);
    window.loadSettings();
    QVERIFY(rig.runUntil([&] { return windowLoaded.count() == 1; }));
    window.profiles[1].maxForce = 20; // an unsaved edit
    const QByteArray edited(reinterpret_cast<const char *>(window.profiles),
                            sizeof window.profiles);

    UsbDeviceZudWheelBase &other = *cli.device;
    QSignalSpy otherLoaded(&other, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy otherSaved(&other, &UsbDeviceZudWheelBase::onSettingsSaved);
    other.loadSettings();
    QVERIFY(rig.runUntil([&] { return otherLoaded.count() == 1; }));
    rig.emulator->clearCommands();
    QSignalSpy changed(&window, &UsbDeviceZudWheelBase::onSettingsChangedElsewhere);
    QSignalSpy saved(&window, &UsbDeviceZudWheelBase::onSettingsSaved);
    QSignalSpy failed(&window, &UsbDeviceZudWheelBase::onSettingsLoadFailed);
    QStringList expectedCommands;
    if (exchange == "load") {
        other.loadSettings();
        QVERIFY(rig.runUntil([&] { return otherLoaded.count() == 2; }));
        expectedCommands = loadExchange(4);
    } else if (exchange == "save") {
        other.profiles[2].maxForce = 77;
        other.saveSettings();
        QVERIFY(rig.runUntil([&] { return otherSaved.count() == 1; }));
        expectedCommands = saveExchange(4, 1);
    } else if (exchange == "centre") {
        other.centerRim();
        QVERIFY(rig.runUntil([&] { return otherLoaded.count() == 2; }));
        expectedCommands = QStringList{"cmd 7"};
    } else {
        other.resetToFactoryDefaults();
        QVERIFY(rig.runUntil([&] { return rig.emulator->factoryResets() == 1; }));
        expectedCommands = QStringList{"cmd 8"};
    }
    rig.settle();

    QCOMPARE(describeAll(rig.emulator->commands()), expectedCommands);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(window.profiles), sizeof window.profiles),
             edited);
    QCOMPARE(int(window.profileCount), 4);
    QCOMPARE(int(window.currentProfile), 1);
    QCOMPARE(windowLoaded.count(), 1);
    QCOMPARE(saved.count(), 0);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(changed.isEmpty(), !changesTheDevice);
    QVERIFY(!window.holdsTurn());
}

void TestWheelBase::exchangesTakeTurnsBetweenPrograms()
{
    Rig rig(quiet(), Rig::ReaderThread, ZudUsbIds::wheelBaseOrBootloader);
    rig.emulator->setProfiles(makeProfiles(3), 0);
    SecondProgram cli;
    QVERIFY(rig.device && cli.device);
    UsbDeviceZudWheelBase &window = *rig.device;
    UsbDeviceZudWheelBase &other = *cli.device;
    QSignalSpy otherLoaded(&other, &UsbDeviceZudWheelBase::onSettingsLoaded);
    QSignalSpy busy(&other, &UsbDevice::onBusy);
    QSignalSpy windowSaved(&window, &UsbDeviceZudWheelBase::onSettingsSaved);
    ZudUsbWheelBaseProfile saved = makeProfile(9);
    saved.index = 0;
    window.profiles[0] = saved;
    window.profileCount = 1;

    // The window's save gets no answer for now: it keeps the device, and
    // the other program's load waits without sending anything.
    rig.emulator->dropReplies(1000);
    window.saveSettings();
    QVERIFY(window.holdsTurn());
    other.loadSettings();
    QVERIFY(other.isWaitingForTurn());
    QTest::qWait(400);
    QVERIFY(otherLoaded.isEmpty());
    for (const QString &command : describeAll(rig.emulator->commands()))
        QCOMPARE(command, QString("save 1/0"));

    // Once the save is over the load runs, and loads the saved table.
    rig.emulator->dropReplies(0);
    QVERIFY(rig.runUntil([&] { return otherLoaded.count() == 1; }));
    QCOMPARE(windowSaved.count(), 1);
    QCOMPARE(int(other.profileCount), 1);
    QVERIFY(sameProfile(other.profiles[0], saved));
    QVERIFY(busy.isEmpty());
    QVERIFY(!window.holdsTurn() && !other.holdsTurn());

    // A holder that keeps the device past the wait: nothing is sent, and
    // the refusal names the holder and what it does.
    UsbDevice::setTurnWaitMs(300);
    rig.emulator->dropReplies(1000);
    window.centerRim();
    rig.emulator->clearCommands();
    other.saveSettings();
    QVERIFY(rig.runUntil([&] { return busy.count() == 1; }));
    UsbDevice::setTurnWaitMs(10000);
    const QString message = busy.first().at(1).toString();
    const QString pattern =
        QStringLiteral("^The wheel base %1 is busy: .+ \\(pid %2\\) is centring "
                       "the rim\\. Try again when it has finished\\.$")
            .arg(QRegularExpression::escape(other.getId()))
            .arg(QCoreApplication::applicationPid());
    QVERIFY2(QRegularExpression(pattern).match(message).hasMatch(), qPrintable(message));
    QVERIFY(!other.holdsTurn() && !other.isWaitingForTurn());
    for (const QString &command : describeAll(rig.emulator->commands()))
        QCOMPARE(command, QString("cmd 7"));
}

QTEST_GUILESS_MAIN(TestWheelBase)
#include "tst_wheelbase.moc"
