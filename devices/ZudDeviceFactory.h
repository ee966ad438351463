// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "usb/UsbDevice.h"

#include <QString>
#include <cstdint>
#include <hidapi.h>

// The manager's factory for the ZUD devices (see UsbDeviceFactory): the
// wheel base, the pedals and the bootloader by their product ids; the
// shared id 0xA355 by the product string, which names a bootloader or a
// wheel base. Anything else is no supported kind (nullptr).
UsbDevice *createZudDevice(const QString &path, uint16_t productId, hid_device *handle);
