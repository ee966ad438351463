// The firmware update flow: the file choice, the progress dialog and the
// closing messages. The bootloader device runs the chunk exchange; the window
// only hands it the image and follows its signals.
#include "app/ZUD_wheel_tool.h"

#include "devices/FirmwareFile.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "ui_ZUD_wheel_tool.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

void ZUD_wheel_tool::on_pushButton_UpdateFirmware_clicked()
{
    if (!selectedBootloader)
        return;
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Open new FW File"), QString(),
                                                          tr("ZUD FW Files (*.fw);;All Files (*)"));
    if (fileName.isEmpty())
        return;

    // The size limits and the short-read check live with the device code,
    // so that the command line refuses exactly the files the window refuses.
    const FirmwareFileResult file = readFirmwareFile(fileName);
    switch (file.problem) {
    case FirmwareFileResult::None:
        break;
    case FirmwareFileResult::CannotOpen:
        QMessageBox::information(this, tr("Unable to open file"), file.message, QMessageBox::Ok);
        return;
    case FirmwareFileResult::TooLarge:
        QMessageBox::information(this, tr("Firmware update"), file.message, QMessageBox::Ok);
        return;
    case FirmwareFileResult::CannotRead:
        QMessageBox::information(this, tr("Unable to read file"), file.message, QMessageBox::Ok);
        return;
    }
    // The file dialog ran an event loop: the bootloader may have left the
    // bus meanwhile, which clears the selection.
    if (selectedBootloader)
        selectedBootloader->updateFirmware(file.image);
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
