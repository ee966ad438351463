// SPDX-License-Identifier: GPL-3.0-or-later
// The live view: its pure computations, and the window turning the rim,
// filling the debug page and the pedal bars from reports on the virtual bus.
#include "FindChild.h"
#include "WindowTestSupport.h"
#include "livedata/LiveViewMath.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>
#include <limits>

using namespace wintest;

namespace {

// The angle as the 32-bit formula gives it, for ranges where it cannot
// overflow.
int32_t narrowAngle(int16_t axis, int32_t range)
{
    const int32_t half = axis / 2;
    return half * range / 32767;
}

// Where the rim's top-centre mark is in a drawn picture: the centroid of its
// bright red pixels outside the hub, relative to the picture's centre.
QPointF markPosition(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            const double dx = x - image.width() / 2.0, dy = y - image.height() / 2.0;
            if (c.alpha() > 200 && c.red() > 200 && c.green() < 110 && c.blue() < 90 &&
                dx * dx + dy * dy > 50 * 50) {
                sx += dx;
                sy += dy;
                ++n;
            }
        }
    return n ? QPointF(sx / n, sy / n) : QPointF(1e9, 1e9);
}

bool near(QPointF a, QPointF b)
{
    return QLineF(a, b).length() < 4.0;
}

ZudUsbWheelBaseJoystickUpdate debugUpdate(int16_t axis, uint32_t ticks, uint16_t motorState,
                                          uint64_t bisscRaw)
{
    ZudUsbWheelBaseJoystickUpdate update = wheelUpdate(axis, 1);
    update.debug.ticks = ticks;
    update.debug.motorState = motorState;
    update.debug.encoderState = int16_t(-2);
    update.debug.motorAngle = 12.5f;
    update.debug.encoderRaw = -123456;
    update.debug.ffbIn = -0.125f;
    update.debug.ffbOut = 99.999f;
    update.debug.bisscRaw = bisscRaw;
    update.debug.currentFaults = 4000000000u;
    update.debug.clearedFaults = 7u;
    return update;
}

// A window following one wheel base on the bus, with a scripted clock whose
// calls tell when the window has seen a wheel update.
struct WheelFixture {
    ZUD_wheel_tool window;
    std::shared_ptr<ScriptedClock> clock = std::make_shared<ScriptedClock>();
    vhid::DevicePtr dev;
    UsbDeviceZudWheelBase *wheel = nullptr;
    uint32_t now = 0;

    WheelFixture(int32_t rotation)
    {
        window.setMillisClock([c = clock] { return (*c)(); });
        dev = plugWheelBase();
        window.manager().rescanForZudDevices();
        wheel = deviceOf<UsbDeviceZudWheelBase>(window, dev);
        Q_ASSERT(wheel);
        wheel->profiles[wheel->currentProfile].rotationDegrees = rotation;
        now = currentTimeMillisStart();
    }
    static uint32_t currentTimeMillisStart() { return 1000000u; }

    // Sends one update that arrives at the given clock time (by default
    // well past the throttle) and waits until the window has handled it.
    void send(const ZudUsbWheelBaseJoystickUpdate &update, uint32_t afterMs = 100)
    {
        now += afterMs;
        clock->times.push_back(now);
        const int before = clock->calls;
        dev->inject(wheelReport(update));
        QTRY_VERIFY(clock->calls > before);
    }
    QString text(const QString &name) { return child<QLabel>(window, name)->text(); }
    QPixmap rim() { return child<QLabel>(window, "label_Rim_Image")->pixmap(Qt::ReturnByValue); }
};

} // namespace

class LiveViewTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void angleValues_data();
    void angleValues();
    void angleIsWideForAnyRange();
    void throttleWrapsWithTheClock();
    void pedalPercentValues();
    void labelTexts_data();
    void labelTexts();

    void throttleDropsUpdatesCloserThan16ms();
    void rimTurnsFromTheUnrotatedPicture();
    void sameAngleChangesOnlyTheLabel();
    void zeroRangeKeepsTheRimUpright();
    void hugeRangeFromTheDeviceDoesNotOverflow();
    void debugPageFromKindOneUpdates_data();
    void debugPageFromKindOneUpdates();
    void otherKindsLeaveTheDebugPage();
    void settingsArrivalRedrawsTheSameValue();
    void nothingDrawnWithoutWheelBase();
    void pedalBarsAndValues();
    void rimFollowsTheEmulatedWheel();
    void debugRepliesShownAsTheyCome();
};

void LiveViewTest::angleValues_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("degrees");
    QTest::newRow("full right, 900") << 32767 << 900 << 449;
    QTest::newRow("full left, 900") << -32768 << 900 << -450;
    QTest::newRow("half right, 900") << 16384 << 900 << 225;
    QTest::newRow("100, 900") << 100 << 900 << 1;
    for (int axis = -3; axis <= 3; ++axis)
        QTest::addRow("%d, 900", axis) << axis << 900 << 0;
    QTest::newRow("full left, 1080") << -32768 << 1080 << -540;
    QTest::newRow("full right, 1080") << 32767 << 1080 << 539;
    QTest::newRow("full right, no range") << 32767 << 0 << 0;
    QTest::newRow("full left, no range") << -32768 << 0 << 0;
    QTest::newRow("-1, 9999") << -1 << 9999 << 0;
    // A negative range a device might report turns the other way.
    QTest::newRow("full right, -900") << 32767 << -900 << -449;
}

void LiveViewTest::angleValues()
{
    QFETCH(int, axis);
    QFETCH(int, range);
    QFETCH(int, degrees);
    QCOMPARE(wheelAngleDegrees(int16_t(axis), range), degrees);
}

void LiveViewTest::angleIsWideForAnyRange()
{
    // Up to 131072 degrees the 32-bit product cannot overflow: the results
    // are the same.
    const int32_t ranges[] = {1, 359, 900, 9999, 65535, 131071, 131072, -131071};
    const int16_t axes[] = {-32768, -32767, -16385, -3, -1, 0, 1, 2, 3, 99, 16384, 32766, 32767};
    for (int32_t range : ranges)
        for (int16_t axis : axes)
            QCOMPARE(wheelAngleDegrees(axis, range), narrowAngle(axis, range));

    // Beyond that the product needs more than 32 bits.
    QCOMPARE(wheelAngleDegrees(32767, 131073), int32_t(int64_t(16383) * 131073 / 32767));
    QCOMPARE(wheelAngleDegrees(-32768, 200000), -100003);
    const int32_t max = std::numeric_limits<int32_t>::max();
    const int32_t min = std::numeric_limits<int32_t>::min();
    QCOMPARE(wheelAngleDegrees(32767, max), int32_t(int64_t(16383) * max / 32767));
    QCOMPARE(wheelAngleDegrees(-32768, max), int32_t(int64_t(-16384) * max / 32767));
    QCOMPARE(wheelAngleDegrees(-32768, min), int32_t(int64_t(-16384) * min / 32767));
    QVERIFY(wheelAngleDegrees(-32768, min) > 0);
}

void LiveViewTest::throttleWrapsWithTheClock()
{
    QVERIFY(!wheelUpdateDue(1010, 1000));
    QVERIFY(!wheelUpdateDue(1015, 1000));
    QVERIFY(wheelUpdateDue(1016, 1000));
    QVERIFY(wheelUpdateDue(1000, 1000 + 17) == true); // a clock set back is not a stall
    // Across the wrap of the 32-bit millisecond count.
    QVERIFY(!wheelUpdateDue(5, 0xFFFFFFFBu));
    QVERIFY(wheelUpdateDue(12, 0xFFFFFFFCu));
}

