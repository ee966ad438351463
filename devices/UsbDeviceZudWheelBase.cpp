#include "devices/UsbDeviceZudWheelBase.h"

#include "devices/ZudUsbCommands.h"

#include <cstdio>
#include <cstring>

namespace {

// Reply types (byte 1 of a reply report).
constexpr int8_t replyDebugOutput = 2;
constexpr int8_t replySettings = 3;
constexpr int8_t replySaveSettings = 4;
constexpr int8_t replyReadProfile = 5;
constexpr int8_t replyWriteProfile = 6;
constexpr int8_t replyCenterRim = 7;
constexpr int8_t replyTest = 9;

// Reply byte offsets.
constexpr int replyVersionOffset = 2;
constexpr int replyRecordOffset = 3;
constexpr int replyIndexOffset = 3;
constexpr int replyCountOffset = 42;
constexpr int replyCurrentOffset = 43;

// The settings layout this tool speaks; version 2 still carries the device
// information, the profile count and the current index in the same bytes.
constexpr uint8_t compatibleSettingsVersion = 3;
constexpr uint8_t countCarryingSettingsVersion = 2;
// A type 7 reply with byte 2 below this carries only count and current index.
constexpr uint8_t centerReplyWithProfile = 2;

const char *olderFirmwareMessage = "Device has an older firmware. Please update the firmware.";
const char *newerFirmwareMessage = "Device had a newer firmware. Please update this config tool.";

// Writes "Profile n" and its terminating zero at the start of a name; the
// bytes after the zero are left as they are.
void writeProfileName(ZudUsbWheelBaseProfile &profile, int n)
{
    char text[zudProfileNameBytes];
    const int length = std::snprintf(text, sizeof text, "Profile %d", n);
    std::memcpy(profile.name, text, size_t(length) + 1);
}

} // namespace

UsbDeviceZudWheelBase::UsbDeviceZudWheelBase(QString id, hid_device *hidDevice)
    : UsbDevice(std::move(id), hidDevice)
{
}

bool UsbDeviceZudWheelBase::send(const ZudUsbReport &report, bool expectReply)
{
    return write(report.data, expectReply);
}

bool UsbDeviceZudWheelBase::isLoadedSlot(int index) const
{
    return index >= 0 && index < maxProfiles && index < profileCount;
}

QString UsbDeviceZudWheelBase::countProblem(uint8_t count, uint8_t current, const QString &outcome)
{
    if (count == 0 || count > maxProfiles)
        return QStringLiteral("Device reported %1 profiles; a wheel base holds 1 to %2 profiles. ")
                   .arg(count)
                   .arg(maxProfiles) +
               outcome;
    if (current >= count)
        return QStringLiteral("Device reported profile %1 as the current one of %2 profiles. ")
                   .arg(current)
                   .arg(count) +
               outcome;
    return QString();
}

// Every signal here is emitted as the last thing done with this object: a
// receiver may end its life (UsbDevice.h).
void UsbDeviceZudWheelBase::handleReport(const uint8_t *report, uint64_t readTimeMicros)
{
    UsbDevice::handleReport(report, readTimeMicros);
    if (report[0] == ZudUsbReportId::joystickReport) {
        auto *update =
            reinterpret_cast<ZudUsbWheelBaseJoystickUpdate *>(const_cast<uint8_t *>(report + 1));
        emit onJoystickUpdate(this, update, readTimeMicros);
        return;
    }
    if (report[0] != ZudUsbReportId::replyReport)
        return;

    switch (int8_t(report[1])) {
    case replyDebugOutput: {
        auto *output = reinterpret_cast<ZudUsbWheelBaseDebugOutput *>(
            const_cast<uint8_t *>(report + replyRecordOffset));
        emit onDebugOutput(this, output, readTimeMicros);
        break;
    }
    case replySettings:
        handleSettingsHeader(report);
        break;
    case replySaveSettings:
        if (report[replyCountOffset] == ZudUsbCommands::endOfExchange)
            emit onSettingsSaved(this);
        else if (profileCount == 0 || profileCount > maxProfiles)
            // Nothing loaded: writing slot 0 would send an empty profile.
            emit onSettingsLoadFailed(
                this, QStringLiteral("No profiles are loaded, so there is nothing to save."));
        else
            writeProfile(0);
        break;
    case replyReadProfile:
        handleProfileRead(report);
        break;
    case replyWriteProfile:
        handleProfileWritten(report);
        break;
    case replyCenterRim:
        handleCenterReply(report);
        break;
    case replyTest: {
        auto *test = reinterpret_cast<ZudUsbWheelBaseTestCommand *>(
            const_cast<uint8_t *>(report + replyRecordOffset));
        emit onTestCommand(this, test);
        break;
    }
    default:
        break; // type 8 (reset) and unknown types carry nothing for the tool
    }
}

