// The firmware update flow: the file choice, the progress dialog and the
// closing messages. The bootloader device runs the chunk exchange; the window
// only hands it the image and follows its signals.
#include "app/StatusMessages.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "ui_ZUD_wheel_tool.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>

void ZUD_wheel_tool::on_pushButton_UpdateFirmware_clicked()
{
    if (!selectedBootloader)
        return;
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Open new FW File"), QString(),
                                                          tr("ZUD FW Files (*.fw);;All Files (*)"));
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::information(this, tr("Unable to open file"), file.errorString(),
                                 QMessageBox::Ok);
        return;
    }
    // A file too large to be an image is refused before it is read, and no
    // more than the largest image is ever read: a file of gigabytes or a
    // device file chosen by mistake would otherwise exhaust the memory.
    const qint64 maxImageBytes =
        qint64(ZudBootloaderReports::maxChunks) * UsbDeviceZudBootloader::chunkSize;
    QString sizeProblem = UsbDeviceZudBootloader::imageSizeProblem(file.size());
    QByteArray image;
    if (sizeProblem.isEmpty()) {
        image = file.read(maxImageBytes + 1);
        if (image.size() > maxImageBytes)
            sizeProblem = UsbDeviceZudBootloader::imageSizeProblem(
                file.isSequential() ? qint64(image.size()) : file.size());
    }
    if (!sizeProblem.isEmpty()) {
        QMessageBox::information(this, tr("Firmware update"), sizeProblem, QMessageBox::Ok);
        return;
    }
    // A read that stops part-way would send a cut image to the device.
    if (file.error() != QFileDevice::NoError ||
        (!file.isSequential() && image.size() < file.size())) {
        QMessageBox::information(this, tr("Unable to read file"),
                                 file.error() != QFileDevice::NoError
                                     ? file.errorString()
                                     : tr("The file became shorter while it was being read."),
                                 QMessageBox::Ok);
        return;
    }
    file.close();
    // The file dialog ran an event loop: the bootloader may have left the
    // bus meanwhile, which clears the selection.
    if (selectedBootloader)
        selectedBootloader->updateFirmware(image);
}

void ZUD_wheel_tool::onFirmwareUpdateStarted(int chunks)
{
    resetProgressDialog();
    progressDialog = new QProgressDialog(tr("Updating firmware"), QString(), 0, chunks, this);
    progressDialog->setModal(true);
}

void ZUD_wheel_tool::onFirmwareUpdateProgress(int currentChunk)
{
    if (progressDialog)
        progressDialog->setValue(currentChunk);
}

void ZUD_wheel_tool::onFirmwareUpdateCompleted(UsbDevice *)
{
    if (progressDialog)
        statusBar()->showMessage(StatusMessages::firmwareUpdated(), StatusMessages::timeoutMs);
    if (progressDialog)
        QMessageBox::information(this, tr("Firmware update"), tr("Update completed successfully!"),
                                 QMessageBox::Ok);
    // The box ran an event loop: a deselection meanwhile has already closed
    // and released the dialog.
    resetProgressDialog();
}

void ZUD_wheel_tool::onFirmwareUpdateFailed(UsbDevice *, QString errorMessage)
{
    if (progressDialog)
        QMessageBox::information(this, tr("Firmware update"), errorMessage, QMessageBox::Ok);
    resetProgressDialog();
}

void ZUD_wheel_tool::resetProgressDialog()
{
    // Always released by deferred deletion: the dialog may be in the middle
    // of its own event handling.
    if (progressDialog) {
        progressDialog->close();
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
}