void LiveViewTest::pedalPercentValues()
{
    const std::pair<uint16_t, int> cases[] = {{0, 0},      {655, 0},    {656, 1},
                                              {13107, 20}, {32767, 49}, {32768, 50},
                                              {52428, 80}, {65534, 99}, {65535, 100}};
    for (const auto &c : cases)
        QCOMPARE(pedalPercent(c.first), c.second);
    for (uint32_t v = 0; v <= 65535; ++v) {
        const int p = pedalPercent(uint16_t(v));
        QVERIFY(p >= 0 && p <= 100);
        if (v > 0)
            QVERIFY(p >= pedalPercent(uint16_t(v - 1)));
    }
}

void LiveViewTest::labelTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("steering -1") << steeringValueText(-1) << "-1";
    QTest::newRow("steering min") << steeringValueText(-32768) << "-32768";
    QTest::newRow("steering max") << steeringValueText(32767) << "32767";
    QTest::newRow("pedals") << pedalsValueText(0, 32768, 65535) << "0 32768 65535";

    const char *names[] = {"Uninitialized", "Stopped", "Alignment",
                           "Fault",         "Running", "Locked Test"};
    for (uint16_t code = 0; code < 6; ++code)
        QTest::addRow("motor state %d", code) << motorStateText(code) << names[code];
    for (uint16_t code : {7, 6})
        QTest::addRow("motor state %d", code) << motorStateText(code) << QString::number(code);
    QTest::newRow("motor state 0xFFFF") << motorStateText(0xFFFF) << "-1";
    QTest::newRow("motor state 0x8000") << motorStateText(0x8000) << "-32768";

    QTest::newRow("biss 0") << bisscRawText(0) << "0";
    QTest::newRow("biss 5") << bisscRawText(5) << "101";
    QTest::newRow("biss max") << bisscRawText(std::numeric_limits<uint64_t>::max())
                              << QString(64, QLatin1Char('1'));
    QTest::newRow("biss top bit") << bisscRawText(uint64_t(1) << 63)
                                  << QStringLiteral("1") + QString(63, QLatin1Char('0'));

    QTest::newRow("fixed 12.5") << fixed2Text(12.5f) << "12.50";
    QTest::newRow("fixed -0.125") << fixed2Text(-0.125f) << "-0.13";
    QTest::newRow("fixed 0") << fixed2Text(0.0f) << "0.00";

    const ZudUsbWheelBaseJoystickUpdate update = debugUpdate(0, 4294967295u, 4, 5);
    const DebugOutputTexts texts = debugOutputTexts(update.debug);
    QTest::newRow("debug ticks") << texts.ticks << "4294967295";
    QTest::newRow("debug motor state") << texts.motorState << "Running";
    QTest::newRow("debug encoder state") << texts.encoderState << "-2";
    QTest::newRow("debug motor angle") << texts.motorAngle << "12.50";
    QTest::newRow("debug encoder raw") << texts.encoderRaw << "-123456";
    QTest::newRow("debug ffb in") << texts.ffbIn << "-0.13";
    QTest::newRow("debug ffb out") << texts.ffbOut << "100.00";
    QTest::newRow("debug biss raw") << texts.bisscRaw << "101";
    QTest::newRow("debug current faults") << texts.currentFaults << "4000000000";
    QTest::newRow("debug cleared faults") << texts.clearedFaults << "7";
}

void LiveViewTest::labelTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void LiveViewTest::throttleDropsUpdatesCloserThan16ms()
{
    WheelFixture f(900);
    f.send(debugUpdate(1000, 1, 4, 0));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("1000"));
    QCOMPARE(f.text("label_debugTicks"), QStringLiteral("1"));

    // 10 ms later: dropped whole, debug block included.
    f.send(debugUpdate(2000, 2, 1, 0), 10);
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("1000"));
    QCOMPARE(f.text("label_debugTicks"), QStringLiteral("1"));
    QCOMPARE(f.text("label_debugMotorState"), QStringLiteral("Running"));

    // 16 ms after the last accepted one (6 after the dropped one): taken.
    f.send(debugUpdate(3000, 3, 1, 0), 6);
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("3000"));
    QCOMPARE(f.text("label_debugTicks"), QStringLiteral("3"));
    QCOMPARE(f.text("label_debugMotorState"), QStringLiteral("Stopped"));

    // 15 ms: dropped again.
    f.send(debugUpdate(4000, 4, 1, 0), 15);
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("3000"));
}

