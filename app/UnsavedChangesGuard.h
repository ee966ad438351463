// SPDX-License-Identifier: GPL-3.0-or-later
// Knows the selected wheel base's table as last loaded from the device and
// whether the editor's table differs from it: shows that in the window
// title and on "Save Settings", and asks before unsaved edits would be
// dropped.
#pragma once

#include "profiles/ProfileFile.h"

#include <QObject>
#include <QPointer>

class QMainWindow;
class QPushButton;
class UsbDeviceZudWheelBase;

class UnsavedChangesGuard : public QObject {
    Q_OBJECT

public:
    UnsavedChangesGuard(QMainWindow *window, QPushButton *saveButton);

    // The wheel base whose table is watched, or null; its loaded table is
    // forgotten until its next load has ended.
    void setWheelBase(UsbDeviceZudWheelBase *wheelBase);
    // The next settings arrival ends a load exchange (and is not an add,
    // remove or centre).
    void expectLoad();
    // The load that was expected did not start (another program kept the
    // device): the next settings arrival is an edit again.
    void loadAbandoned() { loadPending = false; }
    // The wheel base announced its settings. Returns true when that ended a
    // load: its table is then the loaded table.
    bool settingsArrived();

    bool hasLoadedTable() const { return hasLoaded; }
    const ProfileTable &loadedTable() const { return loaded; }

    // The editor has shown the wheel base's table. After a load, the table
    // as shown is what later edits are measured against: showing a profile
    // may round its levels, which is no edit of the user's.
    void editorFilled();
    // The load that just ended is measured as it came from the device, so
    // that a table put back into the editor over it counts as unsaved.
    void measureAgainstDevice();

    // Compares the editor's table with the last one loaded and shows the
    // result.
    void refresh();
    bool isModified() const { return modified; }

    enum class Decision { Proceed, Discard, SaveFirst, Cancel };
    // With unsaved changes, asks "Discard unsaved changes?" (Save, Discard,
    // Cancel) in a modal box; without, proceeds at once. Only for actions
    // the user started: the box runs an event loop.
    Decision confirmDiscard();
    // Puts the table the edits were made on back into the wheel base.
    void revertEdits();

signals:
    // isModified() changed.
    void modifiedChanged(bool modified);

private:
    QMainWindow *window;
    QPushButton *saveButton;
    QPointer<UsbDeviceZudWheelBase> wheelBase;
    ProfileTable loaded;
    ProfileTable baseline;
    bool hasLoaded = false;
    bool baselinePending = false;
    bool loadPending = false;
    bool modified = false;
};
