// SPDX-License-Identifier: GPL-3.0-or-later
// A manager with one emulated device on the virtual bus, driven either by
// direct passes on the test's thread (every step explicit, no timers run)
// or by a started manager and its reader thread.
#pragma once

#include "devices/ZudDeviceFactory.h"
#include "simulator/VirtualHidBus.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTest>
#include <functional>
#include <memory>

template <typename Emulator, typename Device> class DeviceRig {
public:
    enum Mode { DirectPasses, ReaderThread };

    DeviceRig(typename Emulator::Config config, Mode mode, uint16_t productId)
        : emulator(Emulator::plug(std::move(config))), mode(mode)
    {
        if (mode == ReaderThread)
            manager.start();
        QMetaObject::invokeMethod(&manager, "doRescanForZudDevices", Qt::DirectConnection,
                                  Q_ARG(uint16_t, ZudUsbIds::vendorId), Q_ARG(uint16_t, productId));
        for (UsbDevice *d : manager.getDevices())
            if (auto *typed = qobject_cast<Device *>(d))
                device = typed;
    }
    ~DeviceRig()
    {
        manager.stop();
        emulator.reset();
        vhid::unplugAll();
    }

    // One reader pass on this thread, then the reports it queued.
    void pass()
    {
        QMetaObject::invokeMethod(&manager, "tryReadFromZudDevices", Qt::DirectConnection);
        QCoreApplication::sendPostedEvents();
    }
    // Direct passes, or the event loop with the reader thread running,
    // until done() holds or the bound is reached.
    bool runUntil(const std::function<bool()> &done, int timeoutMs = 20000)
    {
        if (mode == ReaderThread)
            return QTest::qWaitFor(done, timeoutMs);
        for (int i = 0; i < 5000 && !done(); ++i)
            pass();
        return done();
    }
    // Passes that should change nothing more.
    void settle(int passes = 20)
    {
        if (mode == ReaderThread) {
            QTest::qWait(300);
            return;
        }
        for (int i = 0; i < passes; ++i)
            pass();
    }

    std::shared_ptr<Emulator> emulator;
    UsbManager manager{createZudDevice};
    QPointer<Device> device;
    Mode mode;
};
