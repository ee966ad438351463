// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceList.h"

#include "app/DeviceSelection.h"
#include "app/SettingsEditor.h"
#include "usb/UsbDevice.h"
#include "usb/UsbManager.h"

#include <QComboBox>
#include <QSignalBlocker>

DeviceList::DeviceList(QComboBox *list, UsbManager &manager, DeviceSelection &selection,
                       SettingsEditor &editor)
    : list(list), manager(manager), selection(selection), editor(editor)
{
}

void DeviceList::add(UsbDevice *device)
{
    // The first item becomes current, and its index change selects the device.
    // The list's placeholder keeps the toolkit from doing that by itself.
    list->insertItem(list->count(), device->getProductString(), device->getId());
    if (list->count() == 1 && list->currentIndex() < 0)
        list->setCurrentIndex(0);
}

void DeviceList::remove(UsbDevice *device)
{
    if (device == selection.device())
        selection.announceDeparture();
    // Removing the current item moves the selection (or clears it) while the
    // device still exists: the manager deletes it after this returns.
    const QString id = device->getId();
    for (int i = list->count() - 1; i >= 0; --i) {
        if (list->itemData(i, Qt::UserRole).toString() == id) {
            deviceLeaving = true;
            list->removeItem(i);
            deviceLeaving = false;
            return;
        }
    }
}

void DeviceList::choose(int index)
{
    // Removing an item listed before the current one moves the current
    // index, and the toolkit reports that as an index change, though the
    // same device stays chosen. It is no new choice: leaving and entering
    // the selection again would reload a wheel base's settings over the
    // user's unsaved edits, or close a bootloader's progress dialog in the
    // middle of a transfer and open the file chooser again.
    UsbDevice *selected = selection.device();
    if (selected && index >= 0 &&
        list->itemData(index, Qt::UserRole).toString() == selected->getId() &&
        manager.getDevice(selected->getId()) == selected)
        return;

    if (!mayLeaveProfileEdits(index))
        return;

    selection.leave();
    if (index == -1)
        return;
    const QString id = list->itemData(index, Qt::UserRole).toString();
    selection.enter(manager.getDevice(id));
}

bool DeviceList::mayLeaveProfileEdits(int &index)
{
    // Only a choice of the user's asks: not the removal of a device that
    // left, nor the destructor's deselection.
    if (!selection.wheelBase() || index < 0 || deviceLeaving || !editor.hasUnsavedEdits())
        return true;
    // The list shows the wheel base again while the question is open.
    const QString chosen = list->itemData(index, Qt::UserRole).toString();
    {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(list->findData(selection.device()->getId()));
    }
    QComboBox *devices = list;
    const bool proceed = editor.mayDropProfileEdits([devices, chosen] {
        const int at = devices->findData(chosen);
        if (at >= 0)
            devices->setCurrentIndex(at);
    });
    // The question ran an event loop: devices may have come and gone.
    const int at = list->findData(chosen);
    if (!proceed || at < 0 || !selection.wheelBase())
        return false;
    const QSignalBlocker blocker(list);
    list->setCurrentIndex(at);
    index = at;
    return true;
}
