// SPDX-License-Identifier: GPL-3.0-or-later
// The byte layouts of every report exchanged with the wheel base, the pedals
// and the bootloader. Reports are packed little-endian with multi-byte
// fields at odd offsets, so every field is stored as bytes and converted on
// access: a record may be laid over any byte of a received report.
#pragma once

#include "usb/ZudUsbReport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A little-endian field of type T at any alignment.
template <typename T> struct ZudLe {
    static_assert(std::is_arithmetic<T>::value, "numeric fields only");
    uint8_t bytes[sizeof(T)];

    T get() const
    {
        using U = std::conditional_t<
            sizeof(T) == 1, uint8_t,
            std::conditional_t<sizeof(T) == 2, uint16_t,
                               std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            u |= U(U(bytes[i]) << (8 * i));
        T value;
        std::memcpy(&value, &u, sizeof value);
        return value;
    }
    void set(T value)
    {
        using U = std::conditional_t<
            sizeof(T) == 1, uint8_t,
            std::conditional_t<sizeof(T) == 2, uint16_t,
                               std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
        U u;
        std::memcpy(&u, &value, sizeof u);
        for (size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = uint8_t(u >> (8 * i));
    }
    operator T() const { return get(); }
    ZudLe &operator=(T value)
    {
        set(value);
        return *this;
    }
};

using ZudLeI8 = ZudLe<int8_t>;
using ZudLeI16 = ZudLe<int16_t>;
using ZudLeU16 = ZudLe<uint16_t>;
using ZudLeI32 = ZudLe<int32_t>;
using ZudLeU32 = ZudLe<uint32_t>;
using ZudLeU64 = ZudLe<uint64_t>;
using ZudLeF32 = ZudLe<float>;

// Report ids (byte 0).
namespace ZudUsbReportId {
constexpr uint8_t joystickReport = zudJoystickReportId;
constexpr uint8_t commandReport = 100;
constexpr uint8_t replyReport = 101;
} // namespace ZudUsbReportId

// Command codes (byte 1 of commands and of replies).
enum class ZudUsbCommand : uint8_t {
    EnterBootloader = 1,
    FirmwareChunk = 1,
    DebugOutput = 2,
    Settings = 3,
    SaveSettings = 4,
    ReadProfile = 5,
    WriteProfile = 6,
    CenterRim = 7,
    Reset = 8,
    Test = 9,
};

// Capacity of the wheel base's profile table.
constexpr int maxProfiles = 100;
constexpr int zudProfileNameBytes = 16;
constexpr int zudMaxTorqueSamples = 11;

// Debug output: in a reply of type 2 (report byte 3) and in a joystick
// update of kind 1 (report byte 9).
struct ZudUsbWheelBaseDebugOutput {
    uint8_t reserved0;
    ZudLeU32 ticks;
    ZudLeU16 motorState;
    ZudLeI16 encoderState;
    ZudLeF32 motorAngle;
    ZudLeI32 encoderRaw;
    ZudLeF32 ffbIn;
    ZudLeF32 ffbOut;
    ZudLeU64 bisscRaw;
    ZudLeU32 currentFaults;
    ZudLeU32 clearedFaults;
};

// Payload of a joystick update of kind 2.
struct ZudUsbWheelBaseTorqueSamples {
    ZudLeI16 torqueIn;
    uint8_t torqueInSample;
    uint8_t sampleCount;
    ZudLeI16 torqueOut[zudMaxTorqueSamples];
    ZudLeI16 torqueActual[zudMaxTorqueSamples];
    ZudLeF32 rotorPos;
    uint8_t reserved[3];
};

// Payload of a joystick update of kind 3.
struct ZudUsbWheelBaseCommutation {
    ZudLeU32 ticks;
    ZudLeF32 mechAngle;
    ZudLeF32 elAngle;
    ZudLeF32 elAngleEncoder;
    ZudLeF32 pwmU;
    ZudLeF32 pwmV;
    ZudLeF32 pwmW;
    ZudLeF32 hallU;
    ZudLeF32 hallV;
    ZudLeF32 hallPsu;
    uint8_t reserved[15];
};

// Report bytes 1..63 of a wheel base joystick report.
struct ZudUsbWheelBaseJoystickUpdate {
    ZudLeI16 axisValue;
    uint8_t reserved[5];
    uint8_t updateKind;
    union {
        uint8_t payload[55];
        ZudUsbWheelBaseDebugOutput debug;       // updateKind 1
        ZudUsbWheelBaseTorqueSamples torque;    // updateKind 2
        ZudUsbWheelBaseCommutation commutation; // updateKind 3
    };
};

// Report bytes 1..63 of a pedals joystick report.
struct ZudUsbPedalsJoystickUpdate {
    ZudLeU16 x;
    ZudLeU16 y;
    ZudLeU16 z;
    uint8_t reserved[57];
};

// Report bytes 3..63 of a reply of type 9, passed on uninterpreted.
struct ZudUsbWheelBaseTestCommand {
    uint8_t data[61];
};

// One profile: the same 43 bytes in the table, in WriteProfile and
// CenterRim commands and in replies of type 5 and 7 (report byte 3).
struct ZudUsbWheelBaseProfile {
    uint8_t index;
    uint8_t name[zudProfileNameBytes];
    ZudLeF32 centerOffset;
    ZudLeI32 rotationDegrees;
    uint8_t encoderType;
    ZudLeI32 encoderResolution;
    ZudLeI32 maxForce;
    int8_t smoothing;
    int8_t damping;
    int8_t friction;
    int8_t inertia;
    int8_t spring;
    uint8_t dampingEffect;
    uint8_t frictionEffect;
    uint8_t inertiaEffect;
    uint8_t springEffect;
};

// A firmware chunk (report id 100, command 1) and its acknowledgement, which
// has the same layout from byte 1 on.
struct ZudUsbFirmwareChunk {
    uint8_t reportId;
    uint8_t command;
    uint8_t chunkData[32];
    ZudLeI16 currentChunk;
    ZudLeI16 totalChunks;
    ZudLeU32 chunkCrc;
    uint8_t hasPreviousTail;
    uint8_t previousTail[16];
    uint8_t reserved[5];
};

// The wheel base's settings header (reply type 3), the whole report.
struct ZudUsbWheelBaseSettingsHeader {
    uint8_t reportId;
    uint8_t type;
    uint8_t settingsVersion;
    ZudLeU32 deviceInfo1;
    ZudLeU16 deviceInfo2;
    uint8_t deviceInfo3;
    uint8_t deviceInfo4[32];
    uint8_t profileCount;
    uint8_t currentProfile;
    uint8_t reserved[20];
};

// Every record lies over report bytes at fixed offsets; pin them all.
static_assert(sizeof(ZudLeF32) == 4 && alignof(ZudLeF32) == 1, "fields are unaligned bytes");
static_assert(sizeof(ZudUsbWheelBaseDebugOutput) == 41, "debug output is 41 bytes");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, ticks) == 1, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, motorState) == 5, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, encoderState) == 7, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, motorAngle) == 9, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, encoderRaw) == 13, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, ffbIn) == 17, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, ffbOut) == 21, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, bisscRaw) == 25, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, currentFaults) == 33, "");
static_assert(offsetof(ZudUsbWheelBaseDebugOutput, clearedFaults) == 37, "");

