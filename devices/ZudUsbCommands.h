// SPDX-License-Identifier: GPL-3.0-or-later
// Builders for the command reports sent to the wheel base and the pedals.
// Each returns a whole 64-byte report: report id 100, the command code in
// byte 1, the protocol version in byte 2, the named bytes, zero elsewhere.
#pragma once

#include "devices/ZudUsbReports.h"

#include <cstdint>

namespace ZudUsbCommands {

// Protocol version the tool speaks with a wheel base (byte 2); the
// EnterBootloader command of the wheel base and the pedals carries 0.
constexpr uint8_t wheelBaseVersion = 3;
constexpr uint8_t enterBootloaderVersion = 0;

// Byte offsets inside command reports.
constexpr int codeOffset = 1;
constexpr int versionOffset = 2;
constexpr int profileIndexOffset = 3;  // ReadProfile
constexpr int profileRecordOffset = 3; // WriteProfile, CenterRim
constexpr int restartFlagOffset = 3;   // Reset
constexpr int factoryResetFlagOffset = 5;
constexpr int testKindOffset = 3; // Test
constexpr int testForceOffset = 4;
constexpr int profileCountOffset = 42; // Settings, SaveSettings
constexpr int currentProfileOffset = 43;

// Byte 42 of a Settings or SaveSettings command (and of a type 4 reply) that
// ends a load or a save.
constexpr uint8_t endOfExchange = 255;

// testKind values of the Test command.
enum class TestKind : uint8_t { ConstantForce = 0, BrakeResistorOn = 1, BrakeResistorOff = 2 };

// An all-zero command report with report id, code and version filled in.
ZudUsbReport command(ZudUsbCommand code, uint8_t version);

ZudUsbReport enterBootloader();
ZudUsbReport loadSettings();
ZudUsbReport finishLoadSettings();
ZudUsbReport saveSettings(uint8_t profileCount, uint8_t currentProfile);
ZudUsbReport finishSaveSettings();
ZudUsbReport readProfile(uint8_t index);
ZudUsbReport writeProfile(const ZudUsbWheelBaseProfile &profile);
ZudUsbReport centerRim(const ZudUsbWheelBaseProfile &profile);
ZudUsbReport resetToFactoryDefaults();
ZudUsbReport testForce(float constantForce);
ZudUsbReport testBrakeResistor(bool enabled);

} // namespace ZudUsbCommands
