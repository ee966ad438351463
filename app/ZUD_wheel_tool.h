#pragma once

#include "devices/ZudUsbReports.h"
#include "livedata/TelemetryRecorder.h"
#include "usb/UsbManager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class DeviceMessageBoxes;
class ProfileFilesController;
class RimTurner;
class QCloseEvent;
class QProgressDialog;
class ScopePage;
class SaveVerifier;
class SharedDeviceFollower;
class UnsavedChangesGuard;
class UsbDevice;
class UsbDeviceZudBootloader;
class UsbDeviceZudPedals;
class UsbDeviceZudWheelBase;

namespace Ui {
class ZUD_wheel_tool;
}

// The application's only window. It owns its form and the device manager,
// lists the devices the manager announces, follows the one chosen in the
// device combo box and shows, edits, logs and updates it.
//
// The class is spread over several files by feature: this header and
// ZUD_wheel_tool.cpp (construction, device list, selection, enable state,
// bootloader button), ZUD_wheel_tool_liveview.cpp, ZUD_wheel_tool_settings.cpp,
// ZUD_wheel_tool_logging.cpp, ZUD_wheel_tool_firmware.cpp and
// ZUD_wheel_tool_telemetry.cpp (the Scope page and full-rate logging),
// ZUD_wheel_tool_guidance.cpp (what the window adds to the form to explain
// itself: the no-device hint, captions, status bar, shortcuts) and
// ZUD_wheel_tool_shutdown.cpp (the end that a signal asks for).
//
// Slots that a device or the manager calls (device list, the selected
// device's signals, and everything they call, the selection change
// included) never run a nested event loop: no exec(), no static QMessageBox
// or QFileDialog function, no modal QProgressDialog::setValue, no
// processEvents. The device that is calling could leave the bus and be
// deleted in that loop while its own code is still running. Boxes open
// without waiting (openMessageBox), dialogs that must wait for an answer
// are opened by a queued call once the device's call has returned, and the
// progress dialog is shown at once and advanced through its bar.
class ZUD_wheel_tool : public QMainWindow {
    Q_OBJECT

public:
    explicit ZUD_wheel_tool(QWidget *parent = nullptr);
    ~ZUD_wheel_tool() override;

    UsbManager &manager() { return usbManager; }
    // Every update of the selected wheel base, as the Scope page shows it.
    const TelemetryRecorder &telemetryRecorder() const { return telemetry; }

    // The millisecond clock of the live view's throttle; currentTimeMillis
    // unless a test or benchmark drives time itself.
    void setMillisClock(std::function<uint32_t()> clock);

    // Closes the window as the user's close does, for a signal that asks the
    // program to end (ZUD_wheel_tool_shutdown.cpp): the test force released,
    // the log closed, and unsaved profile edits backed up instead of asked
    // about, for nobody may be there to answer. Returns one line that says
    // what was done, for the terminal.
    QString closeForSignal(int signalNumber);

protected:
    // Asks before unsaved profile edits are dropped with the window.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void resetProgressDialog();
    void setUiEnabled(bool isEnabled);
    void onDeviceConnected(UsbDevice *device);
    void onDeviceDisconnected(UsbDevice *device);
    void onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);
    void onDebugOutput(UsbDevice *device, ZudUsbWheelBaseDebugOutput *debugOutput,
                       uint64_t readTimeMicros);
    void onLogDebugOutput(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);
    void onPedalsJoystickUpdate(UsbDevice *device, ZudUsbPedalsJoystickUpdate *update,
                                uint64_t readTimeMicros);
    void onPedalsLogDebugOutput(UsbDevice *device, ZudUsbPedalsJoystickUpdate *update,
                                uint64_t readTimeMicros);
    void onFirmwareUpdateStarted(int chunks);
    void onFirmwareUpdateProgress(int currentChunk);
    void onFirmwareUpdateCompleted(UsbDevice *device);
    void onFirmwareUpdateFailed(UsbDevice *device, QString errorMessage);
    void drawWheel(int16_t axis_value);
    void drawPedals(uint16_t x, uint16_t y, uint16_t z);
    void onSettingsLoaded(UsbDevice *device);
    void onSettingsLoadFailed(UsbDevice *device, QString message);
    void on_pushButton_CenterRim_clicked();
    void on_horiSlider_Force_valueChanged(int value);
    void on_horiSlider_Damping_valueChanged(int value);
    void on_horiSlider_Friction_valueChanged(int value);
    void on_horiSlider_Inertia_valueChanged(int value);
    void on_horiSlider_Spring_valueChanged(int value);
    void on_horiSlider_GenSmooth_valueChanged(int value);
    void on_comboBox_DampingEffect_activated(int index);
    void on_comboBox_FrictionEffect_activated(int index);
    void on_comboBox_InertiaEffect_activated(int index);
    void on_comboBox_SpringEffect_activated(int index);
    void on_pushButton_SaveConfig_clicked();
    void on_pushButton_LoadConfig_clicked();
    void on_pushButton_SetDefaultConfig_clicked();
    void on_pushButton_EnterExitBootloader_clicked();
    void on_pushButton_UpdateFirmware_clicked();
    void on_comboBox_ProfileName_activated(int index);
    void on_pushButton_AddProfile_clicked();
    void on_pushButton_RemoveProfile_clicked();
    void on_spinBox_RotationDegree_valueChanged(int value);
    void on_comboBox_EncoderType_activated(int index);
    void on_spinBox_EncoderRes_valueChanged(int value);
    void on_comboBox_ProfileName_currentTextChanged(QString text);
    void on_comboBox_UsbDevice_currentIndexChanged(int index);
    void on_pushButton_Logging_clicked();

