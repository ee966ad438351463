// SPDX-License-Identifier: GPL-3.0-or-later
// What the window adds to its form to explain itself, against the virtual
// bus: the placeholder and hint while no device is attached, the captions
// beside the debug values and under the pedal bars, the controls offered per
// device kind, the results in the status bar, the keyboard shortcuts and the
// tab order.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "app/TransferEstimate.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <functional>

using namespace wintest;

namespace {

QString statusOf(ZUD_wheel_tool &window)
{
    return window.statusBar()->currentMessage();
}

// The widget placed in the same layout right before the given one.
QWidget *widgetBefore(QWidget &window, QWidget *widget)
{
    for (QLayout *layout : window.findChildren<QLayout *>()) {
        const int at = layout->indexOf(widget);
        if (at > 0)
            return layout->itemAt(at - 1)->widget();
    }
    return nullptr;
}

enum Kind { WheelBase, Pedals, Bootloader };

vhid::DevicePtr plugKind(Kind kind)
{
    return kind == WheelBase ? plugWheelBase() : kind == Pedals ? plugPedals() : plugBootloader();
}

// A window following a quiet emulated wheel base whose settings have loaded;
// every wheel update passes the live view's throttle.
struct WheelRig : WindowRig {
    WheelRig()
    {
        useSteppingClock();
        plug(quietWheel(),
             {emu::WheelBaseEmulator::factoryProfile(0), emu::WheelBaseEmulator::factoryProfile(1),
              emu::WheelBaseEmulator::factoryProfile(2)});
    }
};

} // namespace

class WindowGuidanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir data;

private slots:
    void initTestCase()
    {
        // The backups taken before a save go to a temporary data folder.
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    }
    void cleanup() { vhid::unplugAll(); }

    void hintWhileNoDevice_data();
    void hintWhileNoDevice();
    void debugCaptionsBesideTheValues_data();
    void debugCaptionsBesideTheValues();
    void pedalsHideWhatDoesNotApply();
    void resultsInTheStatusBar();
    void shortcuts_data();
    void shortcuts();
    void tabOrderFollowsTheLayout();
    void firmwareProgressShownAtOnce();
    void firmwareProgressText_data();
    void firmwareProgressText();
};

void WindowGuidanceTest::hintWhileNoDevice_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("logging");
    QTest::newRow("wheel base") << int(WheelBase) << true;
    QTest::newRow("pedals") << int(Pedals) << true;
    QTest::newRow("bootloader") << int(Bootloader) << false;
}

void WindowGuidanceTest::hintWhileNoDevice()
{
    QFETCH(int, kind);
    QFETCH(bool, logging);
    DialogAnswerer dismisser; // cancels the bootloader's file chooser
    dismisser.otherwise = QMessageBox::NoButton;
    ZUD_wheel_tool window;
    auto *list = child<QComboBox>(window, "comboBox_UsbDevice");
    auto *hint = child<QLabel>(window, "label_NoDeviceHint");
    auto *bootButton = child<QPushButton>(window, "pushButton_EnterExitBootloader");
    auto *logButton = child<QPushButton>(window, "pushButton_Logging");

    // Nothing attached: the list says so and holds no item, the hint
    // says what to do, and no button pretends to act.
    QCOMPARE(list->placeholderText(), QStringLiteral("No ZUD device connected."));
    QCOMPARE(list->count(), 0);
    QCOMPARE(list->currentIndex(), -1);
    QVERIFY(!hint->isHidden());
    QVERIFY(hint->text().contains(QLatin1String("Plug in the ZUD wheel base or pedals")));
    QVERIFY(!bootButton->isEnabled());
    QVERIFY(!logButton->isEnabled());
    // The placeholder is painted, not only kept.
    list->resize(300, list->sizeHint().height());
    const QImage withPlaceholder = list->grab().toImage();
    list->setPlaceholderText(QString());
    QVERIFY(list->grab().toImage() != withPlaceholder);
    list->setPlaceholderText(QStringLiteral("No ZUD device connected."));

    auto device = plugKind(Kind(kind));
    discover(window);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentIndex(), 0);
    QVERIFY(hint->isHidden());
    QVERIFY(bootButton->isEnabled());
    QCOMPARE(logButton->isEnabled(), logging);

    device->unplug();
    QTRY_COMPARE(list->count(), 0);
    QVERIFY(!hint->isHidden());
    QVERIFY(!bootButton->isEnabled());
    QVERIFY(!logButton->isEnabled());
}

