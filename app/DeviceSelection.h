// SPDX-License-Identifier: GPL-3.0-or-later
// The device chosen in the window's device list, and the same object through
// the pointer of its kind. Tells the features what is selected and when it
// goes; the devices belong to the manager, which deletes them only after
// their departure has been announced and handled.
#pragma once

#include <QObject>

class UsbDevice;
class UsbDeviceZudBootloader;
class UsbDeviceZudPedals;
class UsbDeviceZudWheelBase;

class DeviceSelection : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The selected device, or null; at most one of the kind pointers is set,
    // and then to the same object. All are null for a device of another kind.
    UsbDevice *device() const { return selected; }
    UsbDeviceZudWheelBase *wheelBase() const { return selectedWheelBase; }
    UsbDeviceZudPedals *pedals() const { return selectedPedals; }
    UsbDeviceZudBootloader *bootloader() const { return selectedBootloader; }

    // Leaves the selected device, if any: leaving() while its pointers are
    // still set, then left() with the kind pointers cleared.
    void leave();
    // Selects device (null when its id is no longer registered), after
    // leave(); entered() follows for a device.
    void enter(UsbDevice *device);
    // The selected device is leaving the bus: the manager deletes it once
    // the departure has been handled.
    void announceDeparture();

signals:
    // Each is emitted while the device exists. Listeners must not run a
    // nested event loop: a device's call may have brought the change.
    void leaving();
    void left();
    void entered();
    void departing(UsbDevice *device);

private:
    UsbDevice *selected = nullptr;
    UsbDeviceZudWheelBase *selectedWheelBase = nullptr;
    UsbDeviceZudPedals *selectedPedals = nullptr;
    UsbDeviceZudBootloader *selectedBootloader = nullptr;
};
