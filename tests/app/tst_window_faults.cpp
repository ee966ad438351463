// SPDX-License-Identifier: GPL-3.0-or-later
// Faults at every step of what the user starts from the window: the settings
// load that runs when a wheel base is selected, "Save Settings", "Center"
// and a firmware update. The device leaves the bus, a write fails, a reply
// is lost or comes twice. After each one the window is in a clear state:
// nothing is enabled for a device that is gone, no progress dialog or box is
// left open, the user's unsaved edits are still there while the device
// stays, and the device, plugged back, is listed and works again.
#include "DialogAnswerer.h"
#include "FaultInjection.h"
#include "FindChild.h"
#include "ProfileSupport.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "simulator/BootloaderEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

using namespace wintest;

namespace {

using testing::sameProfile;

constexpr int profileCount = 3;
// Settings request, one request per profile, the closing report.
constexpr int exchangeSteps = profileCount + 2;
constexpr int imageChunks = 4;
constexpr int waitMs = 5000;

const QStringList wheelControls = {"pushButton_LoadConfig", "pushButton_SaveConfig",
                                   "horiSlider_Force",      "horiSlider_Damping",
                                   "comboBox_ProfileName",  "pushButton_AddProfile"};

bool controlsEnabled(ZUD_wheel_tool &window, bool on)
{
    for (const QString &name : wheelControls) {
        QWidget *w = window.findChild<QWidget *>(name);
        if (!w || w->isEnabled() != on)
            return false;
    }
    return true;
}

// No progress dialog is left once deferred deletions have run.
bool progressReleased(ZUD_wheel_tool &window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.findChild<QProgressDialog *>() == nullptr;
}

emu::WheelBaseEmulator::Config wheelConfig()
{
    emu::WheelBaseEmulator::Config config;
    config.factoryProfileCount = profileCount;
    config.streamRate = 200;
    return config;
}

QByteArray testImage()
{
    QByteArray image(imageChunks * UsbDeviceZudBootloader::chunkSize - 7, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 13 + 5);
    return image;
}

void addFaultRows(int steps, bool lastStepAnswered)
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("step");
    for (int k = 1; k <= steps; ++k) {
        QTest::addRow("unplug %d", k) << QStringLiteral("unplug") << k;
        QTest::addRow("failed write %d", k) << QStringLiteral("write") << k;
        QTest::addRow("lost reply %d", k) << QStringLiteral("lost") << k;
        if (k < steps || lastStepAnswered)
            QTest::addRow("duplicated reply %d", k) << QStringLiteral("duplicate") << k;
    }
}

// The window with an emulated wheel base selected and its settings shown.
struct WheelRig : WindowRig {
    DialogAnswerer answers; // records any box; none is expected

    QComboBox *list() { return child<QComboBox>(window, "comboBox_UsbDevice"); }
    QSlider *slider(const char *name) { return child<QSlider>(window, name); }
    QString centreText() { return child<QLabel>(window, "label_CenterOffsetDeg")->text(); }

    // Plugs a wheel base (with the given table, if any) and waits until the
    // window shows its settings and the load has ended quiet.
    bool plug(const std::vector<ZudUsbWheelBaseProfile> &table = {})
    {
        return WindowRig::plug(wheelConfig(), table) &&
               QTest::qWaitFor([&] { return controlsEnabled(window, true); }, waitMs) &&
               QTest::qWaitFor([&] { return !wheelBase->isRetryArmed(); }, waitMs);
    }

    // What a user does before saving: pick the last profile and move two
    // sliders. Only a save carries these to the device.
    void edit(int force, int damping)
    {
        choose(2);
        slider("horiSlider_Force")->setValue(force);
        slider("horiSlider_Damping")->setValue(damping);
    }

    bool tableMatchesDevice() const
    {
        if (wheelBase->profileCount != emulator->profileCount())
            return false;
        for (int i = 0; i < wheelBase->profileCount; ++i)
            if (!sameProfile(wheelBase->profiles[i], emulator->profile(i)))
                return false;
        return true;
    }

    std::vector<ZudUsbWheelBaseProfile> hostTable() const
    {
        return std::vector<ZudUsbWheelBaseProfile>(wheelBase->profiles,
                                                   wheelBase->profiles + wheelBase->profileCount);
    }

