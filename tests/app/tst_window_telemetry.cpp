// SPDX-License-Identifier: GPL-3.0-or-later
// The telemetry through the window against an emulated wheel base: the
// Scope page plotting every sample, its CSV export, "Log every report", the
// step test's force released on every way it can end and applied only to
// the wheel base it was confirmed for, the page's room and its lines.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "app/ScopePage.h"
#include "simulator/WheelBaseEmulator.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qcustomplot.h>

using namespace wintest;

namespace {

emu::WheelBaseEmulator::Config wheelConfig(int rate, uint8_t kind)
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = rate;
    config.updateKind = kind;
    return config;
}

// A shown window with an emulated wheel base selected and loaded.
struct Rig : WindowRig {
    explicit Rig(int rate = 0, uint8_t kind = 2)
    {
        window.show();
        plug(wheelConfig(rate, kind));
    }
    ScopePage *scope() const { return window.findChild<ScopePage *>("tab_Scope"); }
    void showScope() { child<QTabWidget>(window, "tabWidget")->setCurrentWidget(scope()); }
};

ZudUsbWheelBaseJoystickUpdate torqueUpdate(uint8_t count)
{
    ZudUsbWheelBaseJoystickUpdate u = wheelUpdate(100, 2);
    u.torque.sampleCount = count;
    for (int j = 0; j < zudMaxTorqueSamples; ++j)
        u.torque.torqueOut[j] = int16_t(1000 * j);
    return u;
}

} // namespace

class WindowTelemetryTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void scopePlotsEveryStreamedSample();
    void logEveryReport_data();
    void logEveryReport();
    void stepTestReleasesForce_data();
    void stepTestReleasesForce();
    void confirmationHoldsForItsWheelBase_data();
    void confirmationHoldsForItsWheelBase();
    void failedReleaseIsRetriedThenReported_data();
    void failedReleaseIsRetriedThenReported();
    void linesToldApartWithColourVisionDeficiency_data();
    void linesToldApartWithColourVisionDeficiency();
    void windowGrowsToFitScope();
};

