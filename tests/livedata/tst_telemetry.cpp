// SPDX-License-Identifier: GPL-3.0-or-later
// The telemetry recorder on its own: which channels each kind of update
// fills, the times of the samples, the torque input latch, a minute's ring,
// sample counts the record cannot hold, and the clipping share.
#include "TestSupport.h"
#include "livedata/ScopeTrace.h"
#include "livedata/TelemetryRecorder.h"

#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

namespace {

using testing::wheelUpdate;

constexpr uint64_t t0 = 1700000000000000ull; // some wall-clock time, microseconds

ZudUsbWheelBaseJoystickUpdate torque(uint8_t count, uint8_t inSample = 0, int16_t in = 0,
                                     int16_t out = 0)
{
    ZudUsbWheelBaseJoystickUpdate u = wheelUpdate(0, 2);
    u.torque.sampleCount = count;
    u.torque.torqueInSample = inSample;
    u.torque.torqueIn = in;
    for (int j = 0; j < zudMaxTorqueSamples; ++j) {
        u.torque.torqueOut[j] = int16_t(out ? out : 100 * (j + 1));
        u.torque.torqueActual[j] = int16_t(-50 * (j + 1));
    }
    return u;
}

QVector<float> values(const TelemetryRing &ring)
{
    QVector<float> v;
    for (size_t i = 0; i < ring.size(); ++i)
        v.append(ring.at(i).value);
    return v;
}

} // namespace

class TelemetryTest : public QObject {
    Q_OBJECT

private slots:
    void channelsAndTimesPerKind_data();
    void channelsAndTimesPerKind();
    void torqueInLatch_data();
    void torqueInLatch();
    void keepsOneMinute();
    void ringCapacityOverwritesOldest();
    void kindChangeMidStream();
    void clipping_data();
    void clipping();
    void scopeTraceEnvelope_data();
    void scopeTraceEnvelope();
};

void TelemetryTest::channelsAndTimesPerKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("sampleCount");
    QTest::addColumn<int>("perSampleChannelSize"); // per report
    QTest::addColumn<int>("channelsFilled");       // besides steering

    QTest::newRow("kind 1") << 1 << 0 << 0 << 3;
    QTest::newRow("kind 2, 11 samples") << 2 << 11 << 11 << 4;
    QTest::newRow("kind 2, 3 samples") << 2 << 3 << 3 << 4;
    QTest::newRow("kind 2, no samples") << 2 << 0 << 0 << 1;
    QTest::newRow("kind 2, count 255 reads 11") << 2 << 255 << 11 << 4;
    QTest::newRow("kind 3") << 3 << 0 << 0 << 9;
    QTest::newRow("unknown kind 7") << 7 << 0 << 0 << 0;
}

