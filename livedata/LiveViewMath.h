// SPDX-License-Identifier: GPL-3.0-or-later
// The computations behind the live view, free of widgets so that they can be
// checked on their own: the throttle, the rim angle, the pedal bars and the
// texts of the value labels.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QString>
#include <cstdint>

// Wheel updates closer together than this are dropped by the live view.
constexpr uint32_t wheelUpdateIntervalMs = 16;

// Whether a wheel update at nowMs comes late enough after the one accepted at
// lastAcceptedMs. The difference is taken modulo 2^32, so the wrap of the
// 32-bit millisecond clock does not stall the view.
bool wheelUpdateDue(uint32_t nowMs, uint32_t lastAcceptedMs);

// The rim rotation in whole degrees for a steering value (full scale -32768
// to 32767) and the profile's rotation range: (axisValue / 2) * range / 32767,
// each division truncating toward zero. The product is formed in 64 bits, so
// every range a device may report gives the mathematically right angle; for
// ranges up to 131072 degrees this equals the 32-bit computation. The result
// always fits 32 bits (|angle| <= 16384 * 2^31 / 32767).
int32_t wheelAngleDegrees(int16_t axisValue, int32_t rotationDegrees);

// A pedal axis (0 to 65535) as a bar value 0 to 100: value * 100 / 65535 in
// single precision, truncated toward zero.
int pedalPercent(uint16_t value);

// The steering value as shown under the rim.
QString steeringValueText(int16_t axisValue);
// The three pedal values, "x y z".
QString pedalsValueText(uint16_t x, uint16_t y, uint16_t z);

// The motor state's name; unknown codes show as their signed number.
QString motorStateText(uint16_t code);
// All 64 bits of the encoder error word in base 2, without leading zeros.
QString bisscRawText(uint64_t bits);
// A float widened to double, fixed-point with two decimals.
QString fixed2Text(float value);

// A fault word in hexadecimal, all eight digits: 0x0000002A.
QString faultWordHexText(uint32_t word);
// The caption under a pedal bar: its axis name and percentage, "X 49%".
QString pedalBarText(const QString &axis, int percent);

// The texts of the ten debug labels, in the order they are set.
struct DebugOutputTexts {
    QString ticks;
    QString motorState;
    QString encoderState;
    QString motorAngle;
    QString encoderRaw;
    QString ffbIn;
    QString ffbOut;
    QString bisscRaw;
    QString currentFaults;
    QString clearedFaults;
};
DebugOutputTexts debugOutputTexts(const ZudUsbWheelBaseDebugOutput &output);
