// SPDX-License-Identifier: GPL-3.0-or-later
#include "devices/ZudDeviceFactory.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "usb/UsbManager.h"

#include <cwchar>

UsbDevice *createZudDevice(const QString &path, uint16_t productId, hid_device *handle)
{
    switch (productId) {
    case ZudUsbIds::bootloader:
    case ZudUsbIds::bootloaderAlt:
        return new UsbDeviceZudBootloader(path, handle);
    case ZudUsbIds::wheelBase:
        return new UsbDeviceZudWheelBase(path, handle);
    case ZudUsbIds::pedals:
        return new UsbDeviceZudPedals(path, handle);
    case ZudUsbIds::wheelBaseOrBootloader: {
        wchar_t buffer[256] = {};
        hid_get_product_string(handle, buffer, 256);
        buffer[255] = L'\0';
        const QString product = QString::fromWCharArray(buffer, int(std::wcslen(buffer)));
        if (product.contains(QLatin1String("Bootloader")))
            return new UsbDeviceZudBootloader(path, handle);
        if (product.contains(QLatin1String("Wheel Base")))
            return new UsbDeviceZudWheelBase(path, handle);
        return nullptr;
    }
    default:
        return nullptr;
    }
}
