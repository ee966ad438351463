// SPDX-License-Identifier: GPL-3.0-or-later
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
constexpr int8_t replyReset = 8;
constexpr int8_t replyTest = 9;

// Reply byte offsets.
constexpr int replyVersionOffset = 2;
constexpr int replyRecordOffset = 3;
constexpr int replyIndexOffset = 3;
constexpr int replyCountOffset = 42;
constexpr int replyCurrentOffset = 43;

// Version 2 of the settings layout still carries the device information,
// the profile count and the current index in the same bytes.
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
        // Another program's load changes nothing on the device.
        if (awaited == Awaited::SettingsHeader)
            handleSettingsHeader(report);
        break;
    case replySaveSettings:
        handleSaveReply(report);
        break;
    case replyReadProfile:
        if (awaited == Awaited::ProfileRead)
            handleProfileRead(report);
        break;
    case replyWriteProfile:
        if (awaited == Awaited::ProfileWritten)
            handleProfileWritten(report);
        else if (awaited != Awaited::SaveAccepted && awaited != Awaited::SaveEnded)
            emit onSettingsChangedElsewhere(this);
        break;
    case replyCenterRim:
        if (awaited == Awaited::CenterReply)
            handleCenterReply(report);
        else
            emit onSettingsChangedElsewhere(this);
        break;
    case replyReset:
        if (resetReplyAwaited)
            resetReplyAwaited = false;
        else
            emit onSettingsChangedElsewhere(this);
        break;
    case replyTest: {
        auto *test = reinterpret_cast<ZudUsbWheelBaseTestCommand *>(
            const_cast<uint8_t *>(report + replyRecordOffset));
        emit onTestCommand(this, test);
        break;
    }
    default:
        break; // unknown types carry nothing for the tool
    }
}

void UsbDeviceZudWheelBase::await(Awaited what, int index)
{
    awaited = what;
    awaitedIndex = index;
}

void UsbDeviceZudWheelBase::endExchange(Turn turn)
{
    awaited = Awaited::Nothing;
    endTurn(turn);
}

void UsbDeviceZudWheelBase::handleSaveReply(const uint8_t *report)
{
    const bool end = report[replyCountOffset] == ZudUsbCommands::endOfExchange;
    if (end && awaited == Awaited::SaveEnded) {
        emit onSettingsSaved(this); // the device confirms the end of the save
        return;
    }
    if (!end && awaited == Awaited::SaveAccepted) {
        if (profileCount == 0 || profileCount > maxProfiles) {
            // Nothing loaded: writing slot 0 would send an empty profile.
            endExchange(SaveTurn);
            emit onSettingsLoadFailed(
                this, QStringLiteral("No profiles are loaded, so there is nothing to save."));
            return;
        }
        await(Awaited::ProfileWritten, 0);
        writeProfile(0);
        return;
    }
    // A repeated acceptance while this object's own save runs is no news;
    // anything else is another program's save.
    if (awaited == Awaited::ProfileWritten || (end && awaited == Awaited::SaveAccepted))
        return;
    if (awaited == Awaited::SaveEnded)
        awaited = Awaited::Nothing;
    emit onSettingsChangedElsewhere(this);
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
            endExchange(LoadTurn);
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
        await(Awaited::ProfileRead, 0);
        readProfile(0);
        return;
    }
    endExchange(LoadTurn);
    emit onSettingsLoadFailed(this, QString::fromLatin1(version < compatibleSettingsVersion
                                                            ? olderFirmwareMessage
                                                            : newerFirmwareMessage));
}

void UsbDeviceZudWheelBase::handleProfileRead(const uint8_t *report)
{
    const int index = int8_t(report[replyIndexOffset]);
    if (!isLoadedSlot(index)) {
        endExchange(LoadTurn);
        emit onSettingsLoadFailed(this, QStringLiteral("Device sent profile %1 while %2 profiles "
                                                       "were being loaded. The settings were not "
                                                       "loaded completely.")
                                            .arg(index)
                                            .arg(profileCount));
        return;
    }
    // A slot of the table, but not the one asked for: a repeated answer to
    // an earlier request, which changes nothing.
    if (index != awaitedIndex)
        return;
    std::memcpy(&profiles[index], report + replyRecordOffset, sizeof(ZudUsbWheelBaseProfile));
    if (index + 1 == profileCount) {
        finishLoadSettings();
        endExchange(LoadTurn);
        emit onTableReceived(this);
        emit onSettingsLoaded(this);
    } else {
        await(Awaited::ProfileRead, index + 1);
        readProfile(uint8_t(index + 1));
    }
}

