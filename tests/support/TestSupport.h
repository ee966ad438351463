// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the test suites.
#pragma once

#include "devices/ZudUsbReports.h"
#include "simulator/VirtualHidBus.h"
#include "usb/ZudUsbReport.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <cstdint>
#include <cstring>
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

// A wheel base update of the given kind with all else zero.
inline ZudUsbWheelBaseJoystickUpdate wheelUpdate(int16_t axis, uint8_t kind = 0)
{
    ZudUsbWheelBaseJoystickUpdate update;
    std::memset(&update, 0, sizeof update);
    update.axisValue = axis;
    update.updateKind = kind;
    return update;
}

// Bytes that differ from run to run of the seed only.
inline QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = char(random.generate() & 0xFF);
    return bytes;
}

} // namespace testing
