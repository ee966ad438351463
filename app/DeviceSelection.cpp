// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceSelection.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"

void DeviceSelection::leave()
{
    if (!selected)
        return;
    emit leaving();
    selectedWheelBase = nullptr;
    selectedPedals = nullptr;
    selectedBootloader = nullptr;
    // With the kind pointers cleared: what follows the selection also
    // follows it when nothing is selected next.
    emit left();
    selected = nullptr;
}

void DeviceSelection::enter(UsbDevice *device)
{
    leave();
    selected = device;
    if (!device)
        return;
    if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(device))
        selectedWheelBase = wheelBase;
    else if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(device))
        selectedPedals = pedals;
    else if (auto *bootloader = qobject_cast<UsbDeviceZudBootloader *>(device))
        selectedBootloader = bootloader;
    emit entered();
}

void DeviceSelection::announceDeparture()
{
    if (selected)
        emit departing(selected);
}
