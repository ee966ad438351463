// SPDX-License-Identifier: GPL-3.0-or-later
#include "devices/ZudUsbCommands.h"

#include <cstring>

namespace ZudUsbCommands {

static_assert(profileRecordOffset + sizeof(ZudUsbWheelBaseProfile) <= zudUsbReportSize,
              "a profile fits into a command report");
static_assert(profileRecordOffset + sizeof(ZudUsbWheelBaseProfile) == 46,
              "a profile ends at report byte 45");

ZudUsbReport command(ZudUsbCommand code, uint8_t version)
{
    ZudUsbReport report{};
    report.data[0] = ZudUsbReportId::commandReport;
    report.data[codeOffset] = uint8_t(code);
    report.data[versionOffset] = version;
    return report;
}

ZudUsbReport enterBootloader()
{
    return command(ZudUsbCommand::EnterBootloader, enterBootloaderVersion);
}

ZudUsbReport loadSettings()
{
    ZudUsbReport report = command(ZudUsbCommand::Settings, wheelBaseVersion);
    report.data[profileCountOffset] = 0;
    return report;
}

ZudUsbReport finishLoadSettings()
{
    ZudUsbReport report = command(ZudUsbCommand::Settings, wheelBaseVersion);
    report.data[profileCountOffset] = endOfExchange;
    return report;
}

ZudUsbReport saveSettings(uint8_t profileCount, uint8_t currentProfile)
{
    ZudUsbReport report = command(ZudUsbCommand::SaveSettings, wheelBaseVersion);
    report.data[profileCountOffset] = profileCount;
    report.data[currentProfileOffset] = currentProfile;
    return report;
}

ZudUsbReport finishSaveSettings()
{
    ZudUsbReport report = command(ZudUsbCommand::SaveSettings, wheelBaseVersion);
    report.data[profileCountOffset] = endOfExchange;
    return report;
}

ZudUsbReport readProfile(uint8_t index)
{
    ZudUsbReport report = command(ZudUsbCommand::ReadProfile, wheelBaseVersion);
    report.data[profileIndexOffset] = index;
    return report;
}

ZudUsbReport writeProfile(const ZudUsbWheelBaseProfile &profile)
{
    ZudUsbReport report = command(ZudUsbCommand::WriteProfile, wheelBaseVersion);
    std::memcpy(report.data + profileRecordOffset, &profile, sizeof profile);
    return report;
}

ZudUsbReport centerRim(const ZudUsbWheelBaseProfile &profile)
{
    ZudUsbReport report = command(ZudUsbCommand::CenterRim, wheelBaseVersion);
    std::memcpy(report.data + profileRecordOffset, &profile, sizeof profile);
    return report;
}

ZudUsbReport resetToFactoryDefaults()
{
    ZudUsbReport report = command(ZudUsbCommand::Reset, wheelBaseVersion);
    report.data[factoryResetFlagOffset] = 1;
    return report;
}

ZudUsbReport testForce(float constantForce)
{
    ZudUsbReport report = command(ZudUsbCommand::Test, wheelBaseVersion);
    report.data[testKindOffset] = uint8_t(TestKind::ConstantForce);
    ZudLeF32 force;
    force.set(constantForce);
    std::memcpy(report.data + testForceOffset, force.bytes, sizeof force.bytes);
    return report;
}

ZudUsbReport testBrakeResistor(bool enabled)
{
    ZudUsbReport report = command(ZudUsbCommand::Test, wheelBaseVersion);
    report.data[testKindOffset] =
        uint8_t(enabled ? TestKind::BrakeResistorOn : TestKind::BrakeResistorOff);
    return report;
}

} // namespace ZudUsbCommands
