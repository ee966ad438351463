// SPDX-License-Identifier: GPL-3.0-or-later
// The settings editor: fills the controls from the selected wheel base's
// current profile, writes control changes back, keeps the profile list, and
// loads, saves, resets and centres. The profile table lives in the wheel
// base object; the editor reads and writes it in place and sends nothing
// until "Save Settings" (or "Center"). It composes the guards of the
// profiles: unsaved edits, verified saves, files and backups, and other
// programs on the same device.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class DeviceControls;
class DeviceMessageBoxes;
class DeviceSelection;
class LiveView;
class ProfileFilesController;
class QMainWindow;
class SaveVerifier;
class SharedDeviceFollower;
class UnsavedChangesGuard;
class UsbDevice;

namespace Ui {
class ZUD_wheel_tool;
}

class SettingsEditor : public QObject {
    Q_OBJECT

public:
    SettingsEditor(QMainWindow *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection,
                   DeviceControls &controls, LiveView &liveView);

    // The wheel base announced its table, or refused to send it.
    void settingsLoaded(UsbDevice *device);
    void settingsLoadFailed(UsbDevice *device, const QString &message);

    // The controls of the form, each writing its field of the current profile.
    void profileChosen(int index);
    void profileNameEdited(const QString &text);
    void forceChanged(int value);
    void smoothingChanged(int value);
    void dampingChanged(int value);
    void frictionChanged(int value);
    void inertiaChanged(int value);
    void springChanged(int value);
    void dampingEffectChosen(int index);
    void frictionEffectChosen(int index);
    void inertiaEffectChosen(int index);
    void springEffectChosen(int index);
    void encoderTypeChosen(int index);
    void rotationChanged(int value);
    void encoderResolutionChanged(int value);

    // The buttons: add, remove, "Save Settings", "Reload Settings",
    // "Factory Defaults" and "Center".
    void addProfile();
    void removeProfile();
    void save();
    void reload();
    void resetToDefaults();
    void centerRim();

    // With unsaved edits of the selected wheel base's profiles, asks whether
    // to drop them: true to go on now; false when the user cancelled, or
    // chose to save first (retry then runs once the save is verified).
    // Only for actions the user started: the question runs an event loop.
    bool mayDropProfileEdits(std::function<void()> retry);
    bool hasUnsavedEdits() const;
    // The wheel base's profile was switched by this program (by hand or
    // for a game) and its table read back: when it is the selected one,
    // the editor shows that table as loaded from the device.
    void profileSwitched(UsbDevice *device);
    // Backs up the loaded table before an operation the user started that
    // overwrites or drops it; false when the user chose to stop.
    bool backupBefore(const QString &reason);

    // Follow the selection: a wheel base entered is asked for its settings.
    void selectionLeaving();
    void selectionEntered();
    // Keeps unsaved edits at the program's end; says where, or returns an
    // empty string when there were none.
    QString backupForEnd();

signals:
    // The selected wheel base's profiles got unsaved edits, or have none
    // any more (saved, discarded, or the wheel base is no longer selected).
    void unsavedEditsChanged(bool unsaved);

private:
    // The selected device is leaving the bus: the status bar says what
    // became of a save and of unsaved edits, without a dialog.
    void deviceDeparting(UsbDevice *device);
    // "Save Settings": a backup of the loaded table, then the verified save;
    // then runs once the device holds what was sent.
    void saveProfiles(std::function<void()> then);
    void setUpSharing();

    QMainWindow *window;
    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
    DeviceControls &controls;
    LiveView &liveView;
    // One box at a time per device for its failures.
    DeviceMessageBoxes *deviceBoxes;
    UnsavedChangesGuard *unsavedChanges;
    SaveVerifier *saveVerifier;
    SharedDeviceFollower *sharedDevice;
    ProfileFilesController *profileFiles;
    // Whether the editor asked the selected wheel base for its settings and
    // waits for them: only then is their arrival a result worth reporting
    // (the device also announces its table after a profile was added,
    // removed or centred).
    bool settingsLoadRequested = false;
};