void WindowGuidanceTest::debugCaptionsBesideTheValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hex"); // the hexadecimal label under it, if any
    QTest::newRow("ticks") << "label_debugTicks"
                           << "Ticks"
                           << "4000000000" << QString();
    QTest::newRow("motor state") << "label_debugMotorState"
                                 << "Motor state"
                                 << "Running" << QString();
    QTest::newRow("encoder state") << "label_debugEncoderState"
                                   << "Encoder state"
                                   << "-2" << QString();
    QTest::newRow("motor angle") << "label_debugMotorAngle"
                                 << "Motor angle"
                                 << "12.50" << QString();
    QTest::newRow("encoder raw") << "label_debugEncoderRaw"
                                 << "Encoder raw"
                                 << "-123456" << QString();
    QTest::newRow("ffb in") << "label_debugFfbIn"
                            << "FFB in"
                            << "-0.13" << QString();
    QTest::newRow("ffb out") << "label_debugFfbOut"
                             << "FFB out"
                             << "100.00" << QString();
    QTest::newRow("encoder errors") << "label_debugBisscRaw"
                                    << "Encoder errors (64 bits)"
                                    << "101" << QString();
    QTest::newRow("current faults") << "label_debugCurrentFaults"
                                    << "Current faults"
                                    << "42"
                                    << "0x0000002A";
    QTest::newRow("cleared faults") << "label_debugClearedFaults"
                                    << "Cleared faults"
                                    << "4294967295"
                                    << "0xFFFFFFFF";
}

void WindowGuidanceTest::debugCaptionsBesideTheValues()
{
    QFETCH(QString, value);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(QString, hex);
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    discover(window);

    ZudUsbWheelBaseDebugOutput output;
    std::memset(&output, 0, sizeof output);
    output.ticks = 4000000000u;
    output.motorState = 4;
    output.encoderState = int16_t(-2);
    output.motorAngle = 12.5f;
    output.encoderRaw = -123456;
    output.ffbIn = -0.125f;
    output.ffbOut = 99.999f;
    output.bisscRaw = 5;
    output.currentFaults = 42u;
    output.clearedFaults = 0xFFFFFFFFu;
    QMetaObject::invokeMethod(&window, "onDebugOutput", Qt::DirectConnection,
                              Q_ARG(UsbDevice *, nullptr),
                              Q_ARG(ZudUsbWheelBaseDebugOutput *, &output), Q_ARG(uint64_t, 0));

    auto *valueLabel = child<QLabel>(window, value);
    QCOMPARE(valueLabel->text(), text);
    auto *captionLabel = child<QLabel>(window, value + "Caption");
    QCOMPARE(captionLabel->text(), caption);
    QCOMPARE(widgetBefore(window, valueLabel), static_cast<QWidget *>(captionLabel));
    auto *hexLabel = window.findChild<QLabel *>(value + "Hex");
    QCOMPARE(hexLabel ? hexLabel->text() : QString(), hex);

    // A new selection empties the values and leaves the captions.
    child<QComboBox>(window, "comboBox_UsbDevice")->setCurrentIndex(-1);
    QVERIFY(valueLabel->text().isEmpty());
    QVERIFY(!hexLabel || hexLabel->text().isEmpty());
    QCOMPARE(captionLabel->text(), caption);
}

void WindowGuidanceTest::pedalsHideWhatDoesNotApply()
{
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    auto pedals = plugPedals();
    discover(window);
    auto *list = child<QComboBox>(window, "comboBox_UsbDevice");
    auto *wheelDevice = deviceOf<UsbDeviceZudWheelBase>(window, wheel);
    auto *tabs = child<QTabWidget>(window, "tabWidget");
    const QStringList forceRow{"label_2", "horiSlider_Force", "label_Force"};
    const QStringList pedalCaptions{"label_PedalX", "label_PedalY", "label_PedalZ"};
    const auto shownCount = [&](const QStringList &names) {
        int shown = 0;
        for (const QString &name : names)
            shown += child<QWidget>(window, name)->isHidden() ? 0 : 1;
        return shown;
    };

    // Each state in turn: wheel base ready, pedals, wheel base again.
    for (const bool wheelSelected : {true, false, true}) {
        list->setCurrentIndex(wheelSelected ? 0 : 1);
        if (wheelSelected)
            emit wheelDevice->onSettingsLoaded(wheelDevice);
        QCOMPARE(tabs->isTabEnabled(0), wheelSelected); // FFB
        QCOMPARE(tabs->isTabEnabled(1), wheelSelected); // Encoder
        QVERIFY(tabs->isTabEnabled(2));                 // Debug, with logging
        QCOMPARE(child<QWidget>(window, "horiSlider_Damping")->isEnabled(), wheelSelected);
        QCOMPARE(shownCount(forceRow), wheelSelected ? 3 : 0);
        QCOMPARE(shownCount(pedalCaptions), wheelSelected ? 0 : 3);
        if (!wheelSelected)
            QCOMPARE(tabs->currentWidget(), child<QWidget>(window, "tabWidgetPageDebug"));
    }

    // The bars say which axis they are and how far it is pressed.
    list->setCurrentIndex(1);
    pedals->inject(pedalsReport(65535, 32768, 0));
    QTRY_COMPARE(child<QLabel>(window, "label_PedalX")->text(), QStringLiteral("X 100%"));
    QCOMPARE(child<QLabel>(window, "label_PedalY")->text(), QStringLiteral("Y 50%"));
    QCOMPARE(child<QLabel>(window, "label_PedalZ")->text(), QStringLiteral("Z 0%"));
}

