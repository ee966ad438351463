// SPDX-License-Identifier: GPL-3.0-or-later
// The device list (comboBox_UsbDevice): one item per device the manager
// announces, its text the product string and its data the device's id, by
// which the device is found again. Choosing an item selects its device.
#pragma once

#include <QObject>

class DeviceSelection;
class QComboBox;
class SettingsEditor;
class UsbDevice;
class UsbManager;

class DeviceList : public QObject {
    Q_OBJECT

public:
    DeviceList(QComboBox *list, UsbManager &manager, DeviceSelection &selection,
               SettingsEditor &editor);

    // A device arrived: the first one becomes current and is selected.
    void add(UsbDevice *device);
    // A device is leaving: its item goes, and the selection moves while the
    // device still exists (the manager deletes it after this returns).
    void remove(UsbDevice *device);
    // The current item changed to index (−1: none).
    void choose(int index);

private:
    // Before the user's choice of another device: asks about unsaved edits
    // of the wheel base that is left (index may move while the question is
    // open). False to stay with the wheel base.
    bool mayLeaveProfileEdits(int &index);

    QComboBox *list;
    UsbManager &manager;
    DeviceSelection &selection;
    SettingsEditor &editor;
    // Set while the item of a device that has left is being removed.
    bool deviceLeaving = false;
};
