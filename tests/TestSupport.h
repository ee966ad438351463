// Small helpers shared by the test suites.
#pragma once

#include "simulator/VirtualHidBus.h"
#include "usb/ZudUsbReport.h"

#include <cstdint>
#include <string>

namespace testing {

inline vhid::DevicePtr plugDevice(uint16_t productId, const std::wstring &product,
                                  const std::string &path = std::string())
{
    vhid::DeviceConfig config;
    config.vendorId = 0x0483;
    config.productId = productId;
    config.productString = product;
    config.path = path;
    return vhid::plug(config);
}

inline vhid::DevicePtr plugWheelBase(const std::string &path = std::string(),
                                     const std::wstring &product = L"ZUD Wheel Base")
{
    return plugDevice(0xA355, product, path);
}
inline vhid::DevicePtr plugPedals()
{
    return plugDevice(0xA112, L"ZUD Pedals");
}
inline vhid::DevicePtr plugBootloader()
{
    return plugDevice(0xA355, L"ZUD Bootloader");
}

// A 64-byte report with the given id whose bytes 1..4 carry a marker.
inline vhid::Report report(uint8_t id, uint32_t marker = 0, size_t size = zudUsbReportSize)
{
    vhid::Report r(size, 0);
    r[0] = id;
    for (size_t i = 0; i < 4 && 1 + i < size; ++i)
        r[1 + i] = uint8_t(marker >> (8 * i));
    return r;
}

inline uint32_t marker(const uint8_t *report)
{
    return uint32_t(report[1]) | uint32_t(report[2]) << 8 | uint32_t(report[3]) << 16 |
           uint32_t(report[4]) << 24;
}

} // namespace testing