private:
    // The Scope page and the full-rate logging switch, built beside the form.
    void setUpTelemetry();
    // Points the recorder and the Scope page at the selected wheel base, or
    // at none; called while the device exists.
    void followTelemetry(UsbDeviceZudWheelBase *wheelBase);
    // Following what other programs do with the selected device.
    void setUpSharing();
    // Makes the window large enough for the Scope page where the screen
    // allows, keeping it on the screen; never shrinks it.
    void growToFitScope();
    // Adds what the form lacks to explain itself (ZUD_wheel_tool_guidance.cpp).
    void setUpGuidance();
    // The guidance's part of the enable state, after setUiEnabled's own.
    void showSelectionGuidance(bool pedals);
    // "Start Logging" acts while a wheel base or pedals are selected, and
    // "Stop Logging" whenever a log is open.
    void refreshLoggingButton();
    // With unsaved edits of the selected wheel base's profiles, asks whether
    // to drop them: true to go on now; false when the user cancelled, or
    // chose to save first (retry then runs once the save is verified).
    bool mayDropProfileEdits(std::function<void()> retry);
    // The same before the user's choice of another device in the device
    // list (index, which may move while the question is open).
    bool mayLeaveProfileEdits(int &index);
    // "Save Settings": a backup of the loaded table, then the verified save;
    // then runs once the device holds what was sent.
    void saveProfiles(std::function<void()> then);
    // The box that ends a firmware update; the progress dialog closes when
    // the box is dismissed.
    void showFirmwareResult(const QString &text);
    // The chunks per second and the time left, on the progress dialog's bar.
    void showTransferPace(int currentChunk);

    Ui::ZUD_wheel_tool *ui;
    // The firmware update progress dialog while one is shown, else null.
    QProgressDialog *progressDialog;
    UsbManager usbManager;
    // The device chosen in comboBox_UsbDevice (owned by usbManager), and the
    // same object through the pointer of its kind; the other kinds are null.
    UsbDevice *selectedDevice;
    UsbDeviceZudBootloader *selectedBootloader;
    UsbDeviceZudWheelBase *selectedWheelBase;
    UsbDeviceZudPedals *selectedPedals;
    // Live view cache: the steering value last shown. The rim's turner keeps
    // the rotation last drawn, in 32 bits: a device may report a rotation
    // range whose angles do not fit 16 bits.
    std::optional<int16_t> lastAxisValue;
    std::unique_ptr<RimTurner> rimTurner;
    uint32_t lastWheelUpdateMillis;
    uint64_t lastLogReadTimeMicros;
    float latchedTorqueIn;
    QFile logFile;
    uint16_t logKind;
    // Data rows written to the open log, for the status bar at its end.
    qint64 logRows = 0;
    // Whether the window asked the selected wheel base for its settings and
    // waits for them: only then is their arrival a result worth reporting
    // (the device also announces its table after a profile was added,
    // removed or centred).
    bool settingsLoadRequested = false;
    // Started with a firmware transfer, for its pace.
    QElapsedTimer firmwareTransferClock;

    // Every update of the selected wheel base, for the Scope page.
    TelemetryRecorder telemetry;
    ScopePage *scopePage;
    // "Log every report": the logger takes every update, not the shown ones.
    bool logEveryReport;

    std::function<uint32_t()> millisClock;

    // Profile safety: unsaved edits, verified saves, files and backups.
    UnsavedChangesGuard *unsavedChanges;
    SaveVerifier *saveVerifier;
    ProfileFilesController *profileFiles;
    SharedDeviceFollower *sharedDevice;
    // One box at a time per device for its failures.
    DeviceMessageBoxes *deviceBoxes;
    // Set while the item of a device that has left is being removed.
    bool deviceLeaving = false;
    // Set once a signal ends the window: closing then asks nothing.
    bool closingForSignal = false;
};
