// SPDX-License-Identifier: GPL-3.0-or-later
// The bootloader device against the emulated bootloader, through UsbManager
// and its reader thread: the checksum, the command reports, the acknowledged
// chunk transfer and what happens when the device misbehaves.
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/ZudDeviceFactory.h"
#include "simulator/BootloaderEmulator.h"
#include "usb/UsbManager.h"

#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <map>
#include <random>

using emu::BootloaderEmulator;
using emu::BootloaderEmulatorPtr;

namespace {

constexpr int waitMs = 30000;
// Long enough for two retries of a chunk that is still awaiting its answer.
constexpr int quietMs = 450;

QByteArray randomImage(int size, uint32_t seed)
{
    std::mt19937 rng(seed);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(rng() & 0xFF);
    return bytes;
}

QByteArray padded(QByteArray bytes)
{
    if (bytes.size() % 32)
        bytes.append(QByteArray(32 - bytes.size() % 32, '\0'));
    return bytes;
}

QByteArray bytesOf(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

QByteArray bytesOf(const ZudUsbReport &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data), zudUsbReportSize);
}

// A 64-byte report from (offset, byte) pairs; every other byte is zero.
QByteArray reportWith(std::initializer_list<std::pair<int, uint8_t>> bytes)
{
    QByteArray r(zudUsbReportSize, '\0');
    for (const auto &b : bytes)
        r[b.first] = char(b.second);
    return r;
}

int chunkIndexOf(const vhid::Report &r)
{
    return int16_t(uint16_t(r[34] | r[35] << 8));
}

void setChunkIndex(uint8_t *ack, int index)
{
    ack[34] = uint8_t(index);
    ack[35] = uint8_t(uint16_t(index) >> 8);
}

// Every firmware signal of one device, in the order emitted.
struct Recorder {
    QStringList events;
    QList<int> progress;
    QStringList failures;
    int completed = 0;

    void attach(UsbDeviceZudBootloader *device)
    {
        QObject::connect(device, &UsbDeviceZudBootloader::onFirmwareUpdateStarted,
                         [this](int n) { events << QString("started %1").arg(n); });
        QObject::connect(device, &UsbDeviceZudBootloader::onFirmwareUpdateProgress,
                         [this](int i, int n) {
                             progress << i;
                             events << QString("progress %1/%2").arg(i).arg(n);
                         });
        QObject::connect(device, &UsbDeviceZudBootloader::onUpdateCompleted,
                         [this, device](UsbDevice *d) {
                             QCOMPARE(d, device);
                             ++completed;
                             events << "completed";
                         });
        QObject::connect(device, &UsbDeviceZudBootloader::onUpdateFailed,
                         [this, device](UsbDevice *d, QString message) {
                             QCOMPARE(d, device);
                             failures << message;
                             events << "failed";
                         });
    }
    bool finished() const { return completed + failures.size() > 0; }
};

// Runs the event loop until done() holds or the time is up. Unlike the
// QTRY macros, which sleep between rounds, it handles every report as soon
// as the reader thread hands it over.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = waitMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || elapsed.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done();
}

} // namespace

class TestBootloader : public QObject {
    Q_OBJECT

    std::unique_ptr<UsbManager> manager;

    std::map<const BootloaderEmulator *, size_t> writesBefore;
    // Kept until the manager has stopped, so that no device leaves the bus
    // while a test ends.
    std::vector<BootloaderEmulatorPtr> connected;

    // Plugs the emulator and lets the manager open it, then waits for one
    // settings exchange, which shows that the reader thread reads it.
    UsbDeviceZudBootloader *connectTo(const BootloaderEmulatorPtr &emulator)
    {
        manager->rescanForZudDevices();
        const QString id = QString::fromStdString(emulator->device()->path());
        auto *device = qobject_cast<UsbDeviceZudBootloader *>(manager->getDevice(id));
        if (!device)
            return nullptr;
        connected.push_back(emulator);
        QSignalSpy loaded(device, &UsbDeviceZudBootloader::onSettingsLoaded);
        device->loadSettings();
        if (!waitUntil([&] { return loaded.count() > 0; }))
            return nullptr;
        emulator->device()->clearWritten();
        writesBefore[emulator.get()] = emulator->device()->writeCount();
        return device;
    }