static_assert(sizeof(ZudUsbWheelBaseTorqueSamples) == 55, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, torqueIn) == 0, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, torqueInSample) == 2, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, sampleCount) == 3, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, torqueOut) == 4, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, torqueActual) == 26, "");
static_assert(offsetof(ZudUsbWheelBaseTorqueSamples, rotorPos) == 48, "");

static_assert(sizeof(ZudUsbWheelBaseCommutation) == 55, "");
static_assert(offsetof(ZudUsbWheelBaseCommutation, mechAngle) == 4, "");
static_assert(offsetof(ZudUsbWheelBaseCommutation, hallU) == 28, "");
static_assert(offsetof(ZudUsbWheelBaseCommutation, hallPsu) == 36, "");

static_assert(sizeof(ZudUsbWheelBaseJoystickUpdate) == 63, "bytes 1..63 of the report");
static_assert(offsetof(ZudUsbWheelBaseJoystickUpdate, updateKind) == 7, "");
static_assert(offsetof(ZudUsbWheelBaseJoystickUpdate, payload) == 8, "");
static_assert(offsetof(ZudUsbWheelBaseJoystickUpdate, torque) == 8, "");
static_assert(sizeof(ZudUsbPedalsJoystickUpdate) == 63, "");
static_assert(offsetof(ZudUsbPedalsJoystickUpdate, z) == 4, "");
static_assert(sizeof(ZudUsbWheelBaseTestCommand) == 61, "");

static_assert(sizeof(ZudUsbWheelBaseProfile) == 43, "profile record is 43 bytes");
static_assert(offsetof(ZudUsbWheelBaseProfile, name) == 1, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, centerOffset) == 17, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, rotationDegrees) == 21, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, encoderType) == 25, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, encoderResolution) == 26, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, maxForce) == 30, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, smoothing) == 34, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, damping) == 35, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, spring) == 38, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, dampingEffect) == 39, "");
static_assert(offsetof(ZudUsbWheelBaseProfile, springEffect) == 42, "");

static_assert(sizeof(ZudUsbFirmwareChunk) == zudUsbReportSize, "");
static_assert(offsetof(ZudUsbFirmwareChunk, chunkData) == 2, "");
static_assert(offsetof(ZudUsbFirmwareChunk, currentChunk) == 34, "");
static_assert(offsetof(ZudUsbFirmwareChunk, totalChunks) == 36, "");
static_assert(offsetof(ZudUsbFirmwareChunk, chunkCrc) == 38, "");
static_assert(offsetof(ZudUsbFirmwareChunk, hasPreviousTail) == 42, "");
static_assert(offsetof(ZudUsbFirmwareChunk, previousTail) == 43, "");

static_assert(sizeof(ZudUsbWheelBaseSettingsHeader) == zudUsbReportSize, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, deviceInfo1) == 3, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, deviceInfo2) == 7, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, deviceInfo3) == 9, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, deviceInfo4) == 10, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, profileCount) == 42, "");
static_assert(offsetof(ZudUsbWheelBaseSettingsHeader, currentProfile) == 43, "");
