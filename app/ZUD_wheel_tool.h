// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/CsvLogger.h"
#include "app/DeviceControls.h"
#include "app/DeviceList.h"
#include "app/DeviceSelection.h"
#include "app/FirmwareUpdateFlow.h"
#include "app/GameSwitching.h"
#include "app/GamesPage.h"
#include "app/LiveView.h"
#include "app/SettingsEditor.h"
#include "app/TelemetryView.h"
#include "app/TrayIcon.h"
#include "app/TrayOptions.h"
#include "app/WindowGuidance.h"
#include "devices/ZudUsbReports.h"
#include "usb/UsbManager.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>

class QCloseEvent;
class UsbDevice;
class UsbDeviceZudWheelBase;

namespace Ui {
class ZUD_wheel_tool;
}

// The application's only window: its form, the device manager, and the
// wiring between them and the features the window is made of. The slots
// are the window's interface; each hands on to the feature that does the
// work:
//
//   DeviceList          the device list, and the choice of a device in it
//   DeviceSelection     the selected device and its kind; tells the
//                       features what is selected and when it goes
//   DeviceControls      which controls are shown and enabled for it
//   LiveView            the rim, the values and the pedal bars
//   CsvLogger           the CSV log
//   SettingsEditor      the profiles and their guards
//   FirmwareUpdateFlow  the bootloader button and the firmware update
//   TelemetryView       the recorder and the Scope page
//   WindowGuidance      the hint, captions, shortcuts and tab order
//   GamesPage           the "Games" page and its rules file
//   TrayIcon            the tray icon, its menu and notifications
//   TrayOptions         close to the tray, start at login
//   GameSwitching       the game watcher while switching is on
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
    const TelemetryRecorder &telemetryRecorder() const { return telemetry.recorder(); }

    // The millisecond clock of the live view's throttle; currentTimeMillis
    // unless a test or benchmark drives time itself.
    void setMillisClock(std::function<uint32_t()> clock);

    // Closes the window as the user's close does, for a signal that asks the
    // program to end: the test force released, the log closed, and unsaved
    // profile edits backed up instead of asked about, for nobody may be
    // there to answer. Returns one line that says what was done, for the
    // terminal.
    QString closeForSignal(int signalNumber);

    // Started with --tray: stays hidden with its icon in the tray; false,
    // with a line in the status bar, where there is no tray (the caller
    // then shows the window).
    bool startInTray();
    static QString noTrayText();
    // Closes the window and ends the program, as "Quit" in the tray menu
    // does (unsaved edits are asked about).
    void quit();

    GamesPage &gamesPage() { return games; }
    TrayIcon &trayIcon() { return tray; }
    GameSwitching &gameSwitching() { return switching; }

