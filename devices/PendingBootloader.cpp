// Temporary: the protocol operations land with the device protocol work,
// which deletes this file.
#include "devices/UsbDeviceZudBootloader.h"

void UsbDeviceZudBootloader::sendChunk(int) {}
void UsbDeviceZudBootloader::exitBootloader() {}
void UsbDeviceZudBootloader::resetToFactoryDefaults() {}
void UsbDeviceZudBootloader::loadSettings() {}
void UsbDeviceZudBootloader::updateFirmware(QByteArray) {}
uint32_t firmwareCrc(const uint8_t *, size_t)
{
    return 0;
}