void TelemetryTest::channelsAndTimesPerKind()
{
    QFETCH(int, kind);
    QFETCH(int, sampleCount);
    QFETCH(int, perSampleChannelSize);
    QFETCH(int, channelsFilled);

    TelemetryRecorder recorder;
    const int reports = 4;
    for (int r = 0; r < reports; ++r) {
        ZudUsbWheelBaseJoystickUpdate u =
            kind == 2 ? torque(uint8_t(sampleCount)) : wheelUpdate(16384, uint8_t(kind));
        recorder.record(u, t0 + 2000 * uint64_t(r), 900);
    }
    QCOMPARE(recorder.reportsReceived(), uint64_t(reports));
    QCOMPARE(recorder.kind(), kind);
    // Steering: the rim's angle for every report (16384 with 900 degrees: 225).
    const TelemetryRing &steering = recorder.channel(TelemetryChannel::Steering);
    QCOMPARE(int(steering.size()), reports);
    QCOMPARE(steering.back().value, kind == 2 ? 0.0f : 225.0f);
    // The first report lies one millisecond after the origin; then 2 ms apart.
    QCOMPARE(steering.at(0).time, 0.001);
    QCOMPARE(steering.back().time, 0.007);

    int filled = 0;
    uint64_t samples = uint64_t(reports);
    for (int c = 1; c < telemetryChannelCount; ++c) {
        const TelemetryRing &ring = recorder.channel(TelemetryChannel(c));
        if (ring.empty())
            continue;
        ++filled;
        QCOMPARE(telemetryChannelInfo(TelemetryChannel(c)).kind, kind);
        samples += ring.size();
    }
    QCOMPARE(filled, channelsFilled);
    QCOMPARE(recorder.samplesReceived(), samples);
    QCOMPARE(recorder.samplesLost(), uint64_t(0));

    if (kind == 2 && perSampleChannelSize > 0) {
        const TelemetryRing &out = recorder.channel(TelemetryChannel::TorqueOut);
        QCOMPARE(int(out.size()), reports * perSampleChannelSize);
        // The last report's samples spread evenly over its 2 ms, the last at
        // the report's time; values in percent.
        const int n = perSampleChannelSize;
        for (int j = 0; j < n; ++j) {
            const TelemetrySample &s = out.at(size_t((reports - 1) * n + j));
            QVERIFY2(qAbs(s.time - (0.007 - 0.002 * (n - 1 - j) / n)) < 1e-9,
                     qPrintable(QString::number(s.time, 'g', 12)));
            QCOMPARE(s.value, float(j + 1));
        }
        QCOMPARE(recorder.channel(TelemetryChannel::TorqueActual).back().value, -0.5f * float(n));
    }
}

void TelemetryTest::torqueInLatch_data()
{
    // Each update: sampleCount, torqueInSample, torqueIn; the torque input
    // recorded with every sample, in order.
    QTest::addColumn<QVector<int>>("counts");
    QTest::addColumn<QVector<int>>("inSamples");
    QTest::addColumn<QVector<int>>("inputs");
    QTest::addColumn<QVector<float>>("expected");

    QTest::newRow("from sample 1, carried on")
        << QVector<int>{3, 2} << QVector<int>{1, 5} << QVector<int>{1250, 900}
        << QVector<float>{0, 12.5f, 12.5f, 12.5f, 12.5f};
    QTest::newRow("index at the count latches nothing")
        << QVector<int>{2, 2} << QVector<int>{2, 0} << QVector<int>{700, -300}
        << QVector<float>{0, 0, -3, -3};
    QTest::newRow("index beyond the record, count above it")
        << QVector<int>{40} << QVector<int>{20} << QVector<int>{500} << QVector<float>(11, 0.0f);
    QTest::newRow("no samples, nothing latched")
        << QVector<int>{0, 1} << QVector<int>{0, 5} << QVector<int>{400, 100} << QVector<float>{0};
}

void TelemetryTest::torqueInLatch()
{
    QFETCH(QVector<int>, counts);
    QFETCH(QVector<int>, inSamples);
    QFETCH(QVector<int>, inputs);
    QFETCH(QVector<float>, expected);

    TelemetryRecorder recorder;
    for (int i = 0; i < counts.size(); ++i)
        recorder.record(torque(uint8_t(counts[i]), uint8_t(inSamples[i]), int16_t(inputs[i])),
                        t0 + 1000 * uint64_t(i), 900);
    QCOMPARE(values(recorder.channel(TelemetryChannel::TorqueIn)), expected);
}

void TelemetryTest::keepsOneMinute()
{
    // 70 s of kind 1 at 100 reports/s: the last 60 s stay, nothing is lost.
    TelemetryRecorder recorder;
    for (int r = 0; r < 7000; ++r)
        recorder.record(wheelUpdate(0, 1), t0 + 10000 * uint64_t(r), 900);
    const TelemetryRing &ffb = recorder.channel(TelemetryChannel::FfbOut);
    QCOMPARE(recorder.latestTime(), 69.991);
    QVERIFY(ffb.at(0).time >= recorder.latestTime() - 60.0);
    QVERIFY2(ffb.size() == 6000 || ffb.size() == 6001, qPrintable(QString::number(ffb.size())));
    QCOMPARE(recorder.samplesLost(), uint64_t(0));
    QCOMPARE(recorder.samplesKept(), recorder.samplesReceived());

    recorder.clear();
    QCOMPARE(recorder.reportsReceived(), uint64_t(0));
    QVERIFY(recorder.channel(TelemetryChannel::FfbOut).empty());
    recorder.record(wheelUpdate(0, 1), t0, 900);
    QCOMPARE(recorder.channel(TelemetryChannel::FfbOut).at(0).time, 0.001);
}

