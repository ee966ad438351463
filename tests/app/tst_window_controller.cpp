// SPDX-License-Identifier: GPL-3.0-or-later
// The window against the virtual bus: the device list, the selection, the
// enable state per device kind, the bootloader button and the teardown.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowTestSupport.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace wintest;

namespace {

// What setUiEnabled decides, read back from the widgets. A group of widgets
// that disagree among themselves reads as "mixed", which matches nothing.
enum Group { Off, On, Mixed };

Group groupState(ZUD_wheel_tool &w, std::initializer_list<const char *> names,
                 bool (*state)(const QWidget *))
{
    int on = 0;
    for (const char *name : names)
        on += state(child<QWidget>(w, name)) ? 1 : 0;
    return on == 0 ? Off : on == int(names.size()) ? On : Mixed;
}

bool shown(const QWidget *widget)
{
    return !widget->isHidden();
}
bool enabled(const QWidget *widget)
{
    return widget->isEnabled();
}

struct UiState {
    QString bootloaderText;
    Group updateFirmwareShown, loadSaveEnabled, defaultsEnabled, pedalsShown, rimShown,
        wheelControlsEnabled, wheelRowsShown;
};

UiState uiState(ZUD_wheel_tool &w)
{
    UiState s;
    s.bootloaderText = child<QPushButton>(w, "pushButton_EnterExitBootloader")->text();
    s.updateFirmwareShown = groupState(w, {"pushButton_UpdateFirmware"}, shown);
    s.loadSaveEnabled = groupState(w, {"pushButton_LoadConfig", "pushButton_SaveConfig"}, enabled);
    s.defaultsEnabled = groupState(w, {"pushButton_SetDefaultConfig"}, enabled);
    s.pedalsShown = groupState(w, {"pedalX", "pedalY", "pedalZ"}, shown);
    s.rimShown = groupState(w, {"label_Rim_Image"}, shown);
    s.wheelControlsEnabled =
        groupState(w,
                   {"comboBox_ProfileName", "pushButton_AddProfile", "pushButton_RemoveProfile",
                    "comboBox_EncoderType", "spinBox_EncoderRes", "horiSlider_Force",
                    "horiSlider_GenSmooth", "horiSlider_Damping", "horiSlider_Friction",
                    "horiSlider_Inertia", "horiSlider_Spring", "comboBox_DampingEffect",
                    "comboBox_FrictionEffect", "comboBox_InertiaEffect", "comboBox_SpringEffect"},
                   enabled);
    s.wheelRowsShown =
        groupState(w,
                   {"label_CenterOffset", "label_CenterOffsetDeg", "pushButton_CenterRim",
                    "label_RotationDegrees", "spinBox_RotationDegree"},
                   shown);
    return s;
}

void compareState(const UiState &actual, const UiState &expected)
{
    QCOMPARE(actual.bootloaderText, expected.bootloaderText);
    QCOMPARE(actual.updateFirmwareShown, expected.updateFirmwareShown);
    QCOMPARE(actual.loadSaveEnabled, expected.loadSaveEnabled);
    QCOMPARE(actual.defaultsEnabled, expected.defaultsEnabled);
    QCOMPARE(actual.pedalsShown, expected.pedalsShown);
    QCOMPARE(actual.rimShown, expected.rimShown);
    QCOMPARE(actual.wheelControlsEnabled, expected.wheelControlsEnabled);
    QCOMPARE(actual.wheelRowsShown, expected.wheelRowsShown);
}

const UiState nothingState{"Enter Bootloader", Off, Off, Off, Off, Off, Off, Off};
const UiState wheelReadyState{"Enter Bootloader", Off, On, On, Off, On, On, On};
const UiState pedalsState{"Enter Bootloader", Off, Off, Off, On, Off, Off, Off};
const UiState bootloaderState{"Exit Bootloader", On, Off, On, Off, Off, Off, Off};

QComboBox *deviceList(ZUD_wheel_tool &w)
{
    return child<QComboBox>(w, "comboBox_UsbDevice");
}

bool sameReport(const vhid::Report &report, std::initializer_list<uint8_t> head)
{
    if (report.size() != size_t(zudUsbReportSize))
        return false;
    size_t i = 0;
    for (uint8_t byte : head)
        if (report[i++] != byte)
            return false;
    for (; i < report.size(); ++i)
        if (report[i] != 0)
            return false;
    return true;
}

} // namespace

class WindowControllerTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void startsWithNothingSelected();
    void firstArrivalSelectedSecondAppended();
    void removingDevicesMovesTheSelection();
    void enableStatePerKind();
    void wheelBaseReadyOnceItsSettingsLoad();
    void labelsEmptiedOnEverySelection();
    void bootloaderButtonPerKind();
    void bootloaderButtonWithNothingSelected();
    void closingWithProgressDialogOpen();
    void deselectingBootloaderClosesProgressDialog();
};

void WindowControllerTest::startsWithNothingSelected()
{
    ZUD_wheel_tool window;
    compareState(uiState(window), nothingState);
    QCOMPARE(deviceList(window)->count(), 0);
    // The no-device state empties the live and debug labels of the form.
    QVERIFY(child<QLabel>(window, "label_debugTicks")->text().isEmpty());
    QVERIFY(child<QLabel>(window, "label_Force")->text().isEmpty());
    QCOMPARE(child<QLabel>(window, "label_CenterOffsetDeg")->text(), QStringLiteral("0.00 deg"));
}

void WindowControllerTest::firstArrivalSelectedSecondAppended()
{
    ZUD_wheel_tool window;
    auto pedals = plugPedals();
    discover(window);
    QComboBox *list = deviceList(window);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentIndex(), 0);
    QCOMPARE(list->itemText(0), QStringLiteral("ZUD Pedals"));
    QCOMPARE(list->itemData(0).toString(), QString::fromStdString(pedals->path()));
    compareState(uiState(window), pedalsState);

    auto wheel = plugWheelBase();
    discover(window);
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentIndex(), 0);
    QCOMPARE(list->itemText(1), QStringLiteral("ZUD Wheel Base"));
    QCOMPARE(list->itemData(1).toString(), QString::fromStdString(wheel->path()));
    // Still following the pedals: their reports reach the bars.
    compareState(uiState(window), pedalsState);
    auto *pedalsDevice = deviceOf<UsbDeviceZudPedals>(window, pedals);
    int seen = 0;
    QObject::connect(pedalsDevice, &UsbDeviceZudPedals::onJoystickUpdate, [&] { ++seen; });
    pedals->inject(pedalsReport(1000, 2000, 3000));
    QTRY_COMPARE(seen, 1);
    QCOMPARE(child<QLabel>(window, "label_JoystickValue")->text(),
             QStringLiteral("1000 2000 3000"));
}

void WindowControllerTest::removingDevicesMovesTheSelection()
{
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    auto pedals = plugPedals();
    auto other = plugWheelBase({}, L"ZUD Wheel Base 2");
    discover(window);
    QComboBox *list = deviceList(window);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->currentText(), QStringLiteral("ZUD Wheel Base"));
    auto *wheelDevice = deviceOf<UsbDeviceZudWheelBase>(window, wheel);
    emit wheelDevice->onSettingsLoaded(wheelDevice);
    compareState(uiState(window), wheelReadyState);

    // A device that is not selected leaves the selection and the controls.
    other->unplug();
    QTRY_COMPARE(list->count(), 2);
    QCOMPARE(list->currentText(), QStringLiteral("ZUD Wheel Base"));
    compareState(uiState(window), wheelReadyState);

    // The selected one goes: the next current item is selected.
    QPointer<UsbDeviceZudWheelBase> gone(wheelDevice);
    wheel->unplug();
    QTRY_COMPARE(list->count(), 1);
    QCOMPARE(list->currentText(), QStringLiteral("ZUD Pedals"));
    compareState(uiState(window), pedalsState);
    QTRY_VERIFY(gone.isNull());

    pedals->unplug();
    QTRY_COMPARE(list->count(), 0);
    QCOMPARE(list->currentIndex(), -1);
    compareState(uiState(window), nothingState);
}