    // Reports the host wrote to the emulator since it was connected.
    int hostWrites(const BootloaderEmulatorPtr &emulator)
    {
        return int(emulator->device()->writeCount() - writesBefore[emulator.get()]);
    }

    // Transfers the image and waits for the end; the reassembled image must
    // be the padded original.
    void transfer(const QByteArray &image, const BootloaderEmulatorPtr &emulator,
                  UsbDeviceZudBootloader *device, Recorder &rec)
    {
        rec.attach(device);
        device->updateFirmware(image);
        QVERIFY(waitUntil([&] { return rec.finished(); }));
        QCOMPARE(rec.failures, QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(emulator->transferEnded(), waitMs);
        const int n = padded(image).size() / 32;
        QCOMPARE(emulator->totalChunks(), n);
        QCOMPARE(emulator->missingChunks(), 0);
        QVERIFY(bytesOf(emulator->image()) == padded(image));
        QCOMPARE(emulator->crcMismatches(), 0);
        QCOMPARE(emulator->tailMismatches(), 0);
        QCOMPARE(emulator->malformedChunks(), 0);
    }

private slots:
    void init()
    {
        manager = std::make_unique<UsbManager>(createZudDevice);
        manager->start();
    }

    void cleanup()
    {
        manager.reset();
        connected.clear();
        writesBefore.clear();
        vhid::unplugAll();
    }

    void crcCheckValues()
    {
        const uint8_t abcd[] = {'a', 'b', 'c', 'd'};
        QCOMPARE(firmwareCrc(abcd, 4), 0xA62F1C36u);
        const uint8_t zeros[32] = {};
        QCOMPARE(firmwareCrc(zeros, 32), 0x4A55AF67u);
        QCOMPARE(emu::bootloaderCrc(abcd, 4), 0xA62F1C36u);

        // A trailing partial word is not part of the checksum; no data at
        // all leaves the initial value.
        const uint8_t abcde[] = {'a', 'b', 'c', 'd', 'e'};
        QCOMPARE(firmwareCrc(abcde, 5), 0xA62F1C36u);
        QCOMPARE(firmwareCrc(abcd, 0), 0xFFFFFFFFu);

        // At any alignment, the tool and the bootloader agree, and every
        // single-bit change of a chunk changes the checksum.
        const QByteArray data = randomImage(64 + 3, 7);
        for (int offset = 0; offset < 4; ++offset) {
            const auto *p = reinterpret_cast<const uint8_t *>(data.constData()) + offset;
            QCOMPARE(firmwareCrc(p, 32), emu::bootloaderCrc(p, 32));
            uint8_t copy[32];
            std::memcpy(copy, p, 32);
            for (int bit = 0; bit < 256; ++bit) {
                copy[bit / 8] ^= uint8_t(1 << (bit % 8));
                QVERIFY(firmwareCrc(copy, 32) != firmwareCrc(p, 32));
                copy[bit / 8] ^= uint8_t(1 << (bit % 8));
            }
        }
    }

    void commandReports()
    {
        // Report builders, byte for byte.
        QCOMPARE(bytesOf(ZudBootloaderReports::exitBootloader()),
                 reportWith({{0, 100}, {1, 8}, {2, 2}, {3, 1}}));
        QCOMPARE(bytesOf(ZudBootloaderReports::resetToFactoryDefaults()),
                 reportWith({{0, 100}, {1, 8}, {2, 2}, {5, 1}}));
        QCOMPARE(bytesOf(ZudBootloaderReports::loadSettings()),
                 reportWith({{0, 100}, {1, 3}, {2, 2}}));
        QCOMPARE(bytesOf(ZudBootloaderReports::firmwareEnd(0)), reportWith({{0, 100}, {1, 1}}));
        QCOMPARE(bytesOf(ZudBootloaderReports::firmwareEnd(1200)),
                 reportWith({{0, 100}, {1, 1}, {34, 0xB0}, {35, 0x04}, {36, 0xB0}, {37, 0x04}}));
        QCOMPARE(bytesOf(ZudBootloaderReports::firmwareEnd(32767)),
                 reportWith({{0, 100}, {1, 1}, {34, 0xFF}, {35, 0x7F}, {36, 0xFF}, {37, 0x7F}}));

        // Chunk reports of a 33-byte image 0x01..0x21 (two chunks): chunk 0
        // has no tail, chunk 1 carries byte 32, then zeros, and bytes 16..31
        // as its tail.
        QByteArray image;
        for (int i = 1; i <= 33; ++i)
            image.append(char(i));
        const QByteArray full = padded(image);
        const auto *p = reinterpret_cast<const uint8_t *>(full.constData());
        const QByteArray chunk0 = bytesOf(ZudBootloaderReports::firmwareChunk(p, 2, 0));
        QByteArray expected0 = reportWith({{0, 100}, {1, 1}, {36, 2}});
        expected0.replace(2, 32, full.mid(0, 32));
        const uint32_t crc0 = firmwareCrc(p, 32);
        for (int i = 0; i < 4; ++i)
            expected0[38 + i] = char(crc0 >> (8 * i));
        QCOMPARE(chunk0, expected0);

        const QByteArray chunk1 = bytesOf(ZudBootloaderReports::firmwareChunk(p, 2, 1));
        QByteArray expected1 = reportWith({{0, 100}, {1, 1}, {2, 33}, {34, 1}, {36, 2}, {42, 1}});
        const uint32_t crc1 = firmwareCrc(p + 32, 32);
        for (int i = 0; i < 4; ++i)
            expected1[38 + i] = char(crc1 >> (8 * i));
        expected1.replace(43, 16, image.mid(16, 16));
        QCOMPARE(chunk1, expected1);

        // The device sends exactly these reports, and waits for an answer
        // only to the settings request.
        auto emulator = BootloaderEmulator::plug();
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        const auto &bus = emulator->device();
        device->exitBootloader(); // the emulator leaves the bus on this one
        QVERIFY(!device->isRetryArmed());
        QCOMPARE(bytesOf(bus->writtenReports().at(0)),
                 bytesOf(ZudBootloaderReports::exitBootloader()));

        auto second = BootloaderEmulator::plug();
        device = connectTo(second);
        QVERIFY(device);
        device->resetToFactoryDefaults();
        QVERIFY(!device->isRetryArmed());
        second->device()->setWriteHandler(nullptr); // no answer to the settings request
        device->loadSettings();
        QVERIFY(device->isRetryArmed());
        const auto written = second->device()->writtenReports();
        QCOMPARE(int(written.size()), 2);
        QCOMPARE(bytesOf(written[0]), bytesOf(ZudBootloaderReports::resetToFactoryDefaults()));
        QCOMPARE(bytesOf(written[1]), bytesOf(ZudBootloaderReports::loadSettings()));
    }

    void settingsAndReset()
    {
        BootloaderEmulator::Config config;
        config.deviceInfo1 = 0xCAFEF00D;
        config.deviceInfo2 = 0xBEEF;
        config.deviceInfo3 = 0x7E;
        std::atomic<int> applications{0};
        config.restartApplication = [&applications] {
            ++applications;
            vhid::plug({0x0483, 0xA355, L"ZUD Wheel Base", ""});
        };
        auto emulator = BootloaderEmulator::plug(config);
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);

        QSignalSpy loaded(device, &UsbDeviceZudBootloader::onSettingsLoaded);
        device->loadSettings();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, waitMs);
        QCOMPARE(loaded.at(0).at(0).value<UsbDevice *>(), static_cast<UsbDevice *>(device));
        QCOMPARE(device->deviceInfo1, 0xCAFEF00Du);
        QCOMPARE(device->deviceInfo2, uint16_t(0xBEEF));
        QCOMPARE(device->deviceInfo3, uint8_t(0x7E));
        QVERIFY(!device->isRetryArmed());

