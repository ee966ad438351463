// Temporary: the protocol operations of the wheel base and the bootloader
// land with the device protocol work, which deletes this file.
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudWheelBase.h"

void UsbDeviceZudWheelBase::addProfile() {}
void UsbDeviceZudWheelBase::removeProfile() {}
void UsbDeviceZudWheelBase::readProfile(uint8_t) {}
void UsbDeviceZudWheelBase::writeProfile(int) {}
void UsbDeviceZudWheelBase::finishLoadSettings() {}
void UsbDeviceZudWheelBase::finishSaveSettings() {}
void UsbDeviceZudWheelBase::enterBootloader() {}
void UsbDeviceZudWheelBase::loadSettings() {}
void UsbDeviceZudWheelBase::saveSettings() {}
void UsbDeviceZudWheelBase::resetToFactoryDefaults() {}
void UsbDeviceZudWheelBase::centerRim() {}
void UsbDeviceZudWheelBase::sendTestForceCommand(float) {}
void UsbDeviceZudWheelBase::sendTestBrakeResistorCommand(bool) {}
void UsbDeviceZudBootloader::sendChunk(int) {}
void UsbDeviceZudBootloader::exitBootloader() {}
void UsbDeviceZudBootloader::resetToFactoryDefaults() {}
void UsbDeviceZudBootloader::loadSettings() {}
void UsbDeviceZudBootloader::updateFirmware(QByteArray) {}
uint32_t firmwareCrc(const uint8_t *, size_t)
{
    return 0;
}