void WindowTelemetryTest::scopePlotsEveryStreamedSample()
{
    Rig rig(1000, 2);
    QTRY_VERIFY(rig.ready());
    rig.showScope();
    ScopePage *scope = rig.scope();
    QVERIFY(scope);
    QTRY_VERIFY(scope->framesDrawn() > 30);
    rig.emulator->setStreamRate(0);
    const uint64_t streamed = rig.emulator->device()->streamedReports();
    QTest::qWait(200); // the last reports reach the plot

    auto *plot = child<QCustomPlot>(rig.window, "plot_Scope");
    QVERIFY(plot);
    const int torqueOut = int(TelemetryChannel::TorqueOut);
    const int steering = int(TelemetryChannel::Steering);
    // The samples of the window per channel, as the export writes them.
    // Times in microseconds, as written.
    auto samplesOf = [scope](const char *channel) {
        QMultiMap<qint64, float> samples;
        for (const QByteArray &line : scope->visibleCsv().split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            if (fields.size() == 3 && fields[1] == channel)
                samples.insert(qRound64(fields[0].toDouble() * 1e6), fields[2].toFloat());
        }
        return samples;
    };
    // The recorder saw every report since the selection (the first ones
    // came before the settings had loaded, so within the stream), and the
    // scope holds every sample of the last 5 s.
    QTRY_VERIFY(samplesOf("Torque Out").size() == 11 * samplesOf("Steering").size());
    const int steeringSamples = samplesOf("Steering").size();
    QVERIFY(steeringSamples > 500);
    QVERIFY(uint64_t(steeringSamples) <= streamed);
    QVERIFY(!child<QLabel>(rig.window, "label_ScopeClipping")->text().isEmpty());

    // Paused, the drawn torque is made of samples, reaches their extremes,
    // and has fewer points than there are samples; the export holds every
    // sample of the window.
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_ScopePause"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>(rig.window, "pushButton_ScopePause")->text(),
             QStringLiteral("Resume"));
    const QMultiMap<qint64, float> torque = samplesOf("Torque Out");
    const auto drawn = plot->graph(torqueOut)->data();
    QVERIFY(drawn->size() < torque.size());
    for (auto it = drawn->constBegin(); it != drawn->constEnd(); ++it)
        QVERIFY2(torque.contains(qRound64(it->key * 1e6), float(it->value)),
                 qPrintable(QStringLiteral("%1 %2").arg(it->key).arg(it->value)));
    bool found = false;
    const QCPRange values = drawn->valueRange(found);
    const QList<float> torqueValues = torque.values();
    QCOMPARE(float(values.lower), *std::min_element(torqueValues.begin(), torqueValues.end()));
    QCOMPARE(float(values.upper), *std::max_element(torqueValues.begin(), torqueValues.end()));

    QTemporaryDir dir;
    DialogAnswerer answers;
    answers.files << dir.filePath(QStringLiteral("scope.csv"));
    const QByteArray shown = scope->visibleCsv();
    child<QPushButton>(rig.window, "pushButton_ScopeExportCsv")->click();
    QFile csv(dir.filePath(QStringLiteral("scope.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray exported = csv.readAll();
    QVERIFY(exported.startsWith("Time s,Channel,Value\r\n"));
    QVERIFY(exported.contains(",Steering,"));
    QCOMPARE(exported, shown);

    // A shorter window while paused keeps the picture's end.
    const double end = plot->xAxis->range().upper;
    child<QComboBox>(rig.window, "comboBox_ScopeWindow")->setCurrentIndex(0);
    QCOMPARE(child<QComboBox>(rig.window, "comboBox_ScopeWindow")->currentText(),
             QStringLiteral("1 s"));
    QCOMPARE(plot->xAxis->range().upper, end);
    QCOMPARE(plot->xAxis->range().size(), 1.0);
    QVERIFY(plot->graph(steering)->data()->size() < 1100);
}

void WindowTelemetryTest::logEveryReport_data()
{
    QTest::addColumn<bool>("everyReport");
    QTest::addColumn<int>("sampleCount");
    QTest::addColumn<int>("reports");
    QTest::addColumn<int>("rows");

    // The clock moves 10 ms per update: the live view takes every other one.
    QTest::newRow("off: the shown updates") << false << 11 << 40 << 20 * 11;
    QTest::newRow("on: every update, 11 rows each") << true << 11 << 40 << 40 * 11;
    QTest::newRow("on: 3 samples") << true << 3 << 25 << 25 * 3;
}

void WindowTelemetryTest::logEveryReport()
{
    QFETCH(bool, everyReport);
    QFETCH(int, sampleCount);
    QFETCH(int, reports);
    QFETCH(int, rows);

    LogDir dir;
    Rig rig;
    rig.window.setMillisClock([&rig] { return rig.now += 10; });
    QTRY_VERIFY(rig.ready());
    auto *box = child<QCheckBox>(rig.window, "checkBox_LogEveryReport");
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Log every report"));
    QVERIFY(!box->isChecked());
    box->setChecked(everyReport);

    const ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(uint8_t(sampleCount));
    QVERIFY(rig.send(update, 2)); // the log kind is known before the start
    child<QPushButton>(rig.window, "pushButton_Logging")->click();
    QVERIFY(rig.send(update, reports));
    child<QPushButton>(rig.window, "pushButton_Logging")->click();

    const QStringList logs = dir.logs();
    QCOMPARE(logs.size(), 1);
    QList<QByteArray> lines = dir.read(logs.first()).split('\n');
    lines.removeAll(QByteArray());
    QCOMPARE(lines.size(), 1 + rows);
    QCOMPARE(lines.first(), QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %, "
                                       "Torque Actual %,Rotor Pos\r"));
    QCOMPARE(lines.at(sampleCount).split(',').at(4), QByteArray::number(10 * (sampleCount - 1)));
}

void WindowTelemetryTest::stepTestReleasesForce_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("time up") << "time up";
    QTest::newRow("pause") << "pause";
    QTest::newRow("device deselected") << "deselected";
    QTest::newRow("device gone") << "gone";
    QTest::newRow("window closed") << "closed";
    QTest::newRow("window destroyed") << "destroyed";
}

