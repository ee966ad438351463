// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Every HID report in both directions is this long; byte 0 is the report id.
constexpr int zudUsbReportSize = 64;
// The id of the reports a device streams on its own; every other input
// report answers something the tool sent.
constexpr uint8_t zudJoystickReportId = 1;

// One raw 64-byte report, exactly as read or as written.
struct ZudUsbReport {
    uint8_t data[zudUsbReportSize];
};