        // A factory reset keeps the device in the bootloader.
        device->resetToFactoryDefaults();
        QCOMPARE(emulator->factoryResets(), 1);
        QVERIFY(emulator->device()->isPlugged());
        QCOMPARE(applications.load(), 0);

        // Exit: the bootloader leaves, the application comes back.
        QSignalSpy gone(manager.get(), &UsbManager::onDeviceDisconnected);
        device->exitBootloader();
        QCOMPARE(emulator->restarts(), 1);
        QCOMPARE(applications.load(), 1);
        QVERIFY(!emulator->device()->isPlugged());
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            !manager->getDevices().isEmpty() &&
                qobject_cast<UsbDeviceZudBootloader *>(manager->getDevices().first()) == nullptr,
            waitMs);
    }

    void transfers_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("frameModel");
        QTest::addColumn<int>("replyReportId");
        QTest::newRow("empty") << 0 << false << 2;
        QTest::newRow("33 bytes") << 33 << false << 2;
        QTest::newRow("64 bytes") << 64 << false << 2;
        QTest::newRow("one chunk short of a chunk") << 31 << false << 2;
        QTest::newRow("largest image, random") << 32767 * 32 << false << 2;
        QTest::newRow("USB frame model") << 200 << true << 2;
        // Answers with a joystick report id never stop the retry; the
        // transfer must still end quietly after its end report.
        QTest::newRow("answers as joystick reports") << 200 << false << 1;
    }

    void transfers()
    {
        QFETCH(int, size);
        QFETCH(bool, frameModel);
        QFETCH(int, replyReportId);
        const QByteArray image = randomImage(size, uint32_t(size) + 1);
        BootloaderEmulator::Config config;
        config.usbFrameLatency = frameModel;
        config.replyReportId = uint8_t(replyReportId);
        auto emulator = BootloaderEmulator::plug(config);
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        Recorder rec;
        transfer(image, emulator, device, rec);
        if (QTest::currentTestFailed())
            return;

        // Started with the count, progress 0..n, then one completion.
        const int n = padded(image).size() / 32;
        QCOMPARE(rec.events.first(), QString("started %1").arg(n));
        QCOMPARE(rec.events.last(), QString("completed"));
        QCOMPARE(rec.events.size(), n + 3);
        QCOMPARE(rec.progress.size(), n + 1);
        for (int i = 0; i <= n; ++i)
            QCOMPARE(rec.progress.at(i), i);
        QCOMPARE(rec.completed, 1);

        // One report per chunk and one end report, and only the end report
        // is not waiting for an answer.
        QTest::qWait(quietMs);
        QCOMPARE(emulator->endReports(), 1);
        if (n < 100) { // a long run on a loaded machine may see a retry
            QCOMPARE(emulator->chunkReports(), n);
            QCOMPARE(hostWrites(emulator), n + 1);
        }
        QVERIFY(!device->isRetryArmed());
        if (n == 0) // the end report of an empty image: both counts 0
            QCOMPARE(bytesOf(emulator->device()->writtenReports().at(0)),
                     reportWith({{0, 100}, {1, 1}}));
    }

    void crcFailureStopsTheTransfer()
    {
        auto emulator = BootloaderEmulator::plug();
        emulator->corruptCrc(2);
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        Recorder rec;
        rec.attach(device);
        device->updateFirmware(randomImage(10 * 32, 3));
        QTRY_VERIFY_WITH_TIMEOUT(rec.finished(), waitMs);
        QCOMPARE(rec.failures, QStringList{"CRC failed on chunk 2 of 10"});
        QCOMPARE(rec.completed, 0);
        QCOMPARE(rec.progress, (QList<int>{0, 1, 2}));

        // Nothing follows: no next chunk, no retry, no end report.
        QTest::qWait(quietMs);
        QCOMPARE(emulator->chunkReports(), 3);
        QCOMPARE(emulator->endReports(), 0);
        QCOMPARE(hostWrites(emulator), 3);
        QVERIFY(!device->isRetryArmed());
    }

    void lostAndRepeatedAcknowledgements_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("duplicated") << 0;
        QTest::newRow("dropped") << 1;
        QTest::newRow("late, after the retry") << 2;
    }

    void lostAndRepeatedAcknowledgements()
    {
        QFETCH(int, fault);
        auto emulator = BootloaderEmulator::plug();
        if (fault == 0)
            emulator->duplicateAcknowledgement(1);
        else if (fault == 1)
            emulator->dropAcknowledgements(1, 2);
        else
            emulator->setAcknowledgementDelay(std::chrono::milliseconds(250));
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        const QByteArray image = randomImage(5 * 32 + 9, 11);
        Recorder rec;
        transfer(image, emulator, device, rec);
        if (QTest::currentTestFailed())
            return;

        // The image arrives whole and the end is announced once, even when
        // answers to chunks already answered keep coming.
        QTest::qWait(quietMs);
        QCOMPARE(rec.completed, 1);
        QCOMPARE(rec.events.last(), QString("completed"));
        QCOMPARE(emulator->endReports(), 1);
        QVERIFY(bytesOf(emulator->image()) == padded(image));

        QList<int> sent;
        for (const vhid::Report &r : emulator->device()->writtenReports())
            sent << chunkIndexOf(r);
        QCOMPARE(sent.last(), 6); // the end report
        QCOMPARE(sent.count(6), 1);
        if (fault == 0) // the chunk after the duplicated answer goes twice
            QCOMPARE(sent.mid(0, 4), (QList<int>{0, 1, 2, 2}));
        if (fault == 1) // the unanswered chunk is sent again until answered
            QCOMPARE(sent.mid(0, 5), (QList<int>{0, 1, 1, 1, 2}));
        if (fault == 2) // each answer comes after a retry: every chunk twice
            QCOMPARE(sent.mid(0, 2), (QList<int>{0, 0}));
    }

    void unplugDuringTransfer()
    {
        auto emulator = BootloaderEmulator::plug();
        emulator->unplugAfterChunk(5);
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        QPointer<UsbDeviceZudBootloader> watched(device);
        Recorder rec;
        rec.attach(device);
        QSignalSpy gone(manager.get(), &UsbManager::onDeviceDisconnected);
        device->updateFirmware(randomImage(20 * 32, 5));
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), waitMs);
        QVERIFY(manager->getDevices().isEmpty());
        // The transfer neither completed nor failed: the device went away.
        QCOMPARE(rec.completed, 0);
        QCOMPARE(rec.failures, QStringList());
        QCOMPARE(rec.progress.last(), 5);
        QCOMPARE(emulator->chunkReports(), 6);
    }

    void acknowledgementOutsideTheImage_data()
    {
        QTest::addColumn<int>("acknowledged");
        QTest::addColumn<int>("reportId");
        QTest::addColumn<QString>("message");
        const QString text("Bootloader acknowledged chunk %1, which is outside the image of 4 "
                           "chunks");
        QTest::newRow("negative") << -1 << 2 << text.arg(-1);
        QTest::newRow("most negative") << -32768 << 2 << text.arg(-32768);
        QTest::newRow("the chunk count") << 4 << 2 << text.arg(4);
        QTest::newRow("largest") << 32767 << 2 << text.arg(32767);
        // Sent with a joystick report id, the answer leaves the retry armed;
        // the failure must still stop it.
        QTest::newRow("as joystick report") << 4 << 1 << text.arg(4);
    }

    void acknowledgementOutsideTheImage()
    {
        QFETCH(int, acknowledged);
        QFETCH(int, reportId);
        QFETCH(QString, message);
        auto emulator = BootloaderEmulator::plug();
        // The answer to chunk 1 names another chunk, with a sound CRC.
        emulator->setAcknowledgementFilter([=](uint8_t *ack) {
            if (chunkIndexOf(vhid::Report(ack, ack + 64)) == 1) {
                setChunkIndex(ack, acknowledged);
                ack[0] = uint8_t(reportId);
            }
        });
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        Recorder rec;
        rec.attach(device);
        device->updateFirmware(randomImage(4 * 32, 17));
        QTRY_VERIFY_WITH_TIMEOUT(rec.finished(), waitMs);
        QCOMPARE(rec.failures, QStringList{message});
        QCOMPARE(rec.events, (QStringList{"started 4", "progress 0/4", "progress 1/4", "failed"}));
        QVERIFY(!device->isRetryArmed());
        QTest::qWait(quietMs);
        QCOMPARE(hostWrites(emulator), 2);
        QCOMPARE(emulator->endReports(), 0);
    }

    void imageTooLarge()
    {
        auto emulator = BootloaderEmulator::plug();
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        Recorder rec;
        rec.attach(device);
        // One byte more than the largest image: 32768 chunks.
        device->updateFirmware(QByteArray(32767 * 32 + 1, '\x5A'));
        QCOMPARE(rec.events, (QStringList{"started 32768", "progress 0/32768", "failed"}));
        QCOMPARE(rec.failures.size(), 1);
        QCOMPARE(rec.failures.first(),
                 QString("Firmware image too large: 1048545 bytes make 32768 chunks; the "
                         "bootloader accepts at most 32767 chunks of 32 bytes (1048544 bytes)"));
        QCOMPARE(hostWrites(emulator), 0);
        QVERIFY(!device->isRetryArmed());

        // The device is still usable for an image that fits.
        Recorder second;
        transfer(randomImage(100, 23), emulator, device, second);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(second.completed, 1);
    }

    void strayAcknowledgements()
    {
        auto emulator = BootloaderEmulator::plug();
        UsbDeviceZudBootloader *device = connectTo(emulator);
        QVERIFY(device);
        Recorder rec;
        rec.attach(device);

        // Before any transfer an acknowledgement, good or bad, is ignored.
        ZudUsbReport ack = ZudBootloaderReports::firmwareChunk(
            reinterpret_cast<const uint8_t *>(randomImage(64, 1).constData()), 2, 0);
        ack.data[0] = 2;
        emulator->device()->inject(ack.data, 64);
        ack.data[38] ^= 1;
        emulator->device()->inject(ack.data, 64);
        QTest::qWait(quietMs);
        QCOMPARE(hostWrites(emulator), 0);
        QVERIFY(rec.events.isEmpty());

        // After completion and after a failure, a late answer to the last
        // chunk neither resumes the transfer nor ends it again.
        Recorder done;
        const QByteArray image = randomImage(64, 2);
        transfer(image, emulator, device, done);
        if (QTest::currentTestFailed())
            return;
        const int written = hostWrites(emulator);
        ZudUsbReport last = ZudBootloaderReports::firmwareChunk(
            reinterpret_cast<const uint8_t *>(image.constData()), 2, 1);
        emulator->device()->inject(last.data, 64);
        ZudUsbReport first = ZudBootloaderReports::firmwareChunk(
            reinterpret_cast<const uint8_t *>(image.constData()), 2, 0);
        emulator->device()->inject(first.data, 64);
        QTest::qWait(quietMs);
        QCOMPARE(hostWrites(emulator), written);
        QCOMPARE(done.completed, 1);
        QCOMPARE(done.failures, QStringList());

        // Out of range through the public chunk sender: refused, no read.
        device->sendChunk(3);
        QCOMPARE(done.failures, QStringList{"Firmware chunk 3 is outside the image of 2 chunks"});
        device->sendChunk(-1);
        QCOMPARE(done.failures.size(), 2);
        QCOMPARE(hostWrites(emulator), written);
    }
};

QTEST_GUILESS_MAIN(TestBootloader)
#include "tst_bootloader.moc"
