#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

#include <QString>

// The force-feedback wheel base in application mode: its profile table, the
// reply-driven load and save, the one-shot commands, and the decoding of its
// input reports into signals.
class UsbDeviceZudWheelBase : public UsbDevice {
    Q_OBJECT

public:
    UsbDeviceZudWheelBase(QString id, hid_device *hidDevice);

    void addProfile();
    void removeProfile();
    void readProfile(uint8_t index);
    void writeProfile(int index);
    void finishLoadSettings();
    void finishSaveSettings();
    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;

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
    void onSettingsLoaded(UsbDevice *device);
    void onSettingsLoadFailed(UsbDevice *device, QString message);
    void onSettingsSaved(UsbDevice *device);
    void onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);
    void onDebugOutput(UsbDevice *device, ZudUsbWheelBaseDebugOutput *output,
                       uint64_t readTimeMicros);
    void onTestCommand(UsbDevice *device, ZudUsbWheelBaseTestCommand *testCommand);

public slots:
    void enterBootloader();
    void loadSettings();
    void saveSettings();
    void resetToFactoryDefaults();
    void centerRim();
    // Whether the command went out.
    bool sendTestForceCommand(float constantForce);
    void sendTestBrakeResistorCommand(bool enabled);

private:
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
};