void TelemetryTest::ringCapacityOverwritesOldest()
{
    TelemetryRing ring(5);
    for (int i = 0; i < 8; ++i)
        ring.push(i, float(i));
    QCOMPARE(values(ring), (QVector<float>{3, 4, 5, 6, 7}));
    QCOMPARE(ring.overwritten(), uint64_t(3));
    QCOMPARE(ring.lowerBound(4.5), size_t(2));
    QCOMPARE(ring.lowerBound(100), size_t(5));
    ring.dropBefore(6);
    QCOMPARE(values(ring), (QVector<float>{6, 7}));
    ring.push(8, 8);
    QCOMPARE(values(ring), (QVector<float>{6, 7, 8}));
}

void TelemetryTest::kindChangeMidStream()
{
    TelemetryRecorder recorder;
    ZudUsbWheelBaseJoystickUpdate debug = wheelUpdate(0, 1);
    debug.debug.ffbOut = 150.0f;
    for (int r = 0; r < 10; ++r)
        recorder.record(debug, t0 + 1000 * uint64_t(r), 900);
    QCOMPARE(recorder.clipping(10).clipped, size_t(10));
    for (int r = 10; r < 15; ++r)
        recorder.record(torque(11, 0, 0, 2000), t0 + 1000 * uint64_t(r), 900);
    QCOMPARE(recorder.kind(), 2);
    QCOMPARE(int(recorder.channel(TelemetryChannel::FfbOut).size()), 10);
    QCOMPARE(int(recorder.channel(TelemetryChannel::TorqueOut).size()), 55);
    QCOMPARE(int(recorder.channel(TelemetryChannel::Steering).size()), 15);
    // The clipping follows the output of the kind now sent.
    const TelemetryClipping clip = recorder.clipping(10);
    QCOMPARE(clip.samples, size_t(55));
    QCOMPARE(clip.clipped, size_t(0));
    QCOMPARE(clip.peak, 20.0f);
    // Times stay in order across the change.
    const TelemetryRing &out = recorder.channel(TelemetryChannel::TorqueOut);
    for (size_t i = 1; i < out.size(); ++i)
        QVERIFY(out.at(i).time >= out.at(i - 1).time);
}

void TelemetryTest::clipping_data()
{
    QTest::addColumn<QVector<int>>("torqueOut"); // hundredths, one value per report
    QTest::addColumn<double>("share");
    QTest::addColumn<float>("peak");

    QTest::newRow("none") << QVector<int>{1, 5000, -9999} << 0.0 << 99.99f;
    QTest::newRow("at and beyond +-100 %")
        << QVector<int>{10000, -10000, 12000, 500} << 0.75 << 120.0f;
    // One report a second for 15 s: the last 10 s hold the last 11 reports.
    QTest::newRow("only the last 10 s")
        << QVector<int>{20000, 20000, 20000, 20000, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -10000}
        << 1.0 / 11.0 << 100.0f;
}

void TelemetryTest::clipping()
{
    QFETCH(QVector<int>, torqueOut);
    QFETCH(double, share);
    QFETCH(float, peak);

    TelemetryRecorder recorder;
    for (int i = 0; i < torqueOut.size(); ++i)
        recorder.record(torque(1, 0, 0, int16_t(torqueOut[i])), t0 + 1000000 * uint64_t(i), 900);
    const TelemetryClipping clip = recorder.clipping(10);
    QCOMPARE(clip.share(), share);
    QCOMPARE(clip.peak, peak);
}

