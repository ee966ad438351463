#pragma once

#include <QMetaType>
#include <QSharedPointer>
#include <cstdint>

// Every HID report in both directions is this long; byte 0 is the report id.
constexpr int zudUsbReportSize = 64;

// One raw 64-byte report, exactly as read or as written.
struct ZudUsbReport {
    uint8_t data[zudUsbReportSize];
};

Q_DECLARE_METATYPE(QSharedPointer<ZudUsbReport>)
