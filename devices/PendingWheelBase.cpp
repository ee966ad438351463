// Temporary: the protocol operations land with the device protocol work,
// which deletes this file.
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