    // Arms a fault at the given step of the exchange the next click starts.
    std::unique_ptr<QObject> arm(const QString &fault, int step)
    {
        if (fault == "unplug") {
            emulator->unplugAtCommand(step);
        } else if (fault == "write") {
            return std::make_unique<faults::FailWriteAt>(emulator->device(), size_t(step));
        } else if (fault == "lost") {
            emulator->dropRepliesTo({step});
        } else {
            auto duplicate = std::make_unique<faults::DuplicateReply>(emulator->device(), step);
            if (!duplicate->opened())
                return nullptr;
            return duplicate;
        }
        return std::make_unique<QObject>();
    }

    // The wheel base went: its row and its object are gone, its handle is
    // closed, nothing is left enabled for it and no dialog is open.
    bool goneCleanly()
    {
        return QTest::qWaitFor([&] { return wheelBase.isNull() && list()->count() == 0; },
                               waitMs) &&
               controlsEnabled(window, false) && emulator->device()->openHandleCount() == 0 &&
               QApplication::activeModalWidget() == nullptr;
    }
};

} // namespace

class WindowFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void settingsLoadOnSelection_data() { addFaultRows(exchangeSteps, false); }
    void settingsLoadOnSelection();
    void saveSettings_data() { addFaultRows(exchangeSteps, false); }
    void saveSettings();
    void center_data() { addFaultRows(1, true); }
    void center();
    void firmwareUpdate_data();
    void firmwareUpdate();
};

// The window loads a wheel base's settings as soon as it is selected.
void WindowFaultsTest::settingsLoadOnSelection()
{
    QFETCH(QString, fault);
    QFETCH(int, step);
    WheelRig rig;
    rig.emulator = emu::WheelBaseEmulator::plug(wheelConfig());
    std::unique_ptr<QObject> armed = rig.arm(fault, step);
    QVERIFY(armed);
    discover(rig.window);
    QCOMPARE(rig.list()->count(), 1);
    rig.wheelBase = deviceOf<UsbDeviceZudWheelBase>(rig.window, rig.emulator->device());
    // A device that leaves at the first command may be gone already.
    QVERIFY(rig.wheelBase || fault == "unplug");

    if (fault == "unplug") {
        QVERIFY(rig.goneCleanly());
        const std::vector<ZudUsbWheelBaseProfile> table = rig.emulator->profiles();
        QVERIFY(rig.plug(table));
        QCOMPARE(rig.list()->count(), 1);
    }
    // The load ends (or is made good by the retry) and the editor opens.
    QTRY_VERIFY_WITH_TIMEOUT(controlsEnabled(rig.window, true), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.wheelBase->isRetryArmed() || fault == "write", waitMs);
    armed.reset();
    QVERIFY(rig.tableMatchesDevice());
    QCOMPARE(rig.profiles()->count(), profileCount);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(rig.answers.seen.isEmpty());
    QCOMPARE(rig.list()->count(), 1);
}