void LiveViewTest::rimTurnsFromTheUnrotatedPicture()
{
    WheelFixture f(900);
    const QImage upright = QImage(QStringLiteral(":/rim.png"));
    QVERIFY(near(markPosition(upright), QPointF(0, -87)));

    // 6554 gives 90 degrees, 13108 gives 180, -6554 gives -90 with 900.
    f.send(wheelUpdate(6554));
    QCOMPARE(f.rim().size(), QSize(200, 200));
    QVERIFY2(near(markPosition(f.rim().toImage()), QPointF(87, 0)), "clockwise for positive");
    f.send(wheelUpdate(13108));
    // Turned from the upright picture, not from the last drawn one (that
    // would put the mark at 270 degrees).
    QVERIFY(near(markPosition(f.rim().toImage()), QPointF(0, 87)));
    f.send(wheelUpdate(-6554));
    QVERIFY(near(markPosition(f.rim().toImage()), QPointF(-87, 0)));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("-6554"));

    // The corners that turn out of the square are transparent.
    const QImage turned = f.rim().toImage().convertToFormat(QImage::Format_ARGB32);
    f.send(wheelUpdate(3277)); // 45 degrees
    const QImage diagonal = f.rim().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(diagonal.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(diagonal.pixel(199, 199)), 0);
    QVERIFY(turned != diagonal);
}

void LiveViewTest::sameAngleChangesOnlyTheLabel()
{
    WheelFixture f(900);
    f.send(wheelUpdate(2));
    const qint64 drawn = f.rim().cacheKey();
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("2"));
    // 3 maps to the same degree as 2: the label follows, the picture stays.
    f.send(wheelUpdate(3));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("3"));
    QCOMPARE(f.rim().cacheKey(), drawn);
    f.send(wheelUpdate(-1));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("-1"));
    QCOMPARE(f.rim().cacheKey(), drawn);
    // A new degree draws again.
    f.send(wheelUpdate(200));
    QVERIFY(f.rim().cacheKey() != drawn);

    // Changing the range alone redraws only when the steering value moves.
    const qint64 before = f.rim().cacheKey();
    f.wheel->profiles[f.wheel->currentProfile].rotationDegrees = 1080;
    f.send(wheelUpdate(200));
    QCOMPARE(f.rim().cacheKey(), before);
    f.send(wheelUpdate(-32768));
    QVERIFY(f.rim().cacheKey() != before);
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("-32768"));
    // -540 degrees: the mark at the bottom.
    QVERIFY(near(markPosition(f.rim().toImage()), QPointF(0, 87)));
}

void LiveViewTest::zeroRangeKeepsTheRimUpright()
{
    WheelFixture f(0);
    const QPointF top = markPosition(QImage(QStringLiteral(":/rim.png")));
    for (int16_t axis : {int16_t(32767), int16_t(-32768), int16_t(5000)}) {
        f.send(wheelUpdate(axis));
        QCOMPARE(f.text("label_JoystickValue"), QString::number(axis));
        QVERIFY(near(markPosition(f.rim().toImage()), top));
    }
}

void LiveViewTest::hugeRangeFromTheDeviceDoesNotOverflow()
{
    // 16383 * 262144 does not fit 32 bits; the wide product gives 131067
    // degrees, 27 degrees past whole turns.
    WheelFixture f(262144);
    f.send(wheelUpdate(32767));
    QCOMPARE(wheelAngleDegrees(32767, 262144), 131067);
    // 131067 = 364 * 360 + 27.
    const QPointF mark = markPosition(f.rim().toImage());
    const double rad = qDegreesToRadians(27.0);
    QVERIFY(near(mark, QPointF(87 * std::sin(rad), -87 * std::cos(rad))));
}

