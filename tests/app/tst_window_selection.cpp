// SPDX-License-Identifier: GPL-3.0-or-later
// The window's selection when a device listed before the selected one
// leaves: the current index moves, the chosen device does not, and nothing of
// what the user is doing with it is disturbed.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowTestSupport.h"

#include "app/SettingsMapping.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

using namespace wintest;

namespace {

QComboBox *deviceList(ZUD_wheel_tool &window)
{
    return child<QComboBox>(window, "comboBox_UsbDevice");
}

} // namespace

class WindowSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void earlierDeviceLeavingKeepsWheelBaseEdits();
    void earlierDeviceLeavingKeepsFirmwareTransfer();
};

void WindowSelectionTest::earlierDeviceLeavingKeepsWheelBaseEdits()
{
    ZUD_wheel_tool window;
    auto earlier = plugPedals();
    discover(window);
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    config.factoryProfileCount = 2;
    auto wheel = emu::WheelBaseEmulator::plug(config);
    discover(window);
    QComboBox *list = deviceList(window);
    QCOMPARE(list->count(), 2);
    list->setCurrentIndex(1);
    auto *slider = child<QSlider>(window, "horiSlider_Damping");
    QTRY_VERIFY(slider->isEnabled());
    auto *wheelDevice = deviceOf<UsbDeviceZudWheelBase>(window, wheel->device());
    QVERIFY(wheelDevice);
    const size_t loads = wheel->loadsFinished();
    const size_t commands = wheel->commandCount();

    // An unsaved edit, then the pedals listed above the wheel base go.
    const int edited = slider->value() < slider->maximum() ? slider->value() + 1 : 0;
    slider->setValue(edited);
    const int8_t level = sliderToLevel(edited);
    QCOMPARE(wheelDevice->profiles[wheelDevice->currentProfile].damping, level);
    earlier->unplug();
    QTRY_COMPARE(list->count(), 1);
    QCOMPARE(list->currentIndex(), 0);
    QCOMPARE(list->currentData().toString(), QString::fromStdString(wheel->device()->path()));
    QTest::qWait(100);

    // Nothing was asked of the wheel base; the edit and the controls stay.
    QCOMPARE(wheel->commandCount(), commands);
    QCOMPARE(wheel->loadsFinished(), loads);
    QVERIFY(slider->isEnabled());
    QCOMPARE(slider->value(), edited);
    QCOMPARE(wheelDevice->profiles[wheelDevice->currentProfile].damping, level);
    QVERIFY(child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled());
}

void WindowSelectionTest::earlierDeviceLeavingKeepsFirmwareTransfer()
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).absoluteFilePath(QStringLiteral("big.fw"));
    QByteArray image(8 * 1024, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7 + (i >> 9));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(image), qint64(image.size()));
    }

    DialogAnswerer answers;
    answers.files = QStringList{path};
    ZUD_wheel_tool window;
    auto earlier = plugPedals();
    discover(window);
    // One report per millisecond each way: the transfer takes seconds.
    emu::BootloaderEmulator::Config config;
    config.usbFrameLatency = true;
    auto boot = emu::BootloaderEmulator::plug(config);
    discover(window);
    QComboBox *list = deviceList(window);
    QCOMPARE(list->count(), 2);
    list->setCurrentIndex(1); // opens the chooser, answered with the image
    QTRY_COMPARE(answers.fileDialogs().size(), 1);
    QTRY_VERIFY(boot->chunkReports() > 0);
    QPointer<QProgressDialog> dialog = window.findChild<QProgressDialog *>();
    QVERIFY(dialog);

    earlier->unplug();
    QTRY_COMPARE(list->count(), 1);
    QVERIFY(boot->endReports() == 0); // still in the middle of the transfer

    // The same transfer runs on to its end under the same dialog, and no
    // second chooser was opened.
    QTRY_COMPARE_WITH_TIMEOUT(answers.boxes().size(), 1, 20000);
    QCOMPARE(answers.boxes().first().text, QStringLiteral("Update completed successfully!"));
    QCOMPARE(answers.fileDialogs().size(), 1);
    const std::vector<uint8_t> got = boot->image();
    QVERIFY(got.size() >= size_t(image.size()));
    QVERIFY(std::memcmp(got.data(), image.constData(), size_t(image.size())) == 0);
}

ZUD_WINDOW_TEST_MAIN(WindowSelectionTest)
#include "tst_window_selection.moc"