void WindowGuidanceTest::resultsInTheStatusBar()
{
    QTemporaryDir logDir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(logDir.path());
    DialogAnswerer answers;
    {
        WheelRig rig;
        QTRY_VERIFY(rig.ready());
        QCOMPARE(statusOf(rig.window),
                 QStringLiteral("Settings loaded from ZUD Wheel Base: 3 profiles."));

        child<QPushButton>(rig.window, "pushButton_SaveConfig")->click();
        QTRY_COMPARE(statusOf(rig.window),
                     QStringLiteral("Saved 3 profiles to ZUD Wheel Base, verified"));
        // A profile added is no load from the device.
        child<QPushButton>(rig.window, "pushButton_AddProfile")->click();
        QVERIFY(statusOf(rig.window).startsWith(QLatin1String("Saved 3 profiles")));

        auto *logging = child<QPushButton>(rig.window, "pushButton_Logging");
        logging->click();
        const QStringList logs = QDir(logDir.path()).entryList({"*.csv"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        const QString path =
            QDir::toNativeSeparators(QDir(logDir.path()).absoluteFilePath(logs[0]));
        QCOMPARE(statusOf(rig.window), "Logging to " + path);
        for (int16_t axis : {1, 2, 3})
            rig.emulator->device()->inject(wheelReport(wheelUpdate(axis, 1)));
        QTRY_COMPARE(child<QLabel>(rig.window, "label_JoystickValue")->text(), QStringLiteral("3"));
        logging->click();
        QCOMPARE(statusOf(rig.window), "Logging stopped: 3 rows written to " + path);
    }
    QDir::setCurrent(previous);
    QVERIFY(answers.boxes().isEmpty());

    // A firmware update's success is reported there too.
    const QString image = QDir(logDir.path()).absoluteFilePath(QStringLiteral("small.fw"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64, 'z'));
    file.close();
    answers.files = QStringList{image};
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    QTRY_COMPARE(statusOf(window), QStringLiteral("Firmware updated successfully."));
    QTRY_COMPARE(answers.boxes().size(), 1); // the box the update flow keeps
}

void WindowGuidanceTest::shortcuts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("result");
    QTest::newRow("Ctrl+S saves") << int(Qt::Key_S) << "Saved 3 profiles to ZUD Wheel Base";
    QTest::newRow("Ctrl+R reloads") << int(Qt::Key_R) << "Settings loaded from ZUD Wheel Base";
}

void WindowGuidanceTest::shortcuts()
{
    QFETCH(int, key);
    QFETCH(QString, result);
    WheelRig rig;
    rig.window.show();
    rig.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&rig.window));
    QTRY_VERIFY(rig.ready());
    rig.window.statusBar()->clearMessage();
    QTest::keyClick(&rig.window, Qt::Key(key), Qt::ControlModifier);
    QTRY_VERIFY2(statusOf(rig.window).startsWith(result), qPrintable(statusOf(rig.window)));

    // Without a wheel base the shortcuts do nothing.
    child<QComboBox>(rig.window, "comboBox_UsbDevice")->setCurrentIndex(-1);
    rig.window.statusBar()->clearMessage();
    const size_t commands = rig.emulator->commands().size();
    QTest::keyClick(&rig.window, Qt::Key(key), Qt::ControlModifier);
    QTest::qWait(200);
    QCOMPARE(rig.emulator->commands().size(), commands);
    QVERIFY(statusOf(rig.window).isEmpty());
}