void UsbDeviceZudWheelBase::handleSettingsHeader(const uint8_t *report)
{
    const auto *header = reinterpret_cast<const ZudUsbWheelBaseSettingsHeader *>(report);
    const uint8_t version = header->settingsVersion;
    settingsVersion = version;

    if (version == compatibleSettingsVersion) {
        // A count outside the table would make the exchange address slots
        // that do not exist: refuse the header and keep what is held.
        const QString problem = countProblem(header->profileCount, header->currentProfile,
                                             QStringLiteral("The settings were not loaded."));
        if (!problem.isEmpty()) {
            emit onSettingsLoadFailed(this, problem);
            return;
        }
    }

    if (version == compatibleSettingsVersion || version == countCarryingSettingsVersion) {
        deviceInfo1 = header->deviceInfo1;
        deviceInfo2 = header->deviceInfo2;
        deviceInfo3 = header->deviceInfo3;
        std::memcpy(deviceInfo4, header->deviceInfo4, sizeof deviceInfo4);
        if (countProblem(header->profileCount, header->currentProfile, QString()).isEmpty()) {
            profileCount = header->profileCount;
            currentProfile = header->currentProfile;
        } else {
            profileCount = 0;
            currentProfile = 0;
        }
    } else {
        deviceInfo1 = 0;
        deviceInfo2 = 0;
        deviceInfo3 = 0;
        std::memset(deviceInfo4, 0, sizeof deviceInfo4);
        profileCount = 0;
        currentProfile = 0;
    }

    if (version == compatibleSettingsVersion) {
        readProfile(0);
        return;
    }
    emit onSettingsLoadFailed(this, QString::fromLatin1(version < compatibleSettingsVersion
                                                            ? olderFirmwareMessage
                                                            : newerFirmwareMessage));
}

void UsbDeviceZudWheelBase::handleProfileRead(const uint8_t *report)
{
    const int index = int8_t(report[replyIndexOffset]);
    if (!isLoadedSlot(index)) {
        emit onSettingsLoadFailed(this, QStringLiteral("Device sent profile %1 while %2 profiles "
                                                       "were being loaded. The settings were not "
                                                       "loaded completely.")
                                            .arg(index)
                                            .arg(profileCount));
        return;
    }
    std::memcpy(&profiles[index], report + replyRecordOffset, sizeof(ZudUsbWheelBaseProfile));
    if (index + 1 == profileCount) {
        finishLoadSettings();
        emit onSettingsLoaded(this);
    } else {
        readProfile(uint8_t(index + 1));
    }
}

void UsbDeviceZudWheelBase::handleProfileWritten(const uint8_t *report)
{
    const int index = int8_t(report[replyIndexOffset]);
    if (!isLoadedSlot(index)) {
        emit onSettingsLoadFailed(this, QStringLiteral("Device confirmed profile %1 while %2 "
                                                       "profiles were being saved. The settings "
                                                       "were not saved completely.")
                                            .arg(index)
                                            .arg(profileCount));
        return;
    }
    if (index + 1 == profileCount) {
        finishSaveSettings();
        emit onSettingsSaved(this);
    } else {
        writeProfile(index + 1);
    }
}