// Each row: a label of the debug page after one or two kind 1 updates.
void LiveViewTest::debugPageFromKindOneUpdates_data()
{
    QTest::addColumn<bool>("second");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expected");
    const std::pair<const char *, const char *> first[] = {
        {"label_debugTicks", "123"},
        {"label_debugMotorState", "Running"},
        {"label_debugEncoderState", "-2"},
        {"label_debugMotorAngle", "12.50"},
        {"label_debugEncoderRaw", "-123456"},
        {"label_debugFfbIn", "-0.13"},
        {"label_debugFfbOut", "100.00"},
        {"label_debugBisscRaw", "101"},
        {"label_debugCurrentFaults", "4000000000"},
        {"label_debugClearedFaults", "7"},
    };
    for (const auto &row : first)
        QTest::addRow("%s", row.first) << false << row.first << row.second;
    QTest::newRow("then label_debugTicks") << true << "label_debugTicks"
                                           << "124";
    QTest::newRow("then label_debugMotorState") << true << "label_debugMotorState"
                                                << "7";
    QTest::newRow("then label_debugBisscRaw")
        << true << "label_debugBisscRaw" << QString(64, QLatin1Char('1'));
}

void LiveViewTest::debugPageFromKindOneUpdates()
{
    QFETCH(bool, second);
    QFETCH(QString, label);
    QFETCH(QString, expected);
    WheelFixture f(900);
    f.send(debugUpdate(0, 123, 4, 5));
    if (second)
        f.send(debugUpdate(0, 124, 7, std::numeric_limits<uint64_t>::max()));
    QCOMPARE(f.text(label), expected);
}

void LiveViewTest::otherKindsLeaveTheDebugPage()
{
    WheelFixture f(900);
    f.send(debugUpdate(10, 55, 2, 9));
    for (uint8_t kind : {uint8_t(2), uint8_t(3), uint8_t(0), uint8_t(200)}) {
        // A payload that would read as a debug block with other values.
        ZudUsbWheelBaseJoystickUpdate update = debugUpdate(int16_t(100 * kind + 7), 99, 5, 1);
        update.updateKind = kind;
        f.send(update);
        QCOMPARE(f.text("label_JoystickValue"), QString::number(100 * kind + 7));
        QCOMPARE(f.text("label_debugTicks"), QStringLiteral("55"));
        QCOMPARE(f.text("label_debugMotorState"), QStringLiteral("Alignment"));
        QCOMPARE(f.text("label_debugBisscRaw"), QStringLiteral("1001"));
    }
}

void LiveViewTest::settingsArrivalRedrawsTheSameValue()
{
    WheelFixture f(900);
    f.send(wheelUpdate(777));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("777"));
    emit f.wheel->onSettingsLoaded(f.wheel);
    // The enable state empties the label; the cache is invalidated, so the
    // unchanged steering value is shown again with the next update.
    QVERIFY(f.text("label_JoystickValue").isEmpty());
    f.send(wheelUpdate(777));
    QCOMPARE(f.text("label_JoystickValue"), QStringLiteral("777"));
}

void LiveViewTest::nothingDrawnWithoutWheelBase()
{
    ZUD_wheel_tool window;
    auto pedals = plugPedals();
    QMetaObject::invokeMethod(&window.manager(), "doRescanForZudDevices", Qt::DirectConnection,
                              Q_ARG(uint16_t, 0x0483), Q_ARG(uint16_t, 0xA112));
    QLabel *value = child<QLabel>(window, "label_JoystickValue");
    QLabel *rim = child<QLabel>(window, "label_Rim_Image");
    const qint64 before = rim->pixmap(Qt::ReturnByValue).cacheKey();
    QMetaObject::invokeMethod(&window, "drawWheel", Qt::DirectConnection, Q_ARG(int16_t, 5000));
    ZudUsbWheelBaseJoystickUpdate update = debugUpdate(5000, 42, 4, 5);
    QMetaObject::invokeMethod(
        &window, "onDebugOutput", Qt::DirectConnection, Q_ARG(UsbDevice *, nullptr),
        Q_ARG(ZudUsbWheelBaseDebugOutput *, &update.debug), Q_ARG(uint64_t, 0));
    QVERIFY(value->text().isEmpty());
    QVERIFY(child<QLabel>(window, "label_debugTicks")->text().isEmpty());
    QCOMPARE(rim->pixmap(Qt::ReturnByValue).cacheKey(), before);
}