void WindowTelemetryTest::stepTestReleasesForce()
{
    QFETCH(QString, ending);

    Rig rig(200, 2);
    QTRY_VERIFY(rig.ready());
    rig.showScope();
    ScopePage *scope = rig.scope();
    QVERIFY(scope);
    QSignalSpy released(&scope->stepTest(), &StepTest::released);
    child<QSpinBox>(rig.window, "spinBox_TestForce")->setValue(20);
    child<QSpinBox>(rig.window, "spinBox_TestDuration")->setValue(ending == "time up" ? 200 : 3000);
    auto *button = child<QPushButton>(rig.window, "pushButton_TestForce");
    QCOMPARE(button->text(), QStringLiteral("Apply Test Force"));

    // Cancelled, nothing is sent; confirmed, a fifth of full force.
    DialogAnswerer answers;
    answers.buttons << QMessageBox::Cancel << QMessageBox::Yes;
    button->click();
    QTRY_COMPARE(answers.boxes().size(), 1);
    QVERIFY(answers.boxes().first().text.contains(QStringLiteral("turn by itself")));
    QTest::qWait(50);
    QVERIFY(!scope->stepTest().isRunning());
    button->click();
    QTRY_VERIFY(scope->stepTest().isRunning());
    QTRY_COMPARE(rig.emulator->lastTestForce(), 0.2f);
    QVERIFY(!button->isEnabled());

    if (ending == "pause") {
        QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_ScopePause"), Qt::LeftButton);
    } else if (ending == "deselected") {
        child<QComboBox>(rig.window, "comboBox_UsbDevice")->setCurrentIndex(-1);
    } else if (ending == "gone") {
        // The force cannot reach a device that has gone; the test ends
        // with it, and nothing is sent to the deleted device.
        rig.emulator->unplug();
        QTRY_COMPARE(released.size(), 1);
        QVERIFY(!scope->stepTest().isRunning());
        QVERIFY(!scope->stepTest().wheelBase());
        QVERIFY(!button->isEnabled());
        return;
    } else if (ending == "closed") {
        rig.window.close();
    } else if (ending == "destroyed") {
        rig.destroyWindow();
        QCOMPARE(rig.emulator->lastTestForce(), 0.0f);
        return;
    }
    QTRY_COMPARE(rig.emulator->lastTestForce(), 0.0f);
    QCOMPARE(released.size(), 1);
    QCOMPARE(released.first().first().toBool(), ending == "time up");
    if (ending == "time up") {
        // The response stays on screen.
        QTRY_VERIFY(scope->isPaused());
        QVERIFY(button->isEnabled());
    }
}

void WindowTelemetryTest::confirmationHoldsForItsWheelBase_data()
{
    QTest::addColumn<QString>("whileAsked");
    QTest::newRow("nothing changes: applied") << "";
    QTest::newRow("the wheel base leaves") << "leaves";
    QTest::newRow("another wheel base is selected") << "other selected";
}

