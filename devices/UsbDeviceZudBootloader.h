// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devices/ZudUsbReports.h"
#include "usb/UsbDevice.h"

#include <QByteArray>
#include <QString>

// CRC-32/MPEG-2 over the data taken as little-endian 32-bit words (each word
// fed most significant byte first); a trailing partial word is ignored. The
// word count is 16 bits wide, as in the bootloader, which only ever checks
// one 32-byte chunk.
uint32_t firmwareCrc(const uint8_t *data, size_t length);

// The command reports the bootloader understands (report id 100).
namespace ZudBootloaderReports {
// The largest chunk count the signed 16-bit chunk fields can carry.
constexpr int maxChunks = 32767;

// Reset with restartFlag: leave the bootloader and start the application.
ZudUsbReport exitBootloader();
// Reset with factoryResetFlag.
ZudUsbReport resetToFactoryDefaults();
// Settings request; the bootloader answers with its device information.
ZudUsbReport loadSettings();
// Chunk `index` (0 <= index < totalChunks <= maxChunks) of an image that
// holds totalChunks * 32 bytes.
ZudUsbReport firmwareChunk(const uint8_t *image, int totalChunks, int index);
// The report that closes a transfer of totalChunks chunks.
ZudUsbReport firmwareEnd(int totalChunks);
} // namespace ZudBootloaderReports

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
    // A bootloader streams nothing: every report answers a chunk or a command.
    bool isStreamReport(const uint8_t *) const override { return false; }
    QString kindName() const override { return QStringLiteral("bootloader"); }

    // The refusal for an image of `size` bytes that has more chunks than the
    // bootloader can number, or an empty string when the size is accepted.
    static QString imageSizeProblem(qint64 size);

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
    int chunkCount() const { return firmwareBytes.size() / chunkSize; }
    // The transfer, once this program has the device to itself.
    void startUpdate(QByteArray newFirmwareBytes);
    // Announces a transfer of `size` bytes that ends before its first chunk.
    void refuseUpdate(qint64 size, const QString &message);
    // Ends the running transfer with onUpdateFailed; nothing more is sent.
    void failUpdate(const QString &message);

    QByteArray firmwareBytes;
    // True from the first chunk until the end report or a failure: only then
    // do acknowledgements drive the transfer, so that a late or duplicated
    // acknowledgement can neither restart a finished transfer nor announce
    // its end a second time.
    bool updateRunning = false;
};
