// SPDX-License-Identifier: GPL-3.0-or-later
// A device that leaves the bus while the window is handling one of its
// signals, or that comes back before its loss has been handled. The device
// is unplugged from inside the signal, the reader takes it out of the
// registry, and events are processed right there, so that the manager
// deletes the object while its own code is still on the stack. The window
// must have done its part without waiting (boxes open, progress shown), the
// device must not touch itself afterwards, and the window must end usable,
// with the device back on the same interface listed again.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowTestSupport.h"

#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace wintest;

namespace {

constexpr int waitMs = 5000;
constexpr int imageChunks = 4;

// No progress dialog is left once deferred deletions have run.
bool progressReleased(ZUD_wheel_tool &window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.findChild<QProgressDialog *>() == nullptr;
}

// Waits, without running the event loop, until the reader has taken the
// device out of the registry: its loss is queued but not handled yet.
bool waitUntilUnregistered(UsbManager &manager, const QString &id)
{
    QElapsedTimer timer;
    timer.start();
    while (manager.getDevice(id) && timer.elapsed() < waitMs)
        QThread::msleep(2);
    return !manager.getDevice(id);
}

// Takes one signal of a device, connected after the window's own slots, so
// that it runs once the window has handled the signal.
class Receiver : public QObject {
    Q_OBJECT

public:
    // For a signal whose first argument is an int: act on this value only.
    int trigger = -1;
    std::function<void()> act;
    bool acted = false;

    bool follow(QObject *device, const QByteArray &signature)
    {
        const QMetaObject *meta = device->metaObject();
        const int index = meta->indexOfSignal(signature.constData());
        if (index < 0)
            return false;
        const QMetaMethod signal = meta->method(index);
        const char *slot = signal.parameterCount() > 0 && signal.parameterType(0) == QMetaType::Int
                               ? "hitAt(int)"
                               : "hit()";
        return bool(
            connect(device, signal, this, metaObject()->method(metaObject()->indexOfSlot(slot))));
    }

public slots:
    void hit()
    {
        if (acted)
            return;
        acted = true;
        act();
    }
    void hitAt(int value)
    {
        if (trigger < 0 || value == trigger)
            hit();
    }
};

// What the window showed when its slot had returned, and what happened to
// the device inside the signal.
struct Observed {
    bool boxOpen = false;
    QString boxText;
    bool dialogVisible = false;
    bool leftRegistry = false;
    bool deletedInside = false;
};

} // namespace

class WindowDepartureTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void unplugInsideSignal_data();
    void unplugInsideSignal();
    void returnBeforeLossHandled();
    void discoveryGoesOnWhileChooserIsOpen();
};

void WindowDepartureTest::unplugInsideSignal_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<int>("trigger");
    QTest::addColumn<QString>("box");      // the box open when the window's slot returned
    QTest::addColumn<bool>("dialogShown"); // the progress dialog visible then

    const QByteArray progress = "onFirmwareUpdateProgress(int,int)";
    QTest::newRow("update started")
        << "bootloader" << QByteArray("onFirmwareUpdateStarted(int)") << imageChunks << "" << true;
    QTest::newRow("progress") << "bootloader" << progress << 1 << "" << true;
    QTest::newRow("last progress") << "bootloader" << progress << imageChunks << "" << false;
    QTest::newRow("update completed") << "bootloader" << QByteArray("onUpdateCompleted(UsbDevice*)")
                                      << -1 << "Update completed successfully!" << false;
    QTest::newRow("update failed")
        << "bootloader" << QByteArray("onUpdateFailed(UsbDevice*,QString)") << -1
        << "CRC failed on chunk 1 of 4" << true;
    QTest::newRow("load failed") << "old wheel base"
                                 << QByteArray("onSettingsLoadFailed(UsbDevice*,QString)") << -1
                                 << "Device has an older firmware. Please update the firmware."
                                 << false;
    QTest::newRow("save failed") << "wheel base"
                                 << QByteArray("onSettingsLoadFailed(UsbDevice*,QString)") << -1
                                 << "Device confirmed profile -56 while 3 profiles" << false;
}

