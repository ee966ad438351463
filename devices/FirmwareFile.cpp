// SPDX-License-Identifier: GPL-3.0-or-later
#include "devices/FirmwareFile.h"

#include "devices/UsbDeviceZudBootloader.h"

#include <QCoreApplication>
#include <QFile>

FirmwareFileResult readFirmwareFile(const QString &path)
{
    FirmwareFileResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = FirmwareFileResult::CannotOpen;
        result.message = file.errorString();
        return result;
    }
    const qint64 maxImageBytes =
        qint64(ZudBootloaderReports::maxChunks) * UsbDeviceZudBootloader::chunkSize;
    QString sizeProblem = UsbDeviceZudBootloader::imageSizeProblem(file.size());
    if (sizeProblem.isEmpty()) {
        result.image = file.read(maxImageBytes + 1);
        if (result.image.size() > maxImageBytes)
            sizeProblem = UsbDeviceZudBootloader::imageSizeProblem(
                file.isSequential() ? qint64(result.image.size()) : file.size());
    }
    if (!sizeProblem.isEmpty()) {
        result.image.clear();
        result.problem = FirmwareFileResult::TooLarge;
        result.message = sizeProblem;
        return result;
    }
    if (file.error() != QFileDevice::NoError ||
        (!file.isSequential() && result.image.size() < file.size())) {
        result.problem = FirmwareFileResult::CannotRead;
        result.message =
            file.error() != QFileDevice::NoError
                ? file.errorString()
                : QCoreApplication::translate("ZUD_wheel_tool",
                                              "The file became shorter while it was being read.");
        result.image.clear();
        return result;
    }
    if (result.image.isEmpty()) {
        result.problem = FirmwareFileResult::Empty;
        result.message =
            QCoreApplication::translate("ZUD_wheel_tool", "The firmware file is empty.");
    }
    return result;
}