void UsbDeviceZudWheelBase::handleCenterReply(const uint8_t *report)
{
    if (report[replyVersionOffset] < centerReplyWithProfile) {
        const QString problem = countProblem(report[replyCountOffset], report[replyCurrentOffset],
                                             QStringLiteral("The centre was not taken over."));
        if (!problem.isEmpty()) {
            emit onSettingsLoadFailed(this, problem);
            return;
        }
        profileCount = report[replyCountOffset];
        currentProfile = report[replyCurrentOffset];
    } else {
        const int index = int8_t(report[replyIndexOffset]);
        if (!isLoadedSlot(index)) {
            emit onSettingsLoadFailed(this, QStringLiteral("Device sent profile %1 with the new "
                                                           "centre, but %2 profiles are loaded. "
                                                           "The centre was not taken over.")
                                                .arg(index)
                                                .arg(profileCount));
            return;
        }
        std::memcpy(&profiles[index], report + replyRecordOffset, sizeof(ZudUsbWheelBaseProfile));
    }
    emit onSettingsLoaded(this);
}

void UsbDeviceZudWheelBase::addProfile()
{
    const int n = profileCount;
    if (n >= maxProfiles)
        return;
    ZudUsbWheelBaseProfile &profile = profiles[n];
    if (n == 0) {
        writeProfileName(profile, 0);
        profile.index = 0;
        profile.encoderType = 3;
        profile.encoderResolution = 4194304;
        profile.rotationDegrees = 900;
        profile.maxForce = 50;
        profile.smoothing = 1;
        profile.damping = 1;
    } else {
        // A copy of the last profile (not the current one) under a new name.
        profile = profiles[n - 1];
        writeProfileName(profile, n);
        profile.index = uint8_t(n);
    }
    currentProfile = uint8_t(n);
    profileCount = uint8_t(n + 1);
    emit onSettingsLoaded(this);
}

void UsbDeviceZudWheelBase::removeProfile()
{
    if (profileCount <= 1)
        return;
    const int count = profileCount < maxProfiles ? profileCount : maxProfiles;
    for (int j = currentProfile + 1; j < count; ++j) {
        profiles[j - 1] = profiles[j];
        profiles[j - 1].index = uint8_t(j - 1);
    }
    --profileCount;
    if (currentProfile == profileCount)
        --currentProfile;
    emit onSettingsLoaded(this);
}

void UsbDeviceZudWheelBase::readProfile(uint8_t index)
{
    send(ZudUsbCommands::readProfile(index), true);
}

void UsbDeviceZudWheelBase::writeProfile(int index)
{
    if (index < 0 || index >= maxProfiles)
        return; // no such slot; the replies that lead here are checked first
    send(ZudUsbCommands::writeProfile(profiles[index]), true);
}

void UsbDeviceZudWheelBase::finishLoadSettings()
{
    send(ZudUsbCommands::finishLoadSettings(), false);
}

void UsbDeviceZudWheelBase::finishSaveSettings()
{
    send(ZudUsbCommands::finishSaveSettings(), false);
}

void UsbDeviceZudWheelBase::enterBootloader()
{
    send(ZudUsbCommands::enterBootloader(), false);
}

void UsbDeviceZudWheelBase::loadSettings()
{
    send(ZudUsbCommands::loadSettings(), true);
}

void UsbDeviceZudWheelBase::saveSettings()
{
    // Telling the device it has no profiles would wipe its table and start
    // an exchange that cannot end.
    if (profileCount == 0 || profileCount > maxProfiles) {
        emit onSettingsLoadFailed(
            this, QStringLiteral("No profiles are loaded, so there is nothing to save."));
        return;
    }
    send(ZudUsbCommands::saveSettings(profileCount, currentProfile), true);
}

void UsbDeviceZudWheelBase::resetToFactoryDefaults()
{
    send(ZudUsbCommands::resetToFactoryDefaults(), false);
}

void UsbDeviceZudWheelBase::centerRim()
{
    if (currentProfile >= maxProfiles)
        return; // the editor never selects beyond the table
    send(ZudUsbCommands::centerRim(profiles[currentProfile]), true);
}

bool UsbDeviceZudWheelBase::sendTestForceCommand(float constantForce)
{
    return send(ZudUsbCommands::testForce(constantForce), false);
}

void UsbDeviceZudWheelBase::sendTestBrakeResistorCommand(bool enabled)
{
    send(ZudUsbCommands::testBrakeResistor(enabled), false);
}
