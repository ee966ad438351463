// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/UsbManagerReaderThread.h"

#include "usb/UsbManager.h"

void UsbManagerReaderThread::run()
{
    manager->readerThreadLoop();
}
