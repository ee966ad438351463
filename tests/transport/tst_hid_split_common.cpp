// SPDX-License-Identifier: GPL-3.0-or-later
// The platform-independent rules of the split-phase read layer that the
// Windows implementation depends on: the report-id rule with the platform's
// leading zero, and wait-any over more handles than one platform wait takes.
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"
#include "transport/HidSplitWait.h"

#include <QtTest>
#include <vector>

namespace {

// A scripted platform: auto-reset handles that are either signalled or not,
// a group wait that returns the lowest signalled one and consumes only it, a
// clock that only sleeping advances.
struct FakePlatform {
    std::vector<bool> signalled;
    int64_t now = 1000;
    int sleeps = 0;
    std::vector<int> groupSizes;
    std::vector<int> groupTimeouts;
    int failGroupAt = -1;       // first position of a group whose wait fails
    int signalAfterSleeps = -1; // signal position signalPosition after this many sleeps
    int signalPosition = -1;

    int waitGroup(int first, int n, int timeoutMs)
    {
        groupSizes.push_back(n);
        groupTimeouts.push_back(timeoutMs);
        if (first == failGroupAt)
            return HID_WAIT_FAILED;
        for (int i = 0; i < n; ++i) {
            if (signalled[size_t(first + i)]) {
                signalled[size_t(first + i)] = false;
                return i;
            }
        }
        if (timeoutMs > 0)
            now += timeoutMs;
        return HID_WAIT_TIMEOUT;
    }

    int wait(int count, int groupSize, int timeoutMs)
    {
        return hidsplit::waitAnyGrouped(
            count, groupSize, timeoutMs,
            [this](int first, int n, int ms) { return waitGroup(first, n, ms); },
            [this] { return now; },
            [this](int ms) {
                now += ms;
                if (++sleeps == signalAfterSleeps)
                    signalled[size_t(signalPosition)] = true;
            });
    }
};

} // namespace

class TestHidSplitCommon : public QObject {
    Q_OBJECT

private slots:
    void reportCopyRemovesThePlatformsZero_data();
    void reportCopyRemovesThePlatformsZero();
    void reportCopyKeepsByteZeroWhenThePlatformAddsNone();

    void oneGroupIsOneWaitWithTheCallersTimeout();
    void lowestPositionWinsAndOnlyItIsConsumed();
    void largeSetsAreSweptGroupByGroupLowestFirst();
    void largeSetTimesOutAfterTheDeadline();
    void largeSetWithoutTimeoutWaitsUntilAHandleIsReady();
    void failuresAndBadResultsAreFailures();
};

void TestHidSplitCommon::reportCopyRemovesThePlatformsZero_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("count");

    const QByteArray unnumbered = QByteArray(1, '\0') + QByteArray(64, '\x11');
    const QByteArray numbered = QByteArray(1, '\x65') + QByteArray(64, '\x22');
    // A 65-byte report of an unnumbered device: the zero goes, 64 data bytes stay.
    QTest::newRow("unnumbered 65 into 64") << unnumbered << 64 << 1 << 64;
    // A numbered report keeps its id; a 64-byte buffer loses the last byte.
    QTest::newRow("numbered 65 into 64") << numbered << 64 << 0 << 64;
    QTest::newRow("unnumbered into a short buffer") << unnumbered << 10 << 1 << 10;
    QTest::newRow("numbered into a long buffer") << numbered << 100 << 0 << 65;
    // Only the platform's zero came: no data, and no unsigned wrap-around.
    QTest::newRow("zero only") << QByteArray(1, '\0') << 64 << 1 << 0;
    QTest::newRow("nothing") << QByteArray() << 64 << 0 << 0;
}

void TestHidSplitCommon::reportCopyRemovesThePlatformsZero()
{
    QFETCH(QByteArray, report);
    QFETCH(int, length);
    QFETCH(int, offset);
    QFETCH(int, count);
    const auto c = hidsplit::reportCopy(reinterpret_cast<const uint8_t *>(report.constData()),
                                        size_t(report.size()), size_t(length), true);
    QCOMPARE(int(c.offset), offset);
    QCOMPARE(int(c.count), count);
}

