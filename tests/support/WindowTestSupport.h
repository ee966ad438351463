// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the tests that drive the main window against the virtual bus.
#pragma once

#include "TestSupport.h"
#include "app/ZUD_wheel_tool.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudUsbReports.h"
#include "simulator/VirtualHidBus.h"
#include "simulator/WheelBaseEmulator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <deque>
#include <memory>

namespace wintest {

using testing::plugBootloader;
using testing::plugPedals;
using testing::plugWheelBase;
using testing::randomBytes;
using testing::wheelUpdate;

// A wheel base that sends no joystick reports unless a test sends them.
inline emu::WheelBaseEmulator::Config quietWheel(const wchar_t *product = L"ZUD Wheel Base")
{
    emu::WheelBaseEmulator::Config config;
    config.device.productString = product;
    config.streamRate = 0;
    return config;
}

// A directory of its own made current for one test, for the logs the
// window writes there.
struct LogDir {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    LogDir() { QDir::setCurrent(dir.path()); }
    ~LogDir() { QDir::setCurrent(previous); }
    QStringList logs() const
    {
        return QDir(dir.path()).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    }
    QByteArray read(const QString &name) const
    {
        QFile file(QDir(dir.path()).absoluteFilePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
};

// One discovery pass over every supported product id, as the periodic pass
// does, without waiting for its timer.
inline void discover(ZUD_wheel_tool &window)
{
    for (uint16_t productId : UsbManager::supportedProductIds())
        QMetaObject::invokeMethod(&window.manager(), "doRescanForZudDevices", Qt::DirectConnection,
                                  Q_ARG(uint16_t, 0x0483), Q_ARG(uint16_t, productId));
}

template <typename Device> Device *deviceOf(ZUD_wheel_tool &window, const vhid::DevicePtr &dev)
{
    return qobject_cast<Device *>(window.manager().getDevice(QString::fromStdString(dev->path())));
}

inline vhid::Report wheelReport(const ZudUsbWheelBaseJoystickUpdate &update)
{
    vhid::Report report(zudUsbReportSize, 0);
    report[0] = ZudUsbReportId::joystickReport;
    std::memcpy(report.data() + 1, &update, sizeof update);
    return report;
}

inline vhid::Report pedalsReport(uint16_t x, uint16_t y, uint16_t z)
{
    ZudUsbPedalsJoystickUpdate update;
    std::memset(&update, 0, sizeof update);
    update.x = x;
    update.y = y;
    update.z = z;
    vhid::Report report(zudUsbReportSize, 0);
    report[0] = ZudUsbReportId::joystickReport;
    std::memcpy(report.data() + 1, &update, sizeof update);
    return report;
}

// A millisecond clock that hands out the queued times one per call and then
// keeps returning the last one; counts its calls, one per wheel update seen.
struct ScriptedClock {
    std::deque<uint32_t> times;
    uint32_t last = 0;
    int calls = 0;
    uint32_t operator()()
    {
        ++calls;
        if (!times.empty()) {
            last = times.front();
            times.pop_front();
        }
        return last;
    }
};

} // namespace wintest