void WindowTelemetryTest::confirmationHoldsForItsWheelBase()
{
    QFETCH(QString, whileAsked);

    Rig rig(0, 2);
    QTRY_VERIFY(rig.ready());
    auto second = emu::WheelBaseEmulator::plug(wheelConfig(0, 2));
    discover(rig.window);
    auto *devices = child<QComboBox>(rig.window, "comboBox_UsbDevice");
    QTRY_COMPARE(devices->count(), 2);
    rig.showScope();
    child<QSpinBox>(rig.window, "spinBox_TestDuration")->setValue(3000);

    DialogAnswerer answers;
    answers.buttons << QMessageBox::Yes;
    answers.onBox = [&](QMessageBox *) {
        if (whileAsked == "leaves") {
            rig.emulator->unplug();
            QVERIFY(QTest::qWaitFor([&] { return devices->count() == 1; }, 5000));
        } else if (whileAsked == "other selected") {
            devices->setCurrentIndex(1);
        }
        // The second wheel base is selected and loaded, ready for a test of its own.
        auto *save = child<QPushButton>(rig.window, "pushButton_SaveConfig");
        if (!whileAsked.isEmpty())
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return save->isEnabled() &&
                           rig.scope()->stepTest().wheelBase() ==
                               deviceOf<UsbDeviceZudWheelBase>(rig.window, second->device());
                },
                5000));
    };
    child<QPushButton>(rig.window, "pushButton_TestForce")->click();
    QTRY_COMPARE(answers.boxes().size(), 1);
    QTest::qWait(50);

    if (whileAsked.isEmpty()) {
        QTRY_COMPARE(rig.emulator->lastTestForce(), 0.05f);
        return;
    }
    QVERIFY(!rig.scope()->stepTest().isRunning());
    QCOMPARE(second->lastTestForce(), 0.0f);
    QCOMPARE(rig.emulator->lastTestForce(), 0.0f);
    QCOMPARE(rig.window.statusBar()->currentMessage(),
             QStringLiteral("The test force was not applied: ZUD Wheel Base is no longer "
                            "selected."));
}

void WindowTelemetryTest::failedReleaseIsRetriedThenReported_data()
{
    QTest::addColumn<bool>("everyWriteFails");
    QTest::newRow("one write fails: sent again at once") << false;
    QTest::newRow("every write fails: switch it off") << true;
}

void WindowTelemetryTest::failedReleaseIsRetriedThenReported()
{
    QFETCH(bool, everyWriteFails);

    Rig rig(0, 2);
    QTRY_VERIFY(rig.ready());
    rig.showScope();
    child<QSpinBox>(rig.window, "spinBox_TestDuration")->setValue(3000);
    DialogAnswerer answers;
    answers.buttons << QMessageBox::Yes;
    child<QPushButton>(rig.window, "pushButton_TestForce")->click();
    QTRY_COMPARE(rig.emulator->lastTestForce(), 0.05f);

    const vhid::DevicePtr device = rig.emulator->device();
    const size_t failedBefore = device->failedWriteCount();
    if (everyWriteFails)
        device->setWriteFails(true);
    else
        device->failNextWrites(1);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_ScopePause"), Qt::LeftButton);
    // Both attempts are made by the release itself, not by a later retry.
    QCOMPARE(device->failedWriteCount() - failedBefore, size_t(everyWriteFails ? 2 : 1));
    QCOMPARE(rig.emulator->lastTestForce(), everyWriteFails ? 0.05f : 0.0f);
    if (everyWriteFails) {
        QTRY_COMPARE(answers.boxes().size(), 2);
        const SeenDialog box = answers.boxes().last();
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(box.text.endsWith(QStringLiteral("Switch the wheel base off now.")),
                 qPrintable(box.text));
        device->setWriteFails(false);
    } else {
        QTest::qWait(50);
        QCOMPARE(answers.boxes().size(), 1);
    }
}

