// Helpers for the tests that drive the main window against the virtual bus.
#pragma once

#include "TestSupport.h"
#include "app/ZUD_wheel_tool.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudUsbReports.h"
#include "simulator/VirtualHidBus.h"

#include <cstring>
#include <deque>
#include <memory>

namespace wintest {

using testing::plugBootloader;
using testing::plugPedals;
using testing::plugWheelBase;

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

inline ZudUsbWheelBaseJoystickUpdate wheelUpdate(int16_t axis, uint8_t kind = 0)
{
    ZudUsbWheelBaseJoystickUpdate update;
    std::memset(&update, 0, sizeof update);
    update.axisValue = axis;
    update.updateKind = kind;
    return update;
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
