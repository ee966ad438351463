// SPDX-License-Identifier: GPL-3.0-or-later
// The settings editor's conversions between the wheel base's profile fields
// and the controls that show them, free of widgets so that they can be
// checked on their own.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// The centre offset (a fraction of one turn) as shown beside "Center": the
// product with 360 in single precision, two decimals, " deg".
QString centerOffsetText(float centerOffset);

// The damping, friction, inertia and spring levels are stored in percent and
// shown on sliders of 0..10: level / 10 truncated toward zero, and back as
// slider value x 10 cut to the field's 8 bits.
int levelToSlider(int8_t level);
int8_t sliderToLevel(int sliderValue);

// A level as the editor keeps it once it has shown it: on the slider's steps
// of 10, cut toward zero.
int8_t levelAsShown(int8_t level);
// The levels of a profile that the editor would change, with their values
// before and after; applying them rounds the profile as the editor would.
struct LevelRounding {
    const char *field; // "damping", "friction", "inertia" or "spring"
    int from;
    int to;
};
std::vector<LevelRounding> roundLevels(ZudUsbWheelBaseProfile &profile);

// Value label texts: "75%" for the force slider, "50%" for a level slider at
// 5 (the slider value x 10), and the plain number for smoothing.
QString percentText(int value);
QString levelPercentText(int sliderValue);

// A stored profile name: the bytes up to the first zero byte or all 16.
QByteArray storedNameBytes(const ZudUsbWheelBaseProfile &profile);
// Whether the bytes are well-formed UTF-8 (no truncated, overlong or
// surrogate sequences).
bool isValidUtf8(const QByteArray &bytes);
// The stored name as text: decoded as UTF-8, or byte for byte as Latin-1
// when the bytes are not UTF-8 (names written by other tools).
QString profileNameText(const ZudUsbWheelBaseProfile &profile);
// The UTF-8 bytes of a typed name cut to at most 16 bytes at a character
// boundary, so that a multi-byte character is never split.
QByteArray profileNameBytes(const QString &text);
// Stores a typed name into the profile's 16-byte field, zero-filled after
// the text (no terminating zero when the name takes all 16 bytes). A text
// equal to what the list shows for the stored bytes leaves them untouched,
// so that showing a name never rewrites it.
void storeProfileName(ZudUsbWheelBaseProfile &profile, const QString &text);
