// SPDX-License-Identifier: GPL-3.0-or-later
#include "devices/UsbDeviceZudBootloader.h"

#include <QPointer>

#include <cstring>

namespace {

constexpr uint32_t crcPolynomial = 0x04C11DB7;
constexpr int8_t ackType = int8_t(ZudUsbCommand::FirmwareChunk);
constexpr int8_t settingsType = int8_t(ZudUsbCommand::Settings);
constexpr uint8_t bootloaderVersion = 2;
constexpr int tailSize = int(sizeof(ZudUsbFirmwareChunk::previousTail));

static_assert(sizeof(ZudUsbFirmwareChunk::chunkData) == UsbDeviceZudBootloader::chunkSize, "");

ZudUsbReport command(ZudUsbCommand code)
{
    ZudUsbReport report{};
    report.data[0] = ZudUsbReportId::commandReport;
    report.data[1] = uint8_t(code);
    report.data[2] = bootloaderVersion;
    return report;
}

ZudUsbReport fromChunk(const ZudUsbFirmwareChunk &chunk)
{
    ZudUsbReport report;
    std::memcpy(report.data, &chunk, sizeof report.data);
    return report;
}

uint32_t readU32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

uint32_t firmwareCrc(const uint8_t *data, size_t length)
{
    const uint16_t words = uint16_t(length / 4);
    uint32_t crc = 0xFFFFFFFF;
    for (uint16_t w = 0; w < words; ++w) {
        crc ^= readU32(data + 4 * size_t(w));
        for (int bit = 0; bit < 32; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ crcPolynomial : crc << 1;
    }
    return crc;
}

namespace ZudBootloaderReports {

ZudUsbReport exitBootloader()
{
    ZudUsbReport report = command(ZudUsbCommand::Reset);
    report.data[3] = 1; // restartFlag
    return report;
}

ZudUsbReport resetToFactoryDefaults()
{
    ZudUsbReport report = command(ZudUsbCommand::Reset);
    report.data[5] = 1; // factoryResetFlag
    return report;
}

ZudUsbReport loadSettings()
{
    ZudUsbReport report = command(ZudUsbCommand::Settings);
    report.data[42] = 0;
    return report;
}

ZudUsbReport firmwareChunk(const uint8_t *image, int totalChunks, int index)
{
    ZudUsbFirmwareChunk chunk{};
    chunk.reportId = ZudUsbReportId::commandReport;
    chunk.command = uint8_t(ZudUsbCommand::FirmwareChunk);
    const uint8_t *data = image + size_t(index) * UsbDeviceZudBootloader::chunkSize;
    std::memcpy(chunk.chunkData, data, sizeof chunk.chunkData);
    chunk.currentChunk = int16_t(index);
    chunk.totalChunks = int16_t(totalChunks);
    chunk.chunkCrc = firmwareCrc(chunk.chunkData, sizeof chunk.chunkData);
    if (index > 0) {
        chunk.hasPreviousTail = 1;
        std::memcpy(chunk.previousTail, data - tailSize, tailSize);
    }
    return fromChunk(chunk);
}

ZudUsbReport firmwareEnd(int totalChunks)
{
    ZudUsbFirmwareChunk chunk{};
    chunk.reportId = ZudUsbReportId::commandReport;
    chunk.command = uint8_t(ZudUsbCommand::FirmwareChunk);
    chunk.currentChunk = int16_t(totalChunks);
    chunk.totalChunks = int16_t(totalChunks);
    return fromChunk(chunk);
}

} // namespace ZudBootloaderReports

UsbDeviceZudBootloader::UsbDeviceZudBootloader(QString id, hid_device *hidDevice)
    : UsbDevice(std::move(id), hidDevice)
{
}

void UsbDeviceZudBootloader::exitBootloader()
{
    write(ZudBootloaderReports::exitBootloader().data, false);
}

void UsbDeviceZudBootloader::resetToFactoryDefaults()
{
    takeTurn(ResetTurn, [this] {
        write(ZudBootloaderReports::resetToFactoryDefaults().data, false);
        endTurn(ResetTurn);
    });
}

void UsbDeviceZudBootloader::loadSettings()
{
    write(ZudBootloaderReports::loadSettings().data, true);
}

QString UsbDeviceZudBootloader::imageSizeProblem(qint64 size)
{
    const qint64 chunks = (size + chunkSize - 1) / chunkSize;
    if (chunks <= ZudBootloaderReports::maxChunks)
        return QString();
    return QStringLiteral("Firmware image too large: %1 bytes make %2 chunks; the "
                          "bootloader accepts at most %3 chunks of %4 bytes (%5 bytes)")
        .arg(size)
        .arg(chunks)
        .arg(ZudBootloaderReports::maxChunks)
        .arg(chunkSize)
        .arg(qint64(ZudBootloaderReports::maxChunks) * chunkSize);
}

void UsbDeviceZudBootloader::updateFirmware(QByteArray newFirmwareBytes)
{
    const qint64 size = newFirmwareBytes.size();
    takeTurn(
        FirmwareTurn, [this, newFirmwareBytes] { startUpdate(newFirmwareBytes); },
        [this, size](const QString &message) { refuseUpdate(size, message); });
}

// A refusal is announced after the start, so that whoever shows the
// progress also shows the failure.
void UsbDeviceZudBootloader::refuseUpdate(qint64 size, const QString &message)
{
    // Each emit below but the last may end this object's life (UsbDevice.h).
    const QPointer<UsbDeviceZudBootloader> alive(this);
    const int chunks = int((size + chunkSize - 1) / chunkSize);
    updateRunning = false;
    firmwareBytes.clear();
    emit onFirmwareUpdateStarted(chunks);
    if (!alive)
        return;
    emit onFirmwareUpdateProgress(0, chunks);
    if (!alive)
        return;
    failUpdate(message);
}

void UsbDeviceZudBootloader::startUpdate(QByteArray newFirmwareBytes)
{
    // Each emit below but the last may end this object's life (UsbDevice.h).
    const QPointer<UsbDeviceZudBootloader> alive(this);
    updateRunning = false;

    // The chunk fields are signed 16-bit: a larger image cannot be numbered.
    // It is refused before anything is sent.
    const QString sizeProblem = imageSizeProblem(newFirmwareBytes.size());
    if (!sizeProblem.isEmpty()) {
        refuseUpdate(newFirmwareBytes.size(), sizeProblem);
        return;
    }

    firmwareBytes = std::move(newFirmwareBytes);
    const int remainder = firmwareBytes.size() % chunkSize;
    if (remainder > 0)
        firmwareBytes.append(QByteArray(chunkSize - remainder, '\0'));
    const int n = chunkCount();

    emit onFirmwareUpdateStarted(n);
    if (!alive)
        return;
    emit onFirmwareUpdateProgress(0, n);
    if (!alive)
        return;

    if (n == 0) {
        write(ZudBootloaderReports::firmwareEnd(0).data, false);
        endTurn(FirmwareTurn);
        emit onUpdateCompleted(this);
        return;
    }
    updateRunning = true;
    write(ZudBootloaderReports::firmwareChunk(
              reinterpret_cast<const uint8_t *>(firmwareBytes.constData()), n, 0)
              .data,
          true);
}

void UsbDeviceZudBootloader::sendChunk(int index)
{
    const int n = chunkCount();
    if (index < 0 || index > n) {
        failUpdate(QStringLiteral("Firmware chunk %1 is outside the image of %2 chunks")
                       .arg(index)
                       .arg(n));
        return;
    }
    // The progress may end this object's life (UsbDevice.h).
    const QPointer<UsbDeviceZudBootloader> alive(this);
    emit onFirmwareUpdateProgress(index, n);
    if (!alive)
        return;
    if (index == n) {
        // Nothing follows the end report: a retry still armed by an answer
        // with a joystick report id would otherwise repeat it for ever.
        updateRunning = false;
        retryTimer.stop();
        write(ZudBootloaderReports::firmwareEnd(n).data, false);
        endTurn(FirmwareTurn);
        emit onUpdateCompleted(this);
        return;
    }
    write(ZudBootloaderReports::firmwareChunk(
              reinterpret_cast<const uint8_t *>(firmwareBytes.constData()), n, index)
              .data,
          true);
}

void UsbDeviceZudBootloader::failUpdate(const QString &message)
{
    updateRunning = false;
    // An answer whose report id is that of a joystick report leaves the
    // retry armed; a failed transfer must not keep re-sending its chunk.
    retryTimer.stop();
    endTurn(FirmwareTurn);
    emit onUpdateFailed(this, message); // last: it may end this object's life
}

void UsbDeviceZudBootloader::handleReport(const uint8_t *report, uint64_t readTimeMicros)
{
    UsbDevice::handleReport(report, readTimeMicros);

    switch (int8_t(report[1])) {
    case ackType: {
        if (!updateRunning)
            return; // late or duplicated answer to a transfer that has ended
        ZudUsbFirmwareChunk ack;
        std::memcpy(&ack, report, sizeof ack);
        const int k = ack.currentChunk;
        const int total = ack.totalChunks;
        if (firmwareCrc(ack.chunkData, sizeof ack.chunkData) != ack.chunkCrc) {
            failUpdate(QStringLiteral("CRC failed on chunk %1 of %2").arg(k).arg(total));
            return;
        }
        const int n = chunkCount();
        if (k < 0 || k >= n) {
            failUpdate(QStringLiteral("Bootloader acknowledged chunk %1, which is outside the "
                                      "image of %2 chunks")
                           .arg(k)
                           .arg(n));
            return;
        }
        sendChunk(k + 1);
        return;
    }
    case settingsType:
        deviceInfo1 = readU32(report + 3);
        deviceInfo2 = uint16_t(report[7] | report[8] << 8);
        deviceInfo3 = report[9];
        emit onSettingsLoaded(this);
        return;
    default:
        return;
    }
}