QTEST_GUILESS_MAIN(TelemetryTest)
void TelemetryTest::scopeTraceEnvelope_data()
{
    QTest::addColumn<double>("window");
    QTest::addColumn<double>("spacing"); // seconds between samples
    QTest::addColumn<int>("perRound");   // samples taken between two frames
    QTest::newRow("kind 2 in 5 s") << 5.0 << 1.0 / 11000 << 367;
    QTest::newRow("kind 2 in 30 s") << 30.0 << 1.0 / 11000 << 367;
    QTest::newRow("1 kHz in 1 s") << 1.0 << 0.001 << 33;
    QTest::newRow("sparser than the buckets") << 1.0 << 0.0037 << 5;
}

// The trace against the samples it took: its points are samples, in time
// order, with each bucket's lowest and highest; what a graph holds when
// handed the points frame by frame, as the scope does, is the whole
// envelope; dropping keeps the newer part.
void TelemetryTest::scopeTraceEnvelope()
{
    QFETCH(double, window);
    QFETCH(double, spacing);
    QFETCH(int, perRound);
    // Lowest and highest value per bucket.
    using Extremes = std::map<long long, std::pair<float, float>>;
    auto widen = [](Extremes &extremes, double bucket, double time, float value) {
        auto [it, fresh] = extremes.try_emplace((long long)std::floor(time / bucket),
                                                std::make_pair(value, value));
        it->second = {std::min(it->second.first, value), std::max(it->second.second, value)};
    };
    auto envelope = [&](const ScopeTrace &trace) {
        Extremes drawn;
        trace.forEachPointAfter(
            -1.0, [&](double t, float v) { widen(drawn, trace.bucketSeconds(), t, v); });
        return drawn;
    };

    const double bucket = window / 600;
    ScopeTrace trace(bucket);
    std::map<double, float> graph;
    double handedOver = -std::numeric_limits<double>::infinity();
    Extremes extremes;
    uint32_t seed = 7;
    const int count = 20 * perRound + 3;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double time = 2.0 + i * spacing;
        const float value = float(int(seed >> 20) % 2001 - 1000) / 10.0f;
        trace.append(time, value);
        widen(extremes, bucket, time, value);
        if ((i + 1) % perRound == 0 || i + 1 == count) {
            graph.erase(graph.upper_bound(handedOver), graph.end());
            trace.forEachPointAfter(handedOver, [&](double t, float v) { graph[t] = v; });
            handedOver = trace.settledUntil();
        }
    }
    QCOMPARE(int(trace.samples().size()), count);

    using Points = std::vector<std::pair<double, float>>;
    Points points;
    trace.forEachPointAfter(-1.0, [&](double t, float v) { points.emplace_back(t, v); });
    QVERIFY(Points(graph.begin(), graph.end()) == points);
    QVERIFY(points.size() <= 2 * extremes.size());
    for (size_t k = 0; k < points.size(); ++k) {
        QVERIFY(k == 0 || points[k - 1].first < points[k].first);
        const double n = (points[k].first - 2.0) / spacing;
        QVERIFY(std::abs(n - std::round(n)) < 1e-6); // a sample's time
    }
    QVERIFY(envelope(trace) == extremes);

    const double cut = trace.samples()[size_t(count / 2)].time;
    trace.dropBefore(cut);
    QCOMPARE(trace.samples().front().time, cut);
    QCOMPARE(int(trace.samples().size()), count - count / 2);
    trace.forEachPointAfter(-1.0, [&](double t, float) { QVERIFY(t >= cut); });

    // Coarser buckets: the envelope of the samples kept, built again.
    trace.setBucketSeconds(bucket * 3);
    extremes.clear();
    for (const TelemetrySample &s : trace.samples())
        widen(extremes, bucket * 3, s.time, s.value);
    QVERIFY(envelope(trace) == extremes);
    trace.clear();
    QVERIFY(trace.empty());
}

#include "tst_telemetry.moc"
