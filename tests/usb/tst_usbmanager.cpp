// SPDX-License-Identifier: GPL-3.0-or-later
// UsbManager: discovery and the registry, start/stop, and the reader thread
// that delivers reports and notices lost devices.
#include "TestSupport.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "usb/ReportBatch.h"
#include "usb/UsbManager.h"

#include <QtTest>
#include <memory>

using namespace testing;

namespace {

bool passFor(UsbManager &manager, uint16_t productId)
{
    bool result = false;
    QMetaObject::invokeMethod(&manager, "doRescanForZudDevices", Qt::DirectConnection,
                              Q_RETURN_ARG(bool, result), Q_ARG(uint16_t, 0x0483),
                              Q_ARG(uint16_t, productId));
    return result;
}

// Records the order of everything a manager and its pedals report.
struct Recorder : QObject {
    QStringList events;
    QList<uint64_t> readTimes;

    void follow(UsbManager &manager)
    {
        connect(&manager, &UsbManager::onDeviceConnected, this, [this](UsbDevice *d) {
            events << "connected " + d->getId();
            if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(d))
                connect(pedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                        [this](UsbDevice *from, ZudUsbPedalsJoystickUpdate *u, uint64_t t) {
                            events << QString("report %1 %2").arg(from->getId()).arg(u->x.get());
                            readTimes << t;
                        });
        });
        connect(&manager, &UsbManager::onDeviceDisconnected, this,
                [this](UsbDevice *d) { events << "disconnected " + d->getId(); });
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &e : events)
            n += e.startsWith(prefix);
        return n;
    }
};

vhid::Report pedalsReport(uint16_t x)
{
    vhid::Report r(64, 0);
    r[0] = 1;
    r[1] = uint8_t(x);
    r[2] = uint8_t(x >> 8);
    return r;
}

// One step on a ReportBatch: 's' a stream report, 'r' a reply, 'l' a loss,
// 'd' due(), 'f' flush(), 't' takeAll(); at: the time in microseconds;
// posts: whether the step asks for a delivery.
struct BatchStep {
    char op;
    uint64_t at;
    bool posts;
};

} // namespace

Q_DECLARE_METATYPE(QVector<BatchStep>)

class TestUsbManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<uint16_t>("uint16_t"); }
    void cleanup() { vhid::unplugAll(); }

    void kindByProductIdAndString_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("kind");
        QTest::newRow("wheel base by name") << 0xA355 << "ZUD Wheel Base"
                                            << "UsbDeviceZudWheelBase";
        QTest::newRow("bootloader by name") << 0xA355 << "ZUD Bootloader"
                                            << "UsbDeviceZudBootloader";
        QTest::newRow("bootloader tested first") << 0xA355 << "Wheel Base Bootloader"
                                                 << "UsbDeviceZudBootloader";
        QTest::newRow("names are case-sensitive") << 0xA355 << "zud wheel base"
                                                  << "";
        QTest::newRow("neither name") << 0xA355 << "Something"
                                      << "";
        QTest::newRow("wheel base id") << 0xA111 << ""
                                       << "UsbDeviceZudWheelBase";
        QTest::newRow("pedals id") << 0xA112 << "Pedals"
                                   << "UsbDeviceZudPedals";
        QTest::newRow("bootloader id") << 0x5C05 << ""
                                       << "UsbDeviceZudBootloader";
        QTest::newRow("other bootloader id") << 0xA110 << ""
                                             << "UsbDeviceZudBootloader";
    }
    void kindByProductIdAndString()
    {
        QFETCH(int, productId);
        QFETCH(QString, product);
        QFETCH(QString, kind);
        auto device = plugDevice(uint16_t(productId), product.toStdWString());
        UsbManager manager{createZudDevice};
        QSignalSpy connected(&manager, &UsbManager::onDeviceConnected);
        QCOMPARE(passFor(manager, uint16_t(productId)), !kind.isEmpty());
        QCOMPARE(connected.count(), kind.isEmpty() ? 0 : 1);
        QCOMPARE(manager.getDevices().size(), kind.isEmpty() ? 0 : 1);
        if (!kind.isEmpty()) {
            UsbDevice *d = manager.getDevices().first();
            QCOMPARE(QString(d->metaObject()->className()), kind);
            QCOMPARE(d->getProductString(), product);
            QCOMPARE(manager.getDevice(QString::fromStdString(device->path())), d);
        }
        // A rejected device is closed again at once.
        QCOMPARE(device->openHandleCount(), kind.isEmpty() ? 0 : 1);
    }

    void repeatedPassesRegisterOnce()
    {
        auto wheel = plugWheelBase();
        auto unnamed = plugDevice(0xA355, L"Unknown Gadget");
        UsbManager manager{createZudDevice};
        QSignalSpy connected(&manager, &UsbManager::onDeviceConnected);
        QVERIFY(!manager.rescanForZudDevices() || connected.count() == 1);
        QVERIFY(!manager.rescanForZudDevices());
        QVERIFY(!manager.rescanForZudDevices());
        QCOMPARE(connected.count(), 1);
        QCOMPARE(wheel->totalOpens(), 1);
        // The unnamed device is opened and closed on every pass, never announced.
        QCOMPARE(unnamed->totalOpens(), 3);
        QCOMPARE(unnamed->openHandleCount(), 0);
        QVERIFY(manager.getDevice("no-such-device") == nullptr);
        QCOMPARE(manager.getDevices().size(), 1);
    }

    void probePassAsksForWheelBasesAndBootloadersOnly()
    {
        auto pedals = plugDevice(0xA112, L"ZUD Pedals");
        UsbManager manager{createZudDevice};
        QVERIFY(!manager.rescanForZudDevices());
        QCOMPARE(pedals->totalOpens(), 0);
        QVERIFY(passFor(manager, 0xA112));
    }

    void failingOpenIsRetried()
    {
        auto wheel = plugWheelBase();
        wheel->setOpenFails(true);
        UsbManager manager{createZudDevice};
        QVERIFY(!manager.rescanForZudDevices());
        QVERIFY(!manager.rescanForZudDevices());
        QCOMPARE(wheel->failedOpens(), 2);
        wheel->setOpenFails(false);
        QVERIFY(manager.rescanForZudDevices());
    }

    void neverStartedManagerReleasesOnDestruction()
    {
        auto a = plugWheelBase();
        auto b = plugDevice(0xA355, L"ZUD Bootloader");
        const int exitsBefore = vhid::exitCount();
        auto manager = std::make_unique<UsbManager>(createZudDevice);
        QSignalSpy disconnected(manager.get(), &UsbManager::onDeviceDisconnected);
        QVERIFY(manager->rescanForZudDevices());
        QCOMPARE(a->openHandleCount() + b->openHandleCount(), 2);
        manager.reset();
        QCOMPARE(disconnected.count(), 2);
        QCOMPARE(a->openHandleCount() + b->openHandleCount(), 0);
        QCOMPARE(vhid::exitCount(), exitsBefore + 1);
        QCOMPARE(a->writeCount() + b->writeCount(), size_t(0));
    }

    void stopAnnouncesEveryDeviceInKeyOrder()
    {
        auto c = plugWheelBase("dev-c");
        auto a = plugWheelBase("dev-a");
        auto b = plugDevice(0xA112, L"ZUD Pedals", "dev-b");
        UsbManager manager{createZudDevice};
        Recorder recorder;
        recorder.follow(manager);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("connected"), 3, 5000);
        QCOMPARE(manager.getDevices().size(), 3);
        recorder.events.clear();
        manager.stop();
        QCOMPARE(recorder.events,
                 QStringList({"disconnected dev-a", "disconnected dev-b", "disconnected dev-c"}));
        QVERIFY(manager.getDevices().isEmpty());
        QCOMPARE(a->openHandleCount() + b->openHandleCount() + c->openHandleCount(), 0);
        manager.stop();
        QCOMPARE(recorder.events.size(), 3);
        // A stopped manager starts again and finds the devices anew.
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("connected"), 3, 5000);
    }

    void arrivalAnnouncedByTheNextTick()
    {
        UsbManager manager{createZudDevice};
        QSignalSpy connected(&manager, &UsbManager::onDeviceConnected);
        manager.start();
        QTest::qWait(1200); // at least one pass over an empty bus
        QCOMPARE(connected.count(), 0);
        plugWheelBase();
        QTest::qWait(20);
        QCOMPARE(connected.count(), 0); // not at once
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 3000);
    }

    void reportsDeliveredThenOneLoss()
    {
        auto pedals = plugDevice(0xA112, L"ZUD Pedals", "pedals");
        UsbManager manager{createZudDevice};
        Recorder recorder;
        recorder.follow(manager);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("connected"), 1, 5000);
        for (uint16_t x = 1; x <= 5; ++x)
            pedals->inject(pedalsReport(x));
        pedals->inject(report(1, 0, 20)); // short: dropped
        pedals->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("disconnected"), 1, 5000);
        QCOMPARE(recorder.events,
                 QStringList({"connected pedals", "report pedals 1", "report pedals 2",
                              "report pedals 3", "report pedals 4", "report pedals 5",
                              "disconnected pedals"}));
        QVERIFY(manager.getDevices().isEmpty());
        for (int i = 1; i < recorder.readTimes.size(); ++i)
            QVERIFY(recorder.readTimes[i] >= recorder.readTimes[i - 1]);
        QTest::qWait(100);
        QCOMPARE(recorder.count("disconnected"), 1);

        // Plugged back, it is a new device again.
        auto again = plugDevice(0xA112, L"ZUD Pedals", "pedals");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("connected"), 2, 5000);
        again->inject(pedalsReport(9));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("report pedals 9"), 1, 5000);
    }

    void pausedReportsFollowResumeLowestKeyDrainedFirst()
    {
        auto late = plugDevice(0xA112, L"ZUD Pedals", "p-2");
        auto early = plugDevice(0xA112, L"ZUD Pedals", "p-1");
        UsbManager manager{createZudDevice};
        Recorder recorder;
        recorder.follow(manager);
        manager.start(true);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("connected"), 2, 5000);
        for (uint16_t x = 1; x <= 3; ++x) {
            late->inject(pedalsReport(uint16_t(10 + x)));
            early->inject(pedalsReport(x));
        }
        QTest::qWait(150);
        QCOMPARE(recorder.count("report"), 0); // paused: nothing is read
        manager.resume();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("report"), 6, 5000);
        QCOMPARE(recorder.events.mid(2),
                 QStringList({"report p-1 1", "report p-1 2", "report p-1 3", "report p-2 11",
                              "report p-2 12", "report p-2 13"}));
        manager.pause();
        QTest::qWait(700); // the pass under way when pausing ends within its wait
        early->inject(pedalsReport(4));
        QTest::qWait(100);
        QCOMPARE(recorder.count("report"), 6);
        manager.resume();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("report"), 7, 5000);
    }

    // The batch's pacing with a 4 ms hold. Every entry is taken exactly once
    // and in the order added; taken: the steps' numbers, a loss as "l".
    void batchPacing_data()
    {
        QTest::addColumn<QVector<BatchStep>>("steps");
        QTest::addColumn<QString>("taken");
        QTest::newRow("stream held until the hold is over")
            << QVector<BatchStep>{{'s', 0, false},
                                  {'s', 1000, false},
                                  {'s', 3999, false},
                                  {'s', 4000, true},
                                  {'t', 4100, false}}
            << "0 1 2 3";
        QTest::newRow("a reply takes the held stream with it at once")
            << QVector<BatchStep>{{'s', 0, false}, {'r', 500, true}, {'t', 600, false}} << "0 1";
        QTest::newRow("a loss goes at once, after the device's reports")
            << QVector<BatchStep>{{'s', 0, false}, {'l', 10, true}, {'t', 20, false}} << "0 l";
        QTest::newRow("a posted delivery covers what comes before it is taken")
            << QVector<BatchStep>{{'r', 0, true},   {'s', 10, false}, {'r', 20, false},
                                  {'l', 30, false}, {'t', 40, false}, {'s', 50, false}}
            << "0 1 2 l";
        QTest::newRow("due only once the hold is over, and once")
            << QVector<BatchStep>{{'d', 0, false},   {'s', 0, false},    {'d', 3999, false},
                                  {'d', 4000, true}, {'d', 4001, false}, {'t', 4100, false}}
            << "1";
        QTest::newRow("a steady stream is paced from the last delivery")
            << QVector<BatchStep>{{'s', 0, false},    {'s', 4500, true},  {'t', 4600, false},
                                  {'s', 5500, false}, {'s', 7999, false}, {'s', 8000, true},
                                  {'t', 8100, false}}
            << "0 1 3 4 5";
        QTest::newRow("after a pause the hold starts again")
            << QVector<BatchStep>{{'s', 0, false},     {'d', 4000, true},   {'t', 4100, false},
                                  {'s', 20000, false}, {'d', 23999, false}, {'d', 24000, true},
                                  {'t', 24100, false}}
            << "0 3";
        QTest::newRow("flush hands over what is held, nothing when nothing is")
            << QVector<BatchStep>{{'f', 0, false},
                                  {'s', 0, false},
                                  {'f', 10, true},
                                  {'f', 20, false},
                                  {'t', 30, false}}
            << "1";
    }
    void batchPacing()
    {
        QFETCH(QVector<BatchStep>, steps);
        QFETCH(QString, taken);
        ReportBatch batch(4000);
        QStringList got;
        for (int i = 0; i < steps.size(); ++i) {
            const BatchStep &step = steps[i];
            ZudUsbReport r{};
            r.data[1] = uint8_t(i);
            bool posts = false;
            std::vector<ReportBatch::Entry> entries;
            switch (step.op) {
            case 's':
            case 'r':
                posts = batch.addReport(nullptr, r.data, step.at, step.op == 's', step.at);
                break;
            case 'l':
                posts = batch.addLoss(nullptr);
                break;
            case 'd':
                posts = batch.due(step.at);
                break;
            case 'f':
                posts = batch.flush();
                break;
            case 't':
                batch.takeAll(entries);
                for (const ReportBatch::Entry &e : entries)
                    got << (e.lost ? QString("l") : QString::number(e.report.data[1]));
                break;
            }
            QVERIFY2(posts == step.posts, qPrintable(QString("step %1").arg(i)));
        }
        QCOMPARE(got.join(' '), taken);
    }

    void batchWaitsNoLongerThanDue()
    {
        ReportBatch batch(4000);
        QCOMPARE(batch.millisUntilDue(0), -1);
        ZudUsbReport r{};
        batch.addReport(nullptr, r.data, 0, true, 1000);
        QCOMPARE(batch.millisUntilDue(1000), 4);
        QCOMPARE(batch.millisUntilDue(4001), 1); // rounded up, never a busy wait
        QCOMPARE(batch.millisUntilDue(5000), 0);
    }

    // A receiver that runs an event loop (which receivers must not) while
    // reports are queued behind the one it handles does not see newer
    // reports before the older ones of the same batch.
    void deliveryFromInsideAReceiverKeepsTheOrder()
    {
        auto pedals = plugDevice(0xA112, L"ZUD Pedals", "pedals");
        UsbManager manager{createZudDevice}; // not started: the test runs the reader's pass itself
        Recorder recorder;
        recorder.follow(manager);
        QVERIFY(passFor(manager, 0xA112));
        for (uint16_t x = 1; x <= 3; ++x)
            pedals->inject(pedalsReport(x));
        auto pass = [&] {
            QMetaObject::invokeMethod(&manager, "tryReadFromZudDevices", Qt::DirectConnection);
        };
        auto *device = qobject_cast<UsbDeviceZudPedals *>(manager.getDevices().first());
        bool nested = false;
        connect(device, &UsbDeviceZudPedals::onJoystickUpdate, this, [&] {
            if (nested)
                return;
            nested = true;
            pedals->inject(pedalsReport(4));
            pass();
            QCoreApplication::processEvents();
        });
        for (int i = 0; i < 3; ++i)
            pass();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count("report"), 4, 3000);
        QCOMPARE(recorder.events.mid(1), QStringList({"report pedals 1", "report pedals 2",
                                                      "report pedals 3", "report pedals 4"}));
    }

    // A report read before stop() is not handed to the device stop() deleted.
    void reportOfDeletedDeviceIsDropped()
    {
        auto wheel = plugWheelBase();
        UsbManager manager{createZudDevice}; // not started: the test runs the reader's pass itself
        QVERIFY(manager.rescanForZudDevices());
        QSignalSpy disconnected(&manager, &UsbManager::onDeviceDisconnected);
        wheel->inject(report(1));
        QVERIFY(QMetaObject::invokeMethod(&manager, "tryReadFromZudDevices", Qt::DirectConnection));
        manager.stop(); // deletes the device while its report's delivery is posted
        QCOMPARE(disconnected.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(disconnected.count(), 1);
    }

    void stopReleasesADeviceWhoseLossIsStillQueued()
    {
        auto wheel = plugWheelBase();
        UsbManager manager{createZudDevice};
        QSignalSpy disconnected(&manager, &UsbManager::onDeviceDisconnected);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.getDevices().size(), 1, 5000);
        wheel->unplug();
        // Wait, without running the event loop, until the reader has taken the
        // device out of the registry: its loss is queued but not handled.
        QElapsedTimer timer;
        timer.start();
        while (!manager.getDevices().isEmpty() && timer.elapsed() < 5000)
            QThread::msleep(5);
        QVERIFY(manager.getDevices().isEmpty());
        QCOMPARE(disconnected.count(), 0);
        manager.stop();
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(wheel->openHandleCount(), 0);
        QCoreApplication::processEvents(); // the queued loss finds the device gone
        QCOMPARE(disconnected.count(), 1);
    }

    // A device back on the same interface while its loss is still queued is
    // announced once that loss has been handled, never beside its old object.
    void returnWhileLossQueuedIsAnnouncedAfterIt()
    {
        auto wheel = plugWheelBase();
        const QString id = QString::fromStdString(wheel->path());
        UsbManager manager{createZudDevice}; // not started: the test runs the reader's pass itself
        Recorder recorder;
        recorder.follow(manager);
        QVERIFY(manager.rescanForZudDevices());
        wheel->unplug();
        QVERIFY(QMetaObject::invokeMethod(&manager, "tryReadFromZudDevices", Qt::DirectConnection));
        QVERIFY(manager.getDevices().isEmpty());
        wheel = plugWheelBase(wheel->path());
        QVERIFY(!manager.rescanForZudDevices());
        QCoreApplication::processEvents();
        QVERIFY(manager.rescanForZudDevices());
        QCOMPARE(recorder.events,
                 QStringList({"connected " + id, "disconnected " + id, "connected " + id}));
        QCOMPARE(wheel->openHandleCount(), 1);
    }

    void firstDeviceIsReadBeforeItsQueueOverflows()
    {
        UsbManager manager{createZudDevice};
        manager.start();
        QTest::qWait(1200); // the reader idles with nothing registered
        auto pedals = plugDevice(0xA112, L"ZUD Pedals");
        pedals->startStreaming(1000, [](uint8_t *r, uint64_t) { r[0] = 1; });
        QTRY_COMPARE_WITH_TIMEOUT(manager.getDevices().size(), 1, 5000);
        QTest::qWait(1000);
        pedals->stopStreaming();
        // The registration woke the idle reader: nothing piled up and was dropped.
        QCOMPARE(pedals->droppedReports(), uint64_t(0));
    }

    void stopWhileWaitingReturnsPromptly()
    {
        auto wheel = plugWheelBase();
        UsbManager manager{createZudDevice};
        QSignalSpy connected(&manager, &UsbManager::onDeviceConnected);
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 5000);
        QTest::qWait(50); // the reader is inside its 500 ms wait now
        QElapsedTimer timer;
        timer.start();
        manager.stop();
        // One wait at most; the bound is loose so a loaded machine passes.
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

    void deviceThatFailsEveryWriteKeepsTheToolResponsive()
    {
        auto wheel = plugWheelBase();
        wheel->setWriteFails(true);
        UsbManager manager{createZudDevice};
        manager.start();
        QTRY_COMPARE_WITH_TIMEOUT(manager.getDevices().size(), 1, 5000);
        UsbDevice *device = manager.getDevices().first();
        uint8_t command[64] = {100, 3, 3};
        device->write(command, false);
        QTRY_VERIFY_WITH_TIMEOUT(wheel->failedWriteCount() >= 3, 3000);
        // Reports still flow while the writes fail.
        QSignalSpy updates(qobject_cast<UsbDeviceZudWheelBase *>(device),
                           &UsbDeviceZudWheelBase::onJoystickUpdate);
        wheel->inject(report(1));
        QTRY_COMPARE_WITH_TIMEOUT(updates.count(), 1, 3000);
    }
};

QTEST_GUILESS_MAIN(TestUsbManager)
#include "tst_usbmanager.moc"