namespace {

// A colour as seen with protanopia or deuteranopia (Vienot, Brettel and
// Mollon 1999, in linear RGB), in CIE L*a*b*.
struct Lab {
    double l, a, b;
};

Lab seenAs(const QColor &color, int deficiency)
{
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    double r = linear(color.redF()), g = linear(color.greenF()), b = linear(color.blueF());
    if (deficiency == 1) { // protanopia
        const double rg = 0.11238 * r + 0.88762 * g;
        r = g = rg;
        b = 0.00401 * r - 0.00401 * g + b;
    } else if (deficiency == 2) { // deuteranopia
        const double rg = 0.29275 * r + 0.70725 * g;
        r = g = rg;
        b = -0.02234 * r + 0.02234 * g + b;
    }
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    const auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double difference(const Lab &p, const Lab &q)
{
    return std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) +
                     (p.b - q.b) * (p.b - q.b));
}

} // namespace

void WindowTelemetryTest::linesToldApartWithColourVisionDeficiency_data()
{
    QTest::addColumn<int>("deficiency");
    QTest::newRow("normal vision") << 0;
    QTest::newRow("protanopia") << 1;
    QTest::newRow("deuteranopia") << 2;
}

// Every two channels of a kind differ in their dashes, or in a colour that
// stays distinct with the deficiency; the torques and forces asked for,
// sent and measured, which lie on top of each other, differ in dashes too.
void WindowTelemetryTest::linesToldApartWithColourVisionDeficiency()
{
    QFETCH(int, deficiency);
    ZUD_wheel_tool window;
    auto *plot = child<QCustomPlot>(window, "plot_Scope");
    QVERIFY(plot);
    const auto pen = [plot](TelemetryChannel c) { return plot->graph(int(c))->pen(); };
    for (int kind = 1; kind <= 3; ++kind) {
        const std::vector<TelemetryChannel> channels = telemetryChannelsOfKind(kind);
        for (size_t i = 0; i < channels.size(); ++i)
            for (size_t j = i + 1; j < channels.size(); ++j) {
                const QPen p = pen(channels[i]), q = pen(channels[j]);
                const double apart =
                    difference(seenAs(p.color(), deficiency), seenAs(q.color(), deficiency));
                QVERIFY2(p.style() != q.style() || apart > 20,
                         qPrintable(QStringLiteral("%1 and %2: %3")
                                        .arg(telemetryChannelInfo(channels[i]).name,
                                             telemetryChannelInfo(channels[j]).name)
                                        .arg(apart)));
            }
    }
    using C = TelemetryChannel;
    for (const auto &[a, b] :
         {std::pair{C::FfbIn, C::FfbOut}, std::pair{C::TorqueIn, C::TorqueOut},
          std::pair{C::TorqueIn, C::TorqueActual}, std::pair{C::TorqueOut, C::TorqueActual}})
        QVERIFY(pen(a).style() != pen(b).style());
}

// Shown at its first size, the Scope page makes the window large enough
// to show it without scrolling, within the screen.
void WindowTelemetryTest::windowGrowsToFitScope()
{
    ZUD_wheel_tool window;
    window.resize(600, 420);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *scope = window.findChild<ScopePage *>("tab_Scope");
    QVERIFY(scope->shortfall().height() > 0); // too small at first
    child<QTabWidget>(window, "tabWidget")->setCurrentWidget(scope);
    // Either the page fits, or the window takes the screen's whole extent.
    const QRect screen = window.screen()->availableGeometry();
    QTRY_VERIFY(scope->shortfall().width() == 0 ||
                window.frameGeometry().width() == screen.width());
    QTRY_VERIFY(scope->shortfall().height() == 0 ||
                window.frameGeometry().height() == screen.height());
    QVERIFY(window.width() > 600 || window.height() > 420);
    QVERIFY(screen.contains(window.frameGeometry()));
    // Back to the live view and to the Scope page: nothing shrinks.
    const QSize grown = window.size();
    child<QTabWidget>(window, "tabWidget")->setCurrentIndex(0);
    child<QTabWidget>(window, "tabWidget")->setCurrentWidget(scope);
    QCOMPARE(window.size(), grown);
}

QTEST_MAIN(WindowTelemetryTest)
#include "tst_window_telemetry.moc"
