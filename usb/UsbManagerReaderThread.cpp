#include "usb/UsbManagerReaderThread.h"

#include "usb/UsbManager.h"

void UsbManagerReaderThread::run()
{
    manager->readerThreadLoop();
}