void WindowFaultsTest::saveSettings()
{
    QFETCH(QString, fault);
    QFETCH(int, step);
    WheelRig rig;
    QVERIFY(rig.plug());
    rig.edit(77, 3);
    const std::vector<ZudUsbWheelBaseProfile> edited = rig.hostTable();
    QCOMPARE(int(edited[2].maxForce), 77);

    std::unique_ptr<QObject> armed = rig.arm(fault, step);
    QVERIFY(armed);
    rig.click("pushButton_SaveConfig");

    if (fault == "unplug") {
        QVERIFY(rig.goneCleanly());
        // Plugged back, the wheel base shows what it holds and saves again.
        QVERIFY(rig.plug(rig.emulator->profiles()));
        QVERIFY(rig.tableMatchesDevice());
        rig.edit(66, 4);
        const ZudUsbWheelBaseProfile again = rig.wheelBase->profiles[2];
        rig.click("pushButton_SaveConfig");
        QTRY_VERIFY_WITH_TIMEOUT(sameProfile(rig.emulator->profile(2), again), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(int(rig.emulator->savesFinished()), 1, waitMs);
        QVERIFY(rig.answers.seen.isEmpty());
        return;
    }

    // The save gets through: the device holds the edited table.
    QTRY_VERIFY_WITH_TIMEOUT(rig.emulator->savesFinished() >= 1, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(rig.tableMatchesDevice(), waitMs);
    // A failed closing report is repeated until something answers it; the
    // editor stays usable meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.wheelBase->isRetryArmed() || fault == "write", waitMs);
    armed.reset();
    // Nothing the user edited was touched by the exchange, and the editor
    // shows it again, enabled, once the save has been read back.
    QTRY_VERIFY_WITH_TIMEOUT(controlsEnabled(rig.window, true), waitMs);
    const std::vector<ZudUsbWheelBaseProfile> after = rig.hostTable();
    QCOMPARE(after.size(), edited.size());
    for (size_t i = 0; i < edited.size(); ++i)
        QVERIFY2(sameProfile(after[i], edited[i]), qPrintable(QString("profile %1").arg(i)));
    QCOMPARE(rig.profiles()->currentIndex(), 2);
    QCOMPARE(rig.slider("horiSlider_Force")->value(), 77);
    QCOMPARE(rig.slider("horiSlider_Damping")->value(), 3);
    QVERIFY(rig.answers.seen.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(rig.list()->count(), 1);
}

void WindowFaultsTest::center()
{
    QFETCH(QString, fault);
    QFETCH(int, step);
    WheelRig rig;
    QVERIFY(rig.plug());
    rig.edit(77, 3);
    const std::vector<ZudUsbWheelBaseProfile> edited = rig.hostTable();
    QCOMPARE(rig.centreText(), QStringLiteral("0.00 deg"));
    rig.emulator->setPosition(-45.0);

    std::unique_ptr<QObject> armed = rig.arm(fault, step);
    QVERIFY(armed);
    rig.click("pushButton_CenterRim");

    if (fault == "unplug") {
        QVERIFY(rig.goneCleanly());
        QVERIFY(rig.plug(rig.emulator->profiles()));
        rig.emulator->setPosition(90.0);
        rig.click("pushButton_CenterRim");
        QTRY_COMPARE_WITH_TIMEOUT(rig.centreText(), QStringLiteral("90.00 deg"), waitMs);
        QVERIFY(rig.answers.seen.isEmpty());
        return;
    }

    QTRY_COMPARE_WITH_TIMEOUT(rig.centreText(), QStringLiteral("-45.00 deg"), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.wheelBase->isRetryArmed(), waitMs);
    armed.reset();
    // The centred profile came back with the user's edits in it; the other
    // profiles are as the user left them.
    const std::vector<ZudUsbWheelBaseProfile> after = rig.hostTable();
    QCOMPARE(after.size(), edited.size());
    QVERIFY(sameProfile(after[0], edited[0]));
    QVERIFY(sameProfile(after[1], edited[1]));
    ZudUsbWheelBaseProfile expected = edited[2];
    expected.centerOffset = -0.125f;
    QVERIFY(sameProfile(after[2], expected));
    QVERIFY(controlsEnabled(rig.window, true));
    QCOMPARE(rig.profiles()->currentIndex(), 2);
    QCOMPARE(rig.slider("horiSlider_Force")->value(), 77);
    QCOMPARE(rig.slider("horiSlider_Damping")->value(), 3);
    QVERIFY(rig.answers.seen.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

// Firmware transfer of four chunks: writes 1..4 are the chunks, write 5 the
// end report. Acknowledgements are lost or doubled per chunk.
void WindowFaultsTest::firmwareUpdate_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("step");
    for (int k = 1; k <= imageChunks + 1; ++k) {
        QTest::addRow("unplug after write %d", k) << QStringLiteral("unplug") << k;
        QTest::addRow("failed write %d", k) << QStringLiteral("write") << k;
    }
    for (int k = 0; k < imageChunks; ++k) {
        QTest::addRow("lost acknowledgement %d", k) << QStringLiteral("lost") << k;
        QTest::addRow("duplicated acknowledgement %d", k) << QStringLiteral("duplicate") << k;
    }
}

void WindowFaultsTest::firmwareUpdate()
{
    QFETCH(QString, fault);
    QFETCH(int, step);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).absoluteFilePath("update.fw");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(testImage()), qint64(testImage().size()));
    }
    const QByteArray image = testImage();
    std::shared_ptr<emu::BootloaderEmulator> boot;
    auto imageArrived = [&] {
        const std::vector<uint8_t> got = boot->image();
        return boot->transferEnded() && got.size() >= size_t(image.size()) &&
               std::memcmp(got.data(), image.constData(), size_t(image.size())) == 0;
    };
    auto successBoxes = [](const DialogAnswerer &answers) {
        int n = 0;
        for (const SeenDialog &box : answers.boxes())
            n += box.title == "Firmware update" && box.text == "Update completed successfully!";
        return n;
    };

    DialogAnswerer answers;
    answers.files << path << path;
    ZUD_wheel_tool window;
    QComboBox *list = child<QComboBox>(window, "comboBox_UsbDevice");
    QPushButton *updateButton = child<QPushButton>(window, "pushButton_UpdateFirmware");
    QPushButton *factoryButton = child<QPushButton>(window, "pushButton_SetDefaultConfig");

    boot = emu::BootloaderEmulator::plug();
    std::unique_ptr<QObject> armed;
    if (fault == "unplug") {
        if (step <= imageChunks)
            boot->unplugAfterChunk(step - 1);
        else
            armed = std::make_unique<faults::UnplugAfterWrite>(boot->device(), size_t(step));
    } else if (fault == "write") {
        armed = std::make_unique<faults::FailWriteAt>(boot->device(), size_t(step));
    } else if (fault == "lost") {
        boot->dropAcknowledgements(step);
    } else {
        boot->duplicateAcknowledgement(step);
    }
    // Selecting the bootloader asks for the file once the discovery pass
    // has returned, and the transfer starts with its dialog shown.
    discover(window);
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(window, boot->device());
    QVERIFY(bootloader);
    bool dialogShown = false;
    connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted, &window, [&] {
        const QProgressDialog *dialog = window.findChild<QProgressDialog *>();
        dialogShown = dialog && dialog->isVisible();
    });
    QTRY_COMPARE(answers.fileDialogs().size(), 1);
    QTRY_VERIFY(dialogShown);

    if (fault == "unplug") {
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 0, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(progressReleased(window), waitMs);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(updateButton->isHidden());
        QVERIFY(!factoryButton->isEnabled());
        QCOMPARE(boot->device()->openHandleCount(), 0);
        // Success is told only when the end report went out before the
        // bootloader left; a failure is never made up.
        QCOMPARE(successBoxes(answers), step == imageChunks + 1 ? 1 : 0);
        QCOMPARE(answers.boxes().size(), successBoxes(answers));
        armed.reset();

        // Plugged back, it is listed, asks for the file again and takes it.
        const int boxesBefore = answers.boxes().size();
        boot = emu::BootloaderEmulator::plug();
        discover(window);
        QCOMPARE(list->count(), 1);
        QTRY_COMPARE(answers.fileDialogs().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(imageArrived(), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(answers.boxes().size(), boxesBefore + 1, waitMs);
        QCOMPARE(successBoxes(answers), boxesBefore + 1);
        QTRY_VERIFY_WITH_TIMEOUT(progressReleased(window), waitMs);
        return;
    }

    // The transfer recovers: one success box, no failure, the image whole.
    QTRY_VERIFY_WITH_TIMEOUT(imageArrived(), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(successBoxes(answers), 1, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(progressReleased(window), waitMs);
    auto *device = deviceOf<UsbDeviceZudBootloader>(window, boot->device());
    QVERIFY(device);
    // A failed end report is sent again and from then on awaits an answer
    // that the bootloader never gives; every other fault ends quiet.
    const bool endRepeats = fault == "write" && step == imageChunks + 1;
    QTRY_VERIFY_WITH_TIMEOUT(!device->isRetryArmed() || endRepeats, waitMs);
    // Late copies and repeats after the end tell nothing more.
    QTest::qWait(300);
    QCOMPARE(answers.boxes().size(), 1);
    QCOMPARE(boot->crcMismatches() + boot->tailMismatches(), 0);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(list->count(), 1);
    QVERIFY(!updateButton->isHidden());
    QVERIFY(factoryButton->isEnabled());
}

ZUD_WINDOW_TEST_MAIN(WindowFaultsTest)
#include "tst_window_faults.moc"