void WindowControllerTest::enableStatePerKind()
{
    DialogAnswerer dismisser;
    dismisser.otherwise = QMessageBox::NoButton;
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    auto pedals = plugPedals();
    auto boot = plugBootloader();
    discover(window);
    QComboBox *list = deviceList(window);
    QCOMPARE(list->count(), 3);
    auto *wheelDevice = deviceOf<UsbDeviceZudWheelBase>(window, wheel);
    QVERIFY(wheelDevice);

    // A wheel base waits for its settings with everything of the wheel off.
    QCOMPARE(list->currentText(), QStringLiteral("ZUD Wheel Base"));
    compareState(uiState(window), nothingState);
    emit wheelDevice->onSettingsLoaded(wheelDevice);
    compareState(uiState(window), wheelReadyState);

    // Settings of a device that is not selected change nothing.
    list->setCurrentIndex(list->findText(QStringLiteral("ZUD Pedals")));
    compareState(uiState(window), pedalsState);
    emit wheelDevice->onSettingsLoaded(wheelDevice);
    compareState(uiState(window), pedalsState);

    list->setCurrentIndex(list->findText(QStringLiteral("ZUD Bootloader")));
    compareState(uiState(window), bootloaderState);

    // Back to the wheel base: waiting for its settings again.
    list->setCurrentIndex(list->findText(QStringLiteral("ZUD Wheel Base")));
    compareState(uiState(window), nothingState);

    list->setCurrentIndex(-1);
    compareState(uiState(window), nothingState);

    // From a bootloader to nothing (the way its departure leaves an empty
    // list): the button offers to enter the bootloader again.
    list->setCurrentIndex(list->findText(QStringLiteral("ZUD Bootloader")));
    list->setCurrentIndex(-1);
    compareState(uiState(window), nothingState);
}

void WindowControllerTest::wheelBaseReadyOnceItsSettingsLoad()
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    ZUD_wheel_tool window;
    int loaded = 0;
    window.manager().rescanForZudDevices();
    auto *wheel = deviceOf<UsbDeviceZudWheelBase>(window, emulator->device());
    QVERIFY(wheel);
    QObject::connect(wheel, &UsbDeviceZudWheelBase::onSettingsLoaded, [&] { ++loaded; });
    // Selecting the wheel base asked it for its settings: report 100,
    // command 3, version 3 first.
    const auto commands = emulator->commands();
    QVERIFY(!commands.empty());
    QVERIFY(sameReport(commands.front(), {100, 3, 3}));
    QTRY_VERIFY(loaded >= 1);
    compareState(uiState(window), wheelReadyState);
}

void WindowControllerTest::labelsEmptiedOnEverySelection()
{
    ZUD_wheel_tool window;
    auto pedals = plugPedals();
    discover(window);
    auto wheel = plugWheelBase();
    discover(window);
    auto *pedalsDevice = deviceOf<UsbDeviceZudPedals>(window, pedals);
    int seen = 0;
    QObject::connect(pedalsDevice, &UsbDeviceZudPedals::onJoystickUpdate, [&] { ++seen; });
    pedals->inject(pedalsReport(1, 2, 3));
    QTRY_COMPARE(seen, 1);
    QLabel *value = child<QLabel>(window, "label_JoystickValue");
    QCOMPARE(value->text(), QStringLiteral("1 2 3"));

    deviceList(window)->setCurrentIndex(1);
    QVERIFY(value->text().isEmpty());
    // The pedals are no longer followed.
    pedals->inject(pedalsReport(4, 5, 6));
    QTRY_COMPARE(seen, 2);
    QVERIFY(value->text().isEmpty());
}