void LiveViewTest::pedalBarsAndValues()
{
    ZUD_wheel_tool window;
    auto pedals = plugPedals();
    QMetaObject::invokeMethod(&window.manager(), "doRescanForZudDevices", Qt::DirectConnection,
                              Q_ARG(uint16_t, 0x0483), Q_ARG(uint16_t, 0xA112));
    auto *device = deviceOf<UsbDeviceZudPedals>(window, pedals);
    QVERIFY(device);
    int seen = 0;
    QObject::connect(device, &UsbDeviceZudPedals::onJoystickUpdate, [&] { ++seen; });
    QProgressBar *x = child<QProgressBar>(window, "pedalX");
    QProgressBar *y = child<QProgressBar>(window, "pedalY");
    QProgressBar *z = child<QProgressBar>(window, "pedalZ");

    pedals->inject(pedalsReport(65535, 32768, 0));
    // No throttle on this path: a burst is drawn report by report.
    pedals->inject(pedalsReport(656, 655, 32767));
    QTRY_COMPARE(seen, 2);
    QCOMPARE(child<QLabel>(window, "label_JoystickValue")->text(), QStringLiteral("656 655 32767"));
    QCOMPARE(x->value(), 1);
    QCOMPARE(y->value(), 0);
    QCOMPARE(z->value(), 49);

    pedals->inject(pedalsReport(65535, 32768, 0));
    QTRY_COMPARE(seen, 3);
    QCOMPARE(child<QLabel>(window, "label_JoystickValue")->text(), QStringLiteral("65535 32768 0"));
    QCOMPARE(x->value(), 100);
    QCOMPARE(y->value(), 50);
    QCOMPARE(z->value(), 0);
}

void LiveViewTest::rimFollowsTheEmulatedWheel()
{
    // The emulator's factory profile has 900 degrees; its stream carries the
    // rim position scaled to that range.
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 200;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    ZUD_wheel_tool window;
    window.manager().rescanForZudDevices();
    QLabel *rim = child<QLabel>(window, "label_Rim_Image");
    QTRY_VERIFY(!rim->isHidden());

    emulator->setPosition(90.0);
    QTRY_VERIFY(near(markPosition(rim->pixmap(Qt::ReturnByValue).toImage()), QPointF(87, 0)));
    emulator->setPosition(-180.0);
    QTRY_VERIFY(near(markPosition(rim->pixmap(Qt::ReturnByValue).toImage()), QPointF(0, 87)));
    // Kind 1 reports fill the debug page on the way.
    QTRY_COMPARE(child<QLabel>(window, "label_debugMotorState")->text(), QStringLiteral("Running"));
}

void LiveViewTest::debugRepliesShownAsTheyCome()
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    ZUD_wheel_tool window;
    window.manager().rescanForZudDevices();
    QTRY_VERIFY(!child<QLabel>(window, "label_Rim_Image")->isHidden());
    emulator->setPosition(12.5);
    // Debug outputs arriving as replies of their own are not throttled: two
    // at once are both shown, the second last.
    emulator->sendDebugReply();
    emulator->sendDebugReply();
    QTRY_COMPARE(child<QLabel>(window, "label_debugTicks")->text(), QStringLiteral("2"));
    QCOMPARE(child<QLabel>(window, "label_debugMotorState")->text(), QStringLiteral("Running"));
    QCOMPARE(child<QLabel>(window, "label_debugMotorAngle")->text(), QStringLiteral("12.50"));
}

QTEST_MAIN(LiveViewTest)
#include "tst_liveview.moc"