void WindowGuidanceTest::tabOrderFollowsTheLayout()
{
    ZUD_wheel_tool window;
    auto wheel = plugWheelBase();
    discover(window);
    auto *wheelDevice = deviceOf<UsbDeviceZudWheelBase>(window, wheel);
    emit wheelDevice->onSettingsLoaded(wheelDevice);

    const auto reachable = [&window](QWidget *w) {
        const QString name = w->objectName();
        return (w->focusPolicy() & Qt::TabFocus) && !w->isHidden() && w->isEnabled() &&
               !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) && w->window() == &window;
    };
    // The controls in the order the layouts place them, top to bottom and
    // left to right, a tab widget followed by its pages in turn.
    QStringList byLayout;
    std::function<void(QLayout *)> walk = [&](QLayout *layout) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->layout()) {
                walk(item->layout());
            } else if (QWidget *w = item->widget()) {
                if (reachable(w))
                    byLayout << w->objectName();
                if (auto *tabs = qobject_cast<QTabWidget *>(w)) {
                    for (int page = 0; page < tabs->count(); ++page)
                        walk(tabs->widget(page)->layout());
                } else if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
                    // A page that scrolls lays out the widget inside.
                    if (scroll->widget() && scroll->widget()->layout())
                        walk(scroll->widget()->layout());
                } else if (w->layout()) {
                    walk(w->layout());
                }
            }
        }
    };
    walk(child<QWidget>(window, "centralWidget")->layout());
    QVERIFY(byLayout.size() > 20);

    // The order Tab visits them in, from the device list round to it again.
    QWidget *start = child<QWidget>(window, "comboBox_UsbDevice");
    QStringList byTab{start->objectName()};
    for (QWidget *w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain())
        if (reachable(w))
            byTab << w->objectName();
    QCOMPARE(byTab, byLayout);
}

void WindowGuidanceTest::firmwareProgressShownAtOnce()
{
    QTemporaryDir dir;
    const QString image = QDir(dir.path()).absoluteFilePath(QStringLiteral("big.fw"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64 * 64, 'z')); // 128 chunks
    file.close();
    DialogAnswerer answers;
    answers.files = QStringList{image};
    ZUD_wheel_tool window;
    window.show();
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(window, boot->device());
    QVERIFY(bootloader);

    // What the dialog looks like once the window has handled each chunk.
    struct Seen {
        int chunk;
        bool visible, modal;
        QString text;
    };
    QList<Seen> seen;
    connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, &window, [&](int chunk) {
        QProgressDialog *dialog = window.findChild<QProgressDialog *>();
        QProgressBar *bar = dialog ? dialog->findChild<QProgressBar *>() : nullptr;
        seen.append({chunk, dialog && dialog->isVisible(), dialog && dialog->isModal(),
                     bar ? bar->text() : QString()});
    });
    QTRY_VERIFY(statusOf(window).startsWith(QLatin1String("Firmware updated")));
    QVERIFY(seen.size() >= 128);
    QCOMPARE(seen.first().chunk, 0);
    QVERIFY(seen.first().visible);
    QVERIFY(seen.first().modal);
    QCOMPARE(seen.first().text, QStringLiteral("0 of 128 chunks"));
    const QRegularExpression pace(
        QStringLiteral("^64 of 128 chunks, [0-9.]+ chunks/s, [0-9]+:[0-9][0-9] left$"));
    QVERIFY(std::any_of(seen.begin(), seen.end(), [&](const Seen &s) {
        return s.chunk == 64 && s.visible && pace.match(s.text).hasMatch();
    }));
}

void WindowGuidanceTest::firmwareProgressText_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("format");
    const QString count = QStringLiteral("%v of %m chunks");
    QTest::newRow("before the first chunk") << 0 << 100 << qint64(500) << count;
    QTest::newRow("no time passed") << 5 << 100 << qint64(0) << count;
    QTest::newRow("slow, a decimal")
        << 1 << 11 << qint64(400) << count + ", 2.5 chunks/s, 0:04 left";
    QTest::newRow("fast, seconds up")
        << 500 << 2048 << qint64(1000) << count + ", 500 chunks/s, 0:04 left";
    QTest::newRow("hours") << 1 << 8000 << qint64(1000) << count + ", 1.0 chunks/s, 2:13:19 left";
    QTest::newRow("done") << 10 << 10 << qint64(2000) << count + ", 5.0 chunks/s, 0:00 left";
}

void WindowGuidanceTest::firmwareProgressText()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, format);
    QCOMPARE(firmwareProgressFormat(done, total, elapsedMs), format);
}

ZUD_WINDOW_TEST_MAIN(WindowGuidanceTest)
#include "tst_window_guidance.moc"