void WindowControllerTest::bootloaderButtonPerKind()
{
    DialogAnswerer dismisser;
    dismisser.otherwise = QMessageBox::NoButton;
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    auto pedals = plugPedals();
    auto boot = plugBootloader();
    discover(window);
    QComboBox *list = deviceList(window);
    QPushButton *button = child<QPushButton>(window, "pushButton_EnterExitBootloader");

    struct Case {
        const char *product;
        vhid::DevicePtr device;
        std::initializer_list<uint8_t> command;
    };
    const Case cases[] = {
        {"ZUD Wheel Base", wheel, {100, 1, 0}}, // EnterBootloader, version 0
        {"ZUD Pedals", pedals, {100, 1, 0}},
        {"ZUD Bootloader", boot, {100, 8, 2, 1}}, // Reset with the restart flag
    };
    for (const Case &c : cases) {
        list->setCurrentIndex(list->findText(QLatin1String(c.product)));
        for (const auto &dev : {wheel, pedals, boot})
            dev->clearWritten();
        QTest::mouseClick(button, Qt::LeftButton);
        const auto written = c.device->writtenReports();
        QVERIFY2(!written.empty(), c.product);
        QVERIFY2(sameReport(written.back(), c.command), c.product);
        for (const auto &dev : {wheel, pedals, boot})
            if (dev != c.device)
                QVERIFY2(dev->writtenReports().empty(), c.product);
    }
}

void WindowControllerTest::bootloaderButtonWithNothingSelected()
{
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    auto pedals = plugPedals();
    discover(window);
    deviceList(window)->setCurrentIndex(-1);
    wheel->clearWritten();
    pedals->clearWritten();
    QPushButton *button = child<QPushButton>(window, "pushButton_EnterExitBootloader");
    QCOMPARE(button->text(), QStringLiteral("Enter Bootloader"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(50);
    QVERIFY(wheel->writtenReports().empty());
    QVERIFY(pedals->writtenReports().empty());
}

void WindowControllerTest::closingWithProgressDialogOpen()
{
    DialogAnswerer dismisser;
    dismisser.otherwise = QMessageBox::NoButton;
    auto *window = new ZUD_wheel_tool;
    auto boot = plugBootloader();
    discover(*window);
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(*window, boot);
    QVERIFY(bootloader);
    emit bootloader->onFirmwareUpdateStarted(10);
    emit bootloader->onFirmwareUpdateProgress(3, 10);
    QPointer<QProgressDialog> dialog = window->findChild<QProgressDialog *>();
    QVERIFY(dialog);
    QCOMPARE(dialog->maximum(), 10);
    QCOMPARE(dialog->value(), 3);
    dialog->show();
    QVERIFY(dialog->isVisible());

    QSignalSpy closed(dialog.data(), &QObject::destroyed);
    delete window;
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(closed.count(), 1);
    // The bus saw the device closed with the window.
    QCOMPARE(boot->openHandleCount(), 0);
}

void WindowControllerTest::deselectingBootloaderClosesProgressDialog()
{
    DialogAnswerer dismisser;
    dismisser.otherwise = QMessageBox::NoButton;
    ZUD_wheel_tool window;
    auto boot = plugBootloader();
    auto pedals = plugPedals();
    discover(window);
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(window, boot);
    QCOMPARE(deviceList(window)->currentText(), QStringLiteral("ZUD Bootloader"));
    emit bootloader->onFirmwareUpdateStarted(4);
    QPointer<QProgressDialog> dialog = window.findChild<QProgressDialog *>();
    QVERIFY(dialog);
    dialog->show();

    deviceList(window)->setCurrentIndex(1);
    QVERIFY(dialog.isNull() || !dialog->isVisible());
    QTRY_VERIFY(dialog.isNull());
    // No longer connected: a late start from the bootloader opens nothing.
    emit bootloader->onFirmwareUpdateStarted(4);
    QVERIFY(!window.findChild<QProgressDialog *>());
}

QTEST_MAIN(WindowControllerTest)
#include "tst_window_controller.moc"
