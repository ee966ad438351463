// SPDX-License-Identifier: GPL-3.0-or-later
// The window's profile files: "Export…", "Import…" and "Backups…", and the
// automatic backup of the table as last loaded from the device before an
// operation that overwrites or drops it.
#pragma once

#include "profiles/ProfileBackupStore.h"

#include <QObject>
#include <functional>

class QBoxLayout;
class QMainWindow;
class QPushButton;
class UnsavedChangesGuard;
class UsbDeviceZudWheelBase;

class ProfileFilesController : public QObject {
    Q_OBJECT

public:
    // The buttons are added to layout. selectedWheelBase gives the wheel
    // base chosen now (or null); showTable refills the editor from its
    // table.
    ProfileFilesController(QMainWindow *window, QBoxLayout *layout, UnsavedChangesGuard *guard,
                           std::function<UsbDeviceZudWheelBase *()> selectedWheelBase,
                           std::function<void()> showTable);

    ProfileBackupStore &store() { return backups; }
    // The buttons work while a wheel base's settings are shown.
    void setEnabled(bool enabled);

    // Backs up the loaded table of the selected wheel base with reason
    // before an operation the user started. When that fails, a modal box
    // says why and lets the user go on without a backup (true) or stop
    // (false). True when there is nothing loaded to back up.
    bool backupBefore(const QString &reason);
    // Keeps the unsaved table of a wheel base that is leaving; returns the
    // backup's path, or an empty string and error. Opens no dialog.
    QString backupUnsaved(UsbDeviceZudWheelBase &wheelBase, QString &error);

    void exportProfiles();
    void importProfiles();
    void restoreBackup();

private:
    void importFile(const QString &path);
    void showStatus(const QString &text);
    // Lists the imported levels that the editor rounds.
    void showRounded(const QStringList &rounded);

    QMainWindow *window;
    UnsavedChangesGuard *guard;
    std::function<UsbDeviceZudWheelBase *()> selectedWheelBase;
    std::function<void()> showTable;
    ProfileBackupStore backups;
    QPushButton *exportButton;
    QPushButton *importButton;
    QPushButton *restoreButton;
};