void UsbDeviceZudWheelBase::handleProfileWritten(const uint8_t *report)
{
    const int index = int8_t(report[replyIndexOffset]);
    if (!isLoadedSlot(index)) {
        endExchange(SaveTurn);
        emit onSettingsLoadFailed(this, QStringLiteral("Device confirmed profile %1 while %2 "
                                                       "profiles were being saved. The settings "
                                                       "were not saved completely.")
                                            .arg(index)
                                            .arg(profileCount));
        return;
    }
    if (index != awaitedIndex)
        return; // a repeated confirmation of a profile already written
    if (index + 1 == profileCount) {
        finishSaveSettings();
        endExchange(SaveTurn);
        // The device may confirm the end of the save once more.
        await(Awaited::SaveEnded);
        emit onSettingsSaved(this);
    } else {
        await(Awaited::ProfileWritten, index + 1);
        writeProfile(index + 1);
    }
}

void UsbDeviceZudWheelBase::handleCenterReply(const uint8_t *report)
{
    if (report[replyVersionOffset] < centerReplyWithProfile) {
        const QString problem = countProblem(report[replyCountOffset], report[replyCurrentOffset],
                                             QStringLiteral("The centre was not taken over."));
        if (!problem.isEmpty()) {
            endExchange(CenterTurn);
            emit onSettingsLoadFailed(this, problem);
            return;
        }
        profileCount = report[replyCountOffset];
        currentProfile = report[replyCurrentOffset];
    } else {
        const int index = int8_t(report[replyIndexOffset]);
        if (!isLoadedSlot(index)) {
            endExchange(CenterTurn);
            emit onSettingsLoadFailed(this, QStringLiteral("Device sent profile %1 with the new "
                                                           "centre, but %2 profiles are loaded. "
                                                           "The centre was not taken over.")
                                                .arg(index)
                                                .arg(profileCount));
            return;
        }
        std::memcpy(&profiles[index], report + replyRecordOffset, sizeof(ZudUsbWheelBaseProfile));
    }
    endExchange(CenterTurn);
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
    takeTurn(BootloaderTurn, [this] {
        send(ZudUsbCommands::enterBootloader(), false);
        endTurn(BootloaderTurn);
    });
}

void UsbDeviceZudWheelBase::loadSettings()
{
    takeTurn(LoadTurn, [this] {
        await(Awaited::SettingsHeader);
        send(ZudUsbCommands::loadSettings(), true);
    });
}

void UsbDeviceZudWheelBase::saveSettings()
{
    // Telling the device it has no profiles would wipe its table and start
    // an exchange that cannot end.
    const auto nothingToSave = [this] {
        if (profileCount != 0 && profileCount <= maxProfiles)
            return false;
        emit onSettingsLoadFailed(
            this, QStringLiteral("No profiles are loaded, so there is nothing to save."));
        return true;
    };
    if (nothingToSave())
        return;
    takeTurn(SaveTurn, [this, nothingToSave] {
        // The table may have changed while another program had the device.
        if (profileCount == 0 || profileCount > maxProfiles) {
            endTurn(SaveTurn);
            nothingToSave();
            return;
        }
        await(Awaited::SaveAccepted);
        send(ZudUsbCommands::saveSettings(profileCount, currentProfile), true);
    });
}

void UsbDeviceZudWheelBase::resetToFactoryDefaults()
{
    takeTurn(ResetTurn, [this] {
        resetReplyAwaited = true;
        send(ZudUsbCommands::resetToFactoryDefaults(), false);
        endTurn(ResetTurn);
    });
}

void UsbDeviceZudWheelBase::centerRim()
{
    if (currentProfile >= maxProfiles)
        return; // the editor never selects beyond the table
    takeTurn(CenterTurn, [this] {
        if (currentProfile >= maxProfiles) {
            endTurn(CenterTurn);
            return;
        }
        await(Awaited::CenterReply);
        send(ZudUsbCommands::centerRim(profiles[currentProfile]), true);
    });
}

bool UsbDeviceZudWheelBase::sendTestForceCommand(float constantForce)
{
    // Releasing the force never waits for anybody.
    if (constantForce == 0.0f) {
        const bool sent = send(ZudUsbCommands::testForce(constantForce), false);
        endTurn(TestForceTurn);
        return sent;
    }
    // A force that waits for another program's turn goes out when it comes,
    // or onBusy says why not.
    testForceSent = false;
    takeTurn(TestForceTurn, [this, constantForce] {
        testForceSent = send(ZudUsbCommands::testForce(constantForce), false);
    });
    return testForceSent || isWaitingForTurn();
}

void UsbDeviceZudWheelBase::sendTestBrakeResistorCommand(bool enabled)
{
    send(ZudUsbCommands::testBrakeResistor(enabled), false);
}
