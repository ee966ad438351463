// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

#include <QString>

// The force-feedback wheel base in application mode: its profile table, the
// reply-driven load and save, the one-shot commands, and the decoding of its
// input reports into signals.
//
// Other programs may have the same wheel base open and read every reply it
// sends, their own included. The object acts only on the replies to an
// exchange it started itself, at the step it waits for; any other settings,
// profile, save, centre or reset reply changes nothing and sends nothing.
// Those that show another program changing the table (a save, a centre, a
// factory reset) are announced with onSettingsChangedElsewhere.
class UsbDeviceZudWheelBase : public UsbDevice {
    Q_OBJECT

public:
    UsbDeviceZudWheelBase(QString id, hid_device *hidDevice);

    // The settings layout this tool speaks (byte 2 of the settings header).
    // A wheel base with another firmware refuses every load: its table
    // cannot be read (settingsVersion tells which it has).
    static constexpr uint8_t compatibleSettingsVersion = 3;

    void addProfile();
    void removeProfile();
    void readProfile(uint8_t index);
    void writeProfile(int index);
    void finishLoadSettings();
    void finishSaveSettings();
    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;
    QString kindName() const override { return QStringLiteral("wheel base"); }

    // The settings as last loaded, edited in place by the settings editor.
    uint32_t settingsVersion = 0;
    uint32_t deviceInfo1 = 0;
    uint16_t deviceInfo2 = 0;
    uint8_t deviceInfo3 = 0;
    uint8_t deviceInfo4[32] = {};
    uint8_t profileCount = 0;
    uint8_t currentProfile = 0;
    ZudUsbWheelBaseProfile profiles[maxProfiles] = {};

signals:
    // A load of this object's own has ended, and profiles holds the table
    // exactly as the device sent it. Emitted just before onSettingsLoaded,
    // whose receivers may change the table in memory (the editor writes
    // back what it shows); for a caller that must send the table back as
    // it was read.
    void onTableReceived(UsbDevice *device);
    void onSettingsLoaded(UsbDevice *device);
    void onSettingsLoadFailed(UsbDevice *device, QString message);
    void onSettingsSaved(UsbDevice *device);
    void onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);
    void onDebugOutput(UsbDevice *device, ZudUsbWheelBaseDebugOutput *output,
                       uint64_t readTimeMicros);
    void onTestCommand(UsbDevice *device, ZudUsbWheelBaseTestCommand *testCommand);
    // A reply to another program's save, centre or factory reset: the
    // device's table is no longer the one this object loaded. Emitted for
    // each such reply; nothing in this object has changed.
    void onSettingsChangedElsewhere(UsbDevice *device);

public slots:
    void enterBootloader();
    void loadSettings();
    void saveSettings();
    void resetToFactoryDefaults();
    void centerRim();
    // Whether the command went out (a force waiting for another program's
    // turn counts as on its way).
    bool sendTestForceCommand(float constantForce);
    void sendTestBrakeResistorCommand(bool enabled);

private:
    // The reply this object's own exchange waits for.
    enum class Awaited {
        Nothing,
        SettingsHeader,
        ProfileRead,    // type 5 for awaitedIndex
        SaveAccepted,   // type 4, byte 42 not 255
        ProfileWritten, // type 6 for awaitedIndex
        SaveEnded,      // the save is over; the device may still confirm it
        CenterReply,
    };
    void await(Awaited what, int index = 0);
    // Ends the running exchange of `turn` without a result.
    void endExchange(Turn turn);
    void handleSaveReply(const uint8_t *report);
    void handleSettingsHeader(const uint8_t *report);
    void handleProfileRead(const uint8_t *report);
    void handleProfileWritten(const uint8_t *report);
    void handleCenterReply(const uint8_t *report);
    // True when index names a loaded slot of the table (below profileCount,
    // which never exceeds maxProfiles).
    bool isLoadedSlot(int index) const;
    // The reason why a profile count and current index from the device
    // cannot be taken over (ending with outcome), or an empty string when
    // they can.
    static QString countProblem(uint8_t count, uint8_t current, const QString &outcome);
    bool send(const ZudUsbReport &report, bool expectReply);

    Awaited awaited = Awaited::Nothing;
    int awaitedIndex = 0;
    // The device answers a factory reset with a reply of its own.
    bool resetReplyAwaited = false;
    // Whether the last test force that started went out.
    bool testForceSent = false;
};