void WindowDepartureTest::unplugInsideSignal()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, signal);
    QFETCH(int, trigger);
    QFETCH(QString, box);
    QFETCH(bool, dialogShown);
    const bool bootloader = kind == "bootloader";

    QTemporaryDir dir;
    const QString image = QDir(dir.path()).absoluteFilePath("update.fw");
    {
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(imageChunks * UsbDeviceZudBootloader::chunkSize, 'z')) > 0);
    }

    DialogAnswerer answers; // the chooser on selection is cancelled
    ZUD_wheel_tool window;
    QComboBox *list = child<QComboBox>(window, "comboBox_UsbDevice");

    std::shared_ptr<emu::BootloaderEmulator> boot;
    std::shared_ptr<emu::WheelBaseEmulator> wheel;
    emu::WheelBaseEmulator::Config wheelConfig;
    wheelConfig.streamRate = 0;
    wheelConfig.factoryProfileCount = 3;
    if (kind == "old wheel base")
        wheelConfig.settingsVersion = 2;
    std::string path;
    if (bootloader) {
        boot = emu::BootloaderEmulator::plug();
        path = boot->device()->path();
    } else {
        wheel = emu::WheelBaseEmulator::plug(wheelConfig);
        path = wheel->device()->path();
    }
    const QString id = QString::fromStdString(path);
    discover(window);
    QPointer<UsbDevice> device = window.manager().getDevice(id);
    QVERIFY(device);

    Observed seen;
    Receiver receiver;
    receiver.trigger = trigger;
    receiver.act = [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *open = qobject_cast<QMessageBox *>(modal)) {
            seen.boxOpen = open->isVisible();
            seen.boxText = open->text();
        }
        if (QProgressDialog *dialog = window.findChild<QProgressDialog *>())
            seen.dialogVisible = dialog->isVisible();
        if (boot)
            boot->unplug();
        else
            wheel->unplug();
        seen.leftRegistry = waitUntilUnregistered(window.manager(), id);
        seen.deletedInside = QTest::qWaitFor([&] { return device.isNull(); }, waitMs);
    };
    QVERIFY(receiver.follow(device, signal));

    if (bootloader) {
        QTRY_COMPARE(answers.fileDialogs().size(), 1);
        if (signal.startsWith("onUpdateFailed"))
            boot->corruptCrc(1);
        answers.files << image;
        QTest::mouseClick(child<QPushButton>(window, "pushButton_UpdateFirmware"), Qt::LeftButton);
    } else if (kind == "wheel base") {
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled(),
                                 waitMs);
        wheel->corruptNextProfileIndex(200);
        QTest::mouseClick(child<QPushButton>(window, "pushButton_SaveConfig"), Qt::LeftButton);
    }
    QTRY_VERIFY_WITH_TIMEOUT(receiver.acted, waitMs);

    // The window had done its part without waiting in an event loop.
    QCOMPARE(seen.boxOpen, !box.isEmpty());
    QVERIFY2(box.isEmpty() || seen.boxText.startsWith(box), qPrintable(seen.boxText));
    QCOMPARE(seen.dialogVisible, dialogShown);
    QVERIFY(seen.leftRegistry);
    QVERIFY(seen.deletedInside);

    // The window is usable: nothing listed, no dialog left, the box answered.
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 0, waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(progressReleased(window), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, waitMs);
    QCOMPARE(answers.boxes().size(), box.isEmpty() ? 0 : 1);
    QCOMPARE(child<QPushButton>(window, "pushButton_EnterExitBootloader")->text(),
             QStringLiteral("Enter Bootloader"));

    // Back on the same interface, the device is listed again as a new object.
    if (bootloader) {
        emu::BootloaderEmulator::Config config;
        config.path = path;
        boot = emu::BootloaderEmulator::plug(config);
    } else {
        wheelConfig.device.path = path;
        wheel = emu::WheelBaseEmulator::plug(wheelConfig);
    }
    discover(window);
    QCOMPARE(list->count(), 1);
    QVERIFY(window.manager().getDevice(id));
    if (bootloader)
        QTRY_COMPARE(answers.fileDialogs().size(), 3);
}

// The device leaves and is back on the same interface before the loss has
// reached the window: it is listed once, after the old object is gone, and
// the window follows the new object.
void WindowDepartureTest::returnBeforeLossHandled()
{
    DialogAnswerer answers;
    ZUD_wheel_tool window;
    QComboBox *list = child<QComboBox>(window, "comboBox_UsbDevice");
    QPushButton *reload = child<QPushButton>(window, "pushButton_LoadConfig");
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    auto wheel = emu::WheelBaseEmulator::plug(config);
    const QString id = QString::fromStdString(wheel->device()->path());
    discover(window);
    QPointer<UsbDevice> old = window.manager().getDevice(id);
    QVERIFY(old);
    QTRY_VERIFY_WITH_TIMEOUT(reload->isEnabled(), waitMs);

    wheel->unplug();
    QVERIFY(waitUntilUnregistered(window.manager(), id));
    config.device.path = wheel->device()->path();
    wheel = emu::WheelBaseEmulator::plug(config);
    discover(window);
    QCOMPARE(list->count(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(old.isNull(), waitMs);
    discover(window);
    QCOMPARE(list->count(), 1);
    QPointer<UsbDevice> fresh = window.manager().getDevice(id);
    QVERIFY(fresh);
    QTRY_VERIFY_WITH_TIMEOUT(reload->isEnabled(), waitMs);
    const size_t loads = wheel->loadsFinished();
    QTest::mouseClick(reload, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(wheel->loadsFinished(), loads + 1, waitMs);
    QVERIFY(answers.seen.isEmpty());
}

// The chooser that selecting a bootloader opens leaves discovery running:
// a device plugged while it is open is listed before it is answered.
void WindowDepartureTest::discoveryGoesOnWhileChooserIsOpen()
{
    ZUD_wheel_tool window;
    QComboBox *list = child<QComboBox>(window, "comboBox_UsbDevice");
    auto boot = emu::BootloaderEmulator::plug();
    std::shared_ptr<emu::PedalsEmulator> pedals;
    int listedWhileOpen = -1;
    QElapsedTimer open;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, [&] {
        auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!chooser || !chooser->isVisible() || listedWhileOpen >= 0)
            return;
        if (!pedals) {
            emu::PedalsEmulator::Config config;
            config.streamRate = 0;
            pedals = emu::PedalsEmulator::plug(config);
            open.start();
            return;
        }
        // Two discovery periods at most.
        if (list->count() < 2 && open.elapsed() < 2500)
            return;
        listedWhileOpen = list->count();
        chooser->reject();
    });
    poll.start();
    // Both found by the window's own periodic discovery.
    QTRY_VERIFY_WITH_TIMEOUT(listedWhileOpen >= 0, 3 * waitMs);
    QCOMPARE(listedWhileOpen, 2);
    QCOMPARE(list->currentIndex(), 0);
    QVERIFY(!child<QPushButton>(window, "pushButton_UpdateFirmware")->isHidden());
}

ZUD_WINDOW_TEST_MAIN(WindowDepartureTest)
#include "tst_window_departure.moc"
