#include "usb/UsbDevice.h"

#include <cstring>
#include <cwchar>

namespace {
constexpr int productStringChars = 256;
constexpr int retryIntervalMs = 200;
} // namespace

UsbDevice::UsbDevice(QString id, hid_device *hidDevice)
    : QObject(nullptr), id(std::move(id)), hidDevice(hidDevice), lastReport{}
{
    wchar_t buffer[productStringChars] = {};
    hid_get_product_string(hidDevice, buffer, productStringChars);
    buffer[productStringChars - 1] = L'\0';
    productString = QString::fromWCharArray(buffer, int(std::wcslen(buffer)));

    wchar_t serial[productStringChars] = {};
    if (hid_get_serial_number_string(hidDevice, serial, productStringChars) == 0) {
        serial[productStringChars - 1] = L'\0';
        serialNumber = QString::fromWCharArray(serial, int(std::wcslen(serial)));
    }

    retryTimer.setSingleShot(true);
    retryTimer.setInterval(retryIntervalMs);
    connect(&retryTimer, &QTimer::timeout, this, &UsbDevice::retryOnTimeout);
}

UsbDevice::~UsbDevice()
{
    hid_close(hidDevice);
}

int UsbDevice::read(uint8_t *report)
{
    return hid_read(hidDevice, report, zudUsbReportSize);
}

bool UsbDevice::write(const uint8_t *report, bool expectReply)
{
    // Copy first: report may point into lastReport itself (a retry).
    if (report != lastReport.data)
        std::memcpy(lastReport.data, report, zudUsbReportSize);
    const int written = hid_write(hidDevice, lastReport.data, zudUsbReportSize);
    if (written < 0 || expectReply)
        retryTimer.start();
    return written == zudUsbReportSize;
}

void UsbDevice::handleReport(const uint8_t *report, uint64_t)
{
    if (report[0] != zudJoystickReportId)
        retryTimer.stop();
}

bool UsbDevice::isStreamReport(const uint8_t *report) const
{
    return report[0] == zudJoystickReportId;
}

void UsbDevice::retryOnTimeout()
{
    write(lastReport.data, true);
}
