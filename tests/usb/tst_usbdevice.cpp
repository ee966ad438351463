// SPDX-License-Identifier: GPL-3.0-or-later
// UsbDevice: product string and serial number, the write that is retried every 200 ms until
// the device answers with anything but a joystick report.
#include "TestSupport.h"
#include "usb/UsbDevice.h"

#include <QtTest>
#include <memory>

using namespace testing;

class TestUsbDevice : public QObject {
    Q_OBJECT

    vhid::DevicePtr device;
    std::unique_ptr<UsbDevice> usb;

    void open(const std::wstring &product = L"ZUD Wheel Base")
    {
        device = plugDevice(0xA355, product);
        hid_device *h = hid_open_path(device->path().c_str());
        QVERIFY(h);
        usb = std::make_unique<UsbDevice>(QString::fromStdString(device->path()), h);
    }

    static vhid::Report command(uint8_t code)
    {
        vhid::Report r(64, 0);
        r[0] = 100;
        r[1] = code;
        r[2] = 3;
        return r;
    }

private slots:
    void cleanup()
    {
        usb.reset();
        vhid::unplugAll();
        device.reset();
    }

    void identity()
    {
        open(L"ZUD Wheel Base");
        QCOMPARE(usb->getProductString(), QString("ZUD Wheel Base"));
        QCOMPARE(usb->getId(), QString::fromStdString(device->path()));
        QVERIFY(usb->getSerialNumber().isEmpty());
        cleanup();

        // The serial number, from the handle and in the enumeration.
        vhid::DeviceConfig config;
        config.serialNumber = L"ZWB-42";
        device = vhid::plug(config);
        usb = std::make_unique<UsbDevice>("x", hid_open_path(device->path().c_str()));
        QCOMPARE(usb->getSerialNumber(), QString("ZWB-42"));
        hid_device_info *info = hid_enumerate(0x0483, 0xA355);
        QVERIFY(info && info->serial_number);
        QCOMPARE(QString::fromWCharArray(info->serial_number), QString("ZWB-42"));
        hid_free_enumeration(info);
        cleanup();

        // A failed query still gives a device, with an empty product string.
        device = plugWheelBase();
        device->setProductStringFails(true);
        usb = std::make_unique<UsbDevice>("x", hid_open_path(device->path().c_str()));
        QVERIFY(usb->getProductString().isEmpty());
        cleanup();

        open(std::wstring(300, L'W'));
        QCOMPARE(usb->getProductString().size(), 255);
        // The destructor closes the handle.
        usb.reset();
        QCOMPARE(device->openHandleCount(), 0);
    }

    void retriesUntilAnswered()
    {
        open();
        const vhid::Report load = command(3);
        usb->write(load.data(), true);
        QCOMPARE(device->writeCount(), size_t(1));
        QVERIFY(usb->isRetryArmed());
        QTRY_VERIFY_WITH_TIMEOUT(device->writeCount() >= 3, 3000);
        for (const vhid::Report &r : device->writtenReports())
            QCOMPARE(r, load);

        // Joystick reports are no answer.
        usb->handleReport(report(1).data(), 0);
        QVERIFY(usb->isRetryArmed());
        // Any other report is.
        usb->handleReport(report(101).data(), 0);
        QVERIFY(!usb->isRetryArmed());
        const size_t sent = device->writeCount();
        QTest::qWait(450);
        QCOMPARE(device->writeCount(), sent);

        // A bootloader reply counts whatever its id byte.
        usb->write(load.data(), true);
        usb->handleReport(report(0).data(), 0);
        QVERIFY(!usb->isRetryArmed());
    }

    void unansweredWriteReplacedByNewerReport()
    {
        open();
        const vhid::Report first = command(3);
        const vhid::Report second = command(8);
        usb->write(first.data(), true);
        usb->write(second.data(), false);
        QVERIFY(usb->isRetryArmed()); // the pending retry stays
        device->clearWritten();
        QTRY_VERIFY_WITH_TIMEOUT(device->writeCount() >= 3, 3000);
        const auto written = device->writtenReports();
        QVERIFY(!written.empty());
        QCOMPARE(written.back(), second); // the newer report is what is re-sent
        QVERIFY(usb->isRetryArmed());     // now expecting an answer
    }

    void failedWriteArmsRetry()
    {
        open();
        device->setWriteFails(true);
        const vhid::Report reset = command(8);
        usb->write(reset.data(), false);
        QVERIFY(usb->isRetryArmed());
        QCOMPARE(device->writeCount(), size_t(0));
        device->setWriteFails(false);
        QTRY_COMPARE_WITH_TIMEOUT(device->writeCount(), size_t(1), 3000);
        QCOMPARE(device->writtenReports().front(), reset);
        QVERIFY(usb->isRetryArmed()); // the re-send expects an answer

        // A device that fails every write keeps getting the report, and
        // writing never blocks.
        device->setWriteFails(true);
        QTRY_VERIFY_WITH_TIMEOUT(device->failedWriteCount() >= 3, 3000);
    }

    void readIsNonBlocking()
    {
        open();
        hid_set_nonblocking(usb->getHidDevice(), 1);
        uint8_t buffer[64];
        QCOMPARE(usb->read(buffer), 0);
        device->inject(report(1, 4));
        QCOMPARE(readWithin(buffer), 64);
        QCOMPARE(marker(buffer), 4u);
        device->unplug();
        QCOMPARE(readWithin(buffer), -1);
    }

private:
    // The first non-zero result of read() within two seconds.
    int readWithin(uint8_t *buffer)
    {
        QElapsedTimer timer;
        timer.start();
        int got = 0;
        while ((got = usb->read(buffer)) == 0 && timer.elapsed() < 2000)
            QTest::qWait(5);
        return got;
    }
};

QTEST_GUILESS_MAIN(TestUsbDevice)
#include "tst_usbdevice.moc"
