// The telemetry through the window against an emulated wheel base: the
// Scope page plotting every sample, its CSV export, "Log every report", and
// the step test's force released on every way it can end.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowTestSupport.h"

#include "app/ScopePage.h"
#include "simulator/WheelBaseEmulator.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QSpinBox>
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
struct Rig {
    std::shared_ptr<emu::WheelBaseEmulator> emulator;
    std::unique_ptr<ZUD_wheel_tool> window = std::make_unique<ZUD_wheel_tool>();
    UsbDeviceZudWheelBase *wheelBase = nullptr;
    int handled = 0;
    uint32_t now = 0;

    explicit Rig(int rate = 0, uint8_t kind = 2)
        : emulator(emu::WheelBaseEmulator::plug(wheelConfig(rate, kind)))
    {
        window->show();
        discover(*window);
        wheelBase = deviceOf<UsbDeviceZudWheelBase>(*window, emulator->device());
        if (wheelBase)
            QObject::connect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, window.get(),
                             [this] { ++handled; });
    }
    bool ready() const
    {
        return wheelBase && child<QPushButton>(*window, "pushButton_SaveConfig")->isEnabled();
    }
    ScopePage *scope() const { return window->findChild<ScopePage *>("tab_Scope"); }
    void showScope() { child<QTabWidget>(*window, "tabWidget")->setCurrentWidget(scope()); }
    bool send(const ZudUsbWheelBaseJoystickUpdate &u, int times)
    {
        const int target = handled + times;
        for (int i = 0; i < times; ++i)
            emulator->device()->inject(wheelReport(u));
        return QTest::qWaitFor([&] { return handled >= target; }, 5000);
    }
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

    auto *plot = child<QCustomPlot>(*rig.window, "plot_Scope");
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
    QVERIFY(!child<QLabel>(*rig.window, "label_ScopeClipping")->text().isEmpty());

    // Paused, the drawn torque is made of samples, reaches their extremes,
    // and has fewer points than there are samples; the export holds every
    // sample of the window.
    QTest::mouseClick(child<QPushButton>(*rig.window, "pushButton_ScopePause"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>(*rig.window, "pushButton_ScopePause")->text(),
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
    child<QPushButton>(*rig.window, "pushButton_ScopeExportCsv")->click();
    QFile csv(dir.filePath(QStringLiteral("scope.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray exported = csv.readAll();
    QVERIFY(exported.startsWith("Time s,Channel,Value\r\n"));
    QVERIFY(exported.contains(",Steering,"));
    QCOMPARE(exported, shown);

    // A shorter window while paused keeps the picture's end.
    const double end = plot->xAxis->range().upper;
    child<QComboBox>(*rig.window, "comboBox_ScopeWindow")->setCurrentIndex(0);
    QCOMPARE(child<QComboBox>(*rig.window, "comboBox_ScopeWindow")->currentText(),
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
    rig.window->setMillisClock([&rig] { return rig.now += 10; });
    QTRY_VERIFY(rig.ready());
    auto *box = child<QCheckBox>(*rig.window, "checkBox_LogEveryReport");
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Log every report"));
    QVERIFY(!box->isChecked());
    box->setChecked(everyReport);

    const ZudUsbWheelBaseJoystickUpdate update = torqueUpdate(uint8_t(sampleCount));
    QVERIFY(rig.send(update, 2)); // the log kind is known before the start
    child<QPushButton>(*rig.window, "pushButton_Logging")->click();
    QVERIFY(rig.send(update, reports));
    child<QPushButton>(*rig.window, "pushButton_Logging")->click();

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
    child<QSpinBox>(*rig.window, "spinBox_TestForce")->setValue(20);
    child<QSpinBox>(*rig.window, "spinBox_TestDuration")
        ->setValue(ending == "time up" ? 200 : 3000);
    auto *button = child<QPushButton>(*rig.window, "pushButton_TestForce");
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
        QTest::mouseClick(child<QPushButton>(*rig.window, "pushButton_ScopePause"), Qt::LeftButton);
    } else if (ending == "deselected") {
        child<QComboBox>(*rig.window, "comboBox_UsbDevice")->setCurrentIndex(-1);
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
        rig.window->close();
    } else if (ending == "destroyed") {
        rig.window.reset();
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

QTEST_MAIN(WindowTelemetryTest)
#include "tst_window_telemetry.moc"
