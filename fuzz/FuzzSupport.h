// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: a Qt application for the device objects'
// timers, a device object on a fresh virtual device, and the cutting of an
// input into 64-byte reports.
#pragma once

#include "simulator/VirtualHidBus.h"
#include "usb/ZudUsbReport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <hidapi.h>
#include <memory>

namespace fuzzing {

inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// A refused document must have a message, and the message must not keep
// "%1" and the like unless the document itself holds that text.
inline void checkMessage(const QString &error, const QByteArray &document)
{
    if (error.isEmpty())
        fail("a document was refused without a message");
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    QRegularExpressionMatchIterator it = placeholder.globalMatch(error);
    while (it.hasNext()) {
        if (!document.contains(it.next().captured().toLatin1()))
            fail("a message kept a placeholder that was never filled");
    }
}

// A device object of type Device over a virtual device that swallows writes.
template <typename Device> struct DeviceUnderTest {
    vhid::DevicePtr bus;
    std::unique_ptr<Device> device;

    DeviceUnderTest(uint16_t productId, const wchar_t *product)
    {
        ensureApplication();
        vhid::DeviceConfig config;
        config.productId = productId;
        config.productString = product;
        bus = vhid::plug(config);
        hid_device *handle = hid_open_path(bus->path().c_str());
        if (!handle)
            fail("virtual device did not open");
        device = std::make_unique<Device>(QString::fromStdString(bus->path()), handle);
    }
    ~DeviceUnderTest()
    {
        device.reset();
        bus->unplug();
    }
};

// Calls f with each 64-byte report of data (the last one zero-filled).
template <typename F> void forEachReport(const uint8_t *data, size_t size, F f)
{
    for (size_t offset = 0; offset < size; offset += zudUsbReportSize) {
        uint8_t report[zudUsbReportSize] = {};
        std::memcpy(report, data + offset, std::min<size_t>(zudUsbReportSize, size - offset));
        f(report);
    }
}

} // namespace fuzzing
