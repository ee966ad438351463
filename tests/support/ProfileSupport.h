// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles for the tests: records whose fields tell them apart, and their
// byte-for-byte comparison.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstring>

namespace testing {

// A profile whose every field depends on index, so that a slot mix-up
// shows, with values that the editor and the profile files accept and a
// centre offset that a float holds exactly. Without a name it is called
// "Test <index * 37>".
inline ZudUsbWheelBaseProfile makeProfile(int index, const QByteArray &name = QByteArray())
{
    const QByteArray text =
        name.isNull() ? QByteArray("Test ") + QByteArray::number(index * 37) : name;
    ZudUsbWheelBaseProfile p{};
    p.index = uint8_t(index);
    std::memcpy(p.name, text.constData(), size_t(qMin(text.size(), zudProfileNameBytes)));
    p.centerOffset = 0.125f * float(index % 8) - 0.5f;
    p.rotationDegrees = 90 * (index % 111);
    p.encoderType = uint8_t(index % 4);
    p.encoderResolution = 4194304 + index;
    p.maxForce = index % 101;
    p.smoothing = int8_t(index % 5);
    p.damping = int8_t(index % 11 * 10);
    p.friction = int8_t(5 + 10 * ((index + 5) % 10));
    p.inertia = int8_t(index % 3 * 10);
    p.spring = int8_t(100 - 10 * (index % 11));
    p.dampingEffect = uint8_t(index % 3);
    p.frictionEffect = uint8_t((index + 2) % 3);
    p.inertiaEffect = uint8_t(2 * index % 3);
    p.springEffect = uint8_t((index + 1) % 3);
    return p;
}

inline bool sameProfile(const ZudUsbWheelBaseProfile &a, const ZudUsbWheelBaseProfile &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace testing
