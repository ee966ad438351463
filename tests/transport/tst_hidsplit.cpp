// SPDX-License-Identifier: GPL-3.0-or-later
// The split-phase read layer on the virtual bus, whose handles read a
// SOCK_SEQPACKET socket with the same code that reads a hidraw node.
#include "TestSupport.h"
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"

#include <QtTest>
#include <sys/socket.h>
#include <unistd.h>

using namespace testing;

class TestHidSplit : public QObject {
    Q_OBJECT

    hid_device *openDevice(const vhid::DevicePtr &device)
    {
        hid_device *h = hid_open_path(device->path().c_str());
        return h;
    }

    // Waits for the single handle and collects what it delivers.
    int waitAndFinish(hid_device *h, unsigned char *buffer, size_t length, int timeoutMs = 2000)
    {
        const int fd = hid_read_begin(h);
        if (fd < 0)
            return -1;
        if (hid_wait_any(&fd, 1, timeoutMs) != 0)
            return -2;
        return hid_read_finish(h, buffer, length);
    }

private slots:
    void cleanup() { vhid::unplugAll(); }

    void beginTwiceStartsOneRead()
    {
        auto device = plugWheelBase();
        hid_device *h = openDevice(device);
        QVERIFY(h);
        const int first = hid_read_begin(h);
        QVERIFY(first >= 0);
        QCOMPARE(hid_read_begin(h), first);

        unsigned char buffer[64];
        // Nothing arrived yet: the read stays outstanding.
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 0);
        device->inject(report(1, 0x11223344));
        QCOMPARE(hid_wait_any(&first, 1, 2000), 0);
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 0x11223344u);
        // The one read is used up: without a new begin there is nothing to collect,
        // and the next report is not consumed by a phantom second read.
        device->inject(report(1, 2));
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 0);
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 2u);
        hid_close(h);
    }

    void reportIdRuleAsReadOnHidraw()
    {
        auto device = plugWheelBase();
        hid_device *h = openDevice(device);
        unsigned char buffer[64];

        // A numbered report keeps its id in byte 0.
        device->inject(report(101, 7));
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(int(buffer[0]), 101);
        QCOMPARE(marker(buffer), 7u);

        // hidraw adds no zero to unnumbered reports: a first data byte of 0
        // is data and stays.
        vhid::Report unnumbered = report(0, 0xA1B2C3D4);
        device->inject(unnumbered);
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(int(buffer[0]), 0);
        QCOMPARE(marker(buffer), 0xA1B2C3D4u);

        // A longer report is cut to the destination; a shorter one keeps its length.
        vhid::Report longReport = report(5, 9, 65);
        longReport[64] = 0xEE;
        device->inject(longReport);
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(int(buffer[0]), 5);
        device->inject(report(1, 3, 10));
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 10);
        hid_close(h);
    }

    void reportCopyWithPlatformZero()
    {
        uint8_t withZero[65] = {0, 1, 2, 3};
        auto c = hidsplit::reportCopy(withZero, 65, 64, true);
        QCOMPARE(c.offset, size_t(1));
        QCOMPARE(c.count, size_t(64));
        uint8_t numbered[65] = {7, 1, 2, 3};
        c = hidsplit::reportCopy(numbered, 65, 64, true);
        QCOMPARE(c.offset, size_t(0));
        QCOMPARE(c.count, size_t(64)); // the last byte is lost
        c = hidsplit::reportCopy(withZero, 1, 64, true);
        QCOMPARE(c.count, size_t(0));
        c = hidsplit::reportCopy(withZero, 65, 64, false);
        QCOMPARE(c.offset, size_t(0));
        QCOMPARE(c.count, size_t(64));
    }

    void unplugDeliversQueuedReportsThenFails()
    {
        auto device = plugWheelBase();
        hid_device *h = openDevice(device);
        QVERIFY(hid_read_begin(h) >= 0); // outstanding while the device goes
        device->inject(report(1, 1));
        device->inject(report(1, 2));
        device->unplug();
        unsigned char buffer[64];
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 1u);
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 2u);
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), -1);
        QCOMPARE(hid_write(h, buffer, 64), -1);
        hid_close(h);
    }

    void cancelLeavesQueuedReports()
    {
        auto device = plugWheelBase();
        hid_device *h = openDevice(device);
        unsigned char buffer[64];
        QCOMPARE(hid_read_cancel(h), 0); // idle: nothing changes
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 0);

        QVERIFY(hid_read_begin(h) >= 0);
        device->inject(report(1, 5));
        QCOMPARE(hid_read_cancel(h), 0);
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 0); // no read outstanding
        QCOMPARE(waitAndFinish(h, buffer, sizeof buffer), 64);  // the report is still there
        QCOMPARE(marker(buffer), 5u);
        hid_close(h);
    }

    void waitAnyLowestReadyFirst()
    {
        vhid::DevicePtr devices[3] = {plugWheelBase(), plugWheelBase(), plugWheelBase()};
        hid_device *handles[3];
        int fds[3];
        for (int i = 0; i < 3; ++i) {
            handles[i] = openDevice(devices[i]);
            fds[i] = hid_read_begin(handles[i]);
        }
        QCOMPARE(hid_wait_any(fds, 3, 10), HID_WAIT_TIMEOUT);
        QCOMPARE(hid_wait_any(fds, 0, 10), HID_WAIT_FAILED);

        devices[2]->inject(report(1, 2));
        devices[1]->inject(report(1, 1));
        unsigned char buffer[64];
        QCOMPARE(hid_wait_any(fds, 3, 2000), 1);
        QCOMPARE(hid_read_finish(handles[1], buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 1u);
        // The other ready handle was not consumed by the first wait.
        fds[1] = hid_read_begin(handles[1]);
        QCOMPARE(hid_wait_any(fds, 3, 2000), 2);
        QCOMPARE(hid_read_finish(handles[2], buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 2u);
        for (hid_device *h : handles)
            hid_close(h);
    }

    void readStateDoesNotOutliveItsHandle()
    {
        const size_t before = hidsplit::attachedCount();
        int first[2], second[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, first), 0);
        QCOMPARE(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, second), 0);
        // Any address will do: the layer never dereferences the handle.
        int storage = 0;
        auto *handle = reinterpret_cast<hid_device *>(&storage);

        hidsplit::attach(handle, first[0]);
        QCOMPARE(hid_read_begin(handle), first[0]);
        hidsplit::detach(handle);
        QCOMPARE(hid_read_begin(handle), -1);

        // A new handle at the same address starts idle on its own descriptor.
        hidsplit::attach(handle, second[0]);
        unsigned char buffer[64];
        unsigned char data[64] = {1, 42};
        QCOMPARE(int(::send(first[1], data, 64, 0)), -1); // the old descriptor was closed
        QCOMPARE(int(::send(second[1], data, 64, 0)), 64);
        QCOMPARE(hid_read_finish(handle, buffer, sizeof buffer), 0);
        QCOMPARE(hid_read_begin(handle), second[0]);
        QCOMPARE(hid_read_finish(handle, buffer, sizeof buffer), 64);
        QCOMPARE(int(buffer[1]), 42);
        hidsplit::detach(handle);
        ::close(first[1]);
        ::close(second[1]);
        QCOMPARE(hidsplit::attachedCount(), before);
    }

    void hidReadSharesTheOutstandingRead()
    {
        auto device = plugWheelBase();
        hid_device *h = openDevice(device);
        hid_set_nonblocking(h, 1);
        unsigned char buffer[64];
        QCOMPARE(hid_read(h, buffer, sizeof buffer), 0);
        // hid_read left a read outstanding; the split-phase side collects it.
        device->inject(report(1, 77));
        const int fd = hid_read_begin(h);
        QCOMPARE(hid_wait_any(&fd, 1, 2000), 0);
        QCOMPARE(hid_read_finish(h, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 77u);
        // And the other way round.
        QVERIFY(hid_read_begin(h) >= 0);
        device->inject(report(1, 78));
        QCOMPARE(hid_read_timeout(h, buffer, sizeof buffer, 2000), 64);
        QCOMPARE(marker(buffer), 78u);
        hid_close(h);
    }

    void everyOpenHandleGetsEveryReport()
    {
        auto device = plugWheelBase();
        hid_device *a = openDevice(device);
        hid_device *b = openDevice(device);
        QCOMPARE(device->openHandleCount(), 2);
        device->inject(report(1, 9));
        unsigned char buffer[64];
        QCOMPARE(waitAndFinish(a, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 9u);
        QCOMPARE(waitAndFinish(b, buffer, sizeof buffer), 64);
        QCOMPARE(marker(buffer), 9u);
        hid_close(a);
        hid_close(b);
        QCOMPARE(device->openHandleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHidSplit)
#include "tst_hidsplit.moc"