protected:
    // Asks before unsaved profile edits are dropped with the window.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void resetProgressDialog() { firmware.resetProgressDialog(); }
    void setUiEnabled(bool isEnabled) { controls.apply(isEnabled); }
    void onDeviceConnected(UsbDevice *device) { deviceList.add(device); }
    void onDeviceDisconnected(UsbDevice *device) { deviceList.remove(device); }
    void onJoystickUpdate(UsbDevice * /*device*/, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros)
    {
        liveView.showWheelUpdate(*update, readTimeMicros);
    }
    void onDebugOutput(UsbDevice * /*device*/, ZudUsbWheelBaseDebugOutput *debugOutput,
                       uint64_t /*readTimeMicros*/)
    {
        liveView.showDebugOutput(*debugOutput);
    }
    void onLogDebugOutput(UsbDevice * /*device*/, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros)
    {
        logging.logWheelUpdate(*update, readTimeMicros);
    }
    void onPedalsJoystickUpdate(UsbDevice * /*device*/, ZudUsbPedalsJoystickUpdate *update,
                                uint64_t readTimeMicros)
    {
        liveView.showPedalsUpdate(*update, readTimeMicros);
    }
    void onPedalsLogDebugOutput(UsbDevice * /*device*/, ZudUsbPedalsJoystickUpdate *update,
                                uint64_t readTimeMicros)
    {
        logging.logPedalsUpdate(*update, readTimeMicros);
    }
    void onFirmwareUpdateStarted(int chunks) { firmware.started(chunks); }
    void onFirmwareUpdateProgress(int currentChunk) { firmware.progressed(currentChunk); }
    void onFirmwareUpdateCompleted(UsbDevice * /*device*/) { firmware.completed(); }
    void onFirmwareUpdateFailed(UsbDevice * /*device*/, QString errorMessage)
    {
        firmware.failed(errorMessage);
    }
    void drawWheel(int16_t axis_value) { liveView.drawWheel(axis_value); }
    void drawPedals(uint16_t x, uint16_t y, uint16_t z) { liveView.drawPedals(x, y, z); }
    void onSettingsLoaded(UsbDevice *device)
    {
        editor.settingsLoaded(device);
        games.profileNamesChanged();
    }
    void onSettingsLoadFailed(UsbDevice *device, QString message)
    {
        editor.settingsLoadFailed(device, message);
    }
    void on_pushButton_CenterRim_clicked() { editor.centerRim(); }
    void on_horiSlider_Force_valueChanged(int value) { editor.forceChanged(value); }
    void on_horiSlider_Damping_valueChanged(int value) { editor.dampingChanged(value); }
    void on_horiSlider_Friction_valueChanged(int value) { editor.frictionChanged(value); }
    void on_horiSlider_Inertia_valueChanged(int value) { editor.inertiaChanged(value); }
    void on_horiSlider_Spring_valueChanged(int value) { editor.springChanged(value); }
    void on_horiSlider_GenSmooth_valueChanged(int value) { editor.smoothingChanged(value); }
    void on_comboBox_DampingEffect_activated(int index) { editor.dampingEffectChosen(index); }
    void on_comboBox_FrictionEffect_activated(int index) { editor.frictionEffectChosen(index); }
    void on_comboBox_InertiaEffect_activated(int index) { editor.inertiaEffectChosen(index); }
    void on_comboBox_SpringEffect_activated(int index) { editor.springEffectChosen(index); }
    void on_pushButton_SaveConfig_clicked() { editor.save(); }
    void on_pushButton_LoadConfig_clicked() { editor.reload(); }
    void on_pushButton_SetDefaultConfig_clicked() { editor.resetToDefaults(); }
    void on_pushButton_EnterExitBootloader_clicked() { firmware.switchBootloader(); }
    void on_pushButton_UpdateFirmware_clicked() { firmware.chooseFile(); }
    void on_comboBox_ProfileName_activated(int index) { editor.profileChosen(index); }
    void on_pushButton_AddProfile_clicked() { editor.addProfile(); }
    void on_pushButton_RemoveProfile_clicked() { editor.removeProfile(); }
    void on_spinBox_RotationDegree_valueChanged(int value) { editor.rotationChanged(value); }
    void on_comboBox_EncoderType_activated(int index) { editor.encoderTypeChosen(index); }
    void on_spinBox_EncoderRes_valueChanged(int value) { editor.encoderResolutionChanged(value); }
    void on_comboBox_ProfileName_currentTextChanged(QString text)
    {
        editor.profileNameEdited(text);
    }
    void on_comboBox_UsbDevice_currentIndexChanged(int index) { deviceList.choose(index); }
    void on_pushButton_Logging_clicked() { logging.toggle(); }

private:
    // Connects the selected device's signals to the slots of the same
    // names, and disconnects them when the selection leaves it.
    void connectSelected();
    void disconnectSelected();
    // This program switched the wheel base's profile and read its table
    // back: the editor and the Games page show it.
    void profileSwitched(UsbDeviceZudWheelBase *wheelBase);
    void showFromTray();
    // Why a hand switch from the tray may not start now, or empty.
    QString handSwitchRefusal(UsbDeviceZudWheelBase &wheelBase) const;

    // Built and set up first: the features below find their widgets in it.
    Ui::ZUD_wheel_tool *ui;
    UsbManager usbManager;
    // The features, in the order they are built: each may use the ones
    // before it.
    DeviceSelection selection;
    DeviceControls controls;
    CsvLogger logging;
    LiveView liveView;
    TelemetryView telemetry;
    SettingsEditor editor;
    FirmwareUpdateFlow firmware;
    WindowGuidance guidance;
    DeviceList deviceList;
    GamesPage games;
    TrayIcon tray;
    TrayOptions trayOptions;
    GameSwitching switching;
    // Set once a signal ends the window: closing then asks nothing.
    bool closingForSignal = false;
    // Closing ends the program rather than going to the tray.
    bool quitting = false;
};