void TestHidSplitCommon::reportCopyKeepsByteZeroWhenThePlatformAddsNone()
{
    // hidraw delivers unnumbered reports as they are: a leading zero is data.
    const QByteArray report = QByteArray(1, '\0') + QByteArray(63, '\x33');
    const auto c = hidsplit::reportCopy(reinterpret_cast<const uint8_t *>(report.constData()),
                                        size_t(report.size()), 64, false);
    QCOMPARE(int(c.offset), 0);
    QCOMPARE(int(c.count), 64);
}

void TestHidSplitCommon::oneGroupIsOneWaitWithTheCallersTimeout()
{
    FakePlatform p;
    p.signalled.assign(64, false);
    QCOMPARE(p.wait(64, 64, 500), HID_WAIT_TIMEOUT);
    QCOMPARE(p.groupSizes, std::vector<int>{64});
    QCOMPARE(p.groupTimeouts, std::vector<int>{500});
    QCOMPARE(p.sleeps, 0);

    p.groupTimeouts.clear();
    p.signalled[3] = true;
    QCOMPARE(p.wait(64, 64, -1), 3);
    QCOMPARE(p.groupTimeouts, std::vector<int>{-1});
}

void TestHidSplitCommon::lowestPositionWinsAndOnlyItIsConsumed()
{
    FakePlatform p;
    p.signalled.assign(5, false);
    p.signalled[4] = p.signalled[1] = true;
    QCOMPARE(p.wait(5, 64, 500), 1);
    QVERIFY(p.signalled[4]); // still ready for the next wait
    QCOMPARE(p.wait(5, 64, 500), 4);
    QCOMPARE(p.wait(5, 64, 0), HID_WAIT_TIMEOUT);
}

void TestHidSplitCommon::largeSetsAreSweptGroupByGroupLowestFirst()
{
    FakePlatform p;
    p.signalled.assign(150, false);
    p.signalled[149] = p.signalled[70] = true;
    QCOMPARE(p.wait(150, 64, 500), 70);
    // Groups 0-63 and 64-127, swept without waiting.
    QCOMPARE(p.groupSizes, (std::vector<int>{64, 64}));
    QCOMPARE(p.groupTimeouts, (std::vector<int>{0, 0}));
    QCOMPARE(p.wait(150, 64, 500), 149);
    QCOMPARE(p.groupSizes.back(), 22);
    QVERIFY(!p.signalled[70] && !p.signalled[149]);
}

void TestHidSplitCommon::largeSetTimesOutAfterTheDeadline()
{
    FakePlatform p;
    p.signalled.assign(100, false);
    QCOMPARE(p.wait(100, 64, 5), HID_WAIT_TIMEOUT);
    QCOMPARE(p.sleeps, 5);
    QCOMPARE(p.groupSizes.size(), size_t(12)); // six sweeps of two groups

    FakePlatform q;
    q.signalled.assign(100, false);
    QCOMPARE(q.wait(100, 64, 0), HID_WAIT_TIMEOUT); // one sweep, no sleep
    QCOMPARE(q.sleeps, 0);
    QCOMPARE(q.groupSizes.size(), size_t(2));
}

void TestHidSplitCommon::largeSetWithoutTimeoutWaitsUntilAHandleIsReady()
{
    FakePlatform p;
    p.signalled.assign(65, false);
    p.signalAfterSleeps = 40;
    p.signalPosition = 64;
    QCOMPARE(p.wait(65, 64, -1), 64);
    QCOMPARE(p.sleeps, 40);
}

void TestHidSplitCommon::failuresAndBadResultsAreFailures()
{
    FakePlatform p;
    p.signalled.assign(130, false);
    QCOMPARE(p.wait(0, 64, 500), HID_WAIT_FAILED);
    QCOMPARE(p.wait(-3, 64, 500), HID_WAIT_FAILED);
    QCOMPARE(p.wait(10, 0, 500), HID_WAIT_FAILED);
    QVERIFY(p.groupSizes.empty());

    p.failGroupAt = 64; // the second group's wait fails
    p.signalled[129] = true;
    QCOMPARE(p.wait(130, 64, 500), HID_WAIT_FAILED);
    QVERIFY(p.signalled[129]);

    // A platform answer outside the group is no position.
    const auto outOfGroup = hidsplit::waitAnyGrouped(
        4, 64, 100, [](int, int n, int) { return n; }, [] { return int64_t(0); }, [](int) {});
    QCOMPARE(outOfGroup, HID_WAIT_FAILED);
}

QTEST_GUILESS_MAIN(TestHidSplitCommon)
#include "tst_hid_split_common.moc"
