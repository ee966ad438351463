#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

#include <QByteArray>
#include <QString>

// CRC-32/MPEG-2 over the data taken as little-endian 32-bit words (each word
// fed most significant byte first); a trailing partial word is ignored.
uint32_t firmwareCrc(const uint8_t *data, size_t length);

// A wheel base or pedal set running its USB bootloader: the chunked,
// acknowledged firmware transfer, the restart into the application and the
// factory reset.
class UsbDeviceZudBootloader : public UsbDevice {
    Q_OBJECT

public:
    static constexpr int chunkSize = 32;

    UsbDeviceZudBootloader(QString id, hid_device *hidDevice);

    void sendChunk(int index);
    void handleReport(const uint8_t *report, uint64_t readTimeMicros) override;

    uint32_t deviceInfo1 = 0;
    uint16_t deviceInfo2 = 0;
    uint8_t deviceInfo3 = 0;

signals:
    void onSettingsLoaded(UsbDevice *device);
    void onFirmwareUpdateStarted(int chunks);
    void onFirmwareUpdateProgress(int currentChunk, int totalChunks);
    void onUpdateCompleted(UsbDevice *device);
    void onUpdateFailed(UsbDevice *device, QString errorMessage);

public slots:
    void exitBootloader();
    void resetToFactoryDefaults();
    void loadSettings();
    void updateFirmware(QByteArray newFirmwareBytes);

private:
    QByteArray firmwareBytes;
};
