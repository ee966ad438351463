// The firmware update flow: the file choice, the progress dialog and the
// closing messages. The bootloader device runs the chunk exchange; the window
// only hands it the image and follows its signals.
#include "app/NonBlockingBox.h"
#include "app/StatusMessages.h"
#include "app/TransferEstimate.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/FirmwareFile.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "ui_ZUD_wheel_tool.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStatusBar>

// Runs from the button or from the event loop, never inside a device's call:
// the file dialog and the boxes here wait for their answer.
void ZUD_wheel_tool::on_pushButton_UpdateFirmware_clicked()
{
    if (!selectedBootloader)
        return;
    const QPointer<UsbDeviceZudBootloader> chosen(selectedBootloader);
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
    case FirmwareFileResult::Empty:
        QMessageBox::information(this, tr("Firmware update"), file.message, QMessageBox::Ok);
        return;
    case FirmwareFileResult::CannotRead:
        QMessageBox::information(this, tr("Unable to read file"), file.message, QMessageBox::Ok);
        return;
    }
    // The file dialog ran an event loop: the bootloader may have left the
    // bus meanwhile, or another device may have been selected.
    if (chosen && chosen == selectedBootloader)
        selectedBootloader->updateFirmware(file.image);
}

// The bootloader calls the four slots below from inside its transfer: none
// of them may wait in an event loop (ZUD_wheel_tool.h).

void ZUD_wheel_tool::onFirmwareUpdateStarted(int chunks)
{
    resetProgressDialog();
    progressDialog = new QProgressDialog(tr("Updating firmware"), QString(), 0, chunks, this);
    progressDialog->setModal(true);
    // Shown at once instead of after the toolkit's minimum duration; its
    // value is then set on its bar (below), because the dialog's own
    // setValue runs processEvents once a modal dialog has been shown.
    progressDialog->setMinimumDuration(0);
    firmwareTransferClock.start();
    showTransferPace(0);
    // Wide enough for the longest text the bar shows.
    const QString widest = firmwareProgressFormat(1, 360000, 100)
                               .replace(QLatin1String("%v"), QLatin1String("99999"))
                               .replace(QLatin1String("%m"), QLatin1String("99999"));
    progressDialog->setMinimumWidth(progressDialog->fontMetrics().horizontalAdvance(widest) + 80);
    progressDialog->show();
}

void ZUD_wheel_tool::showTransferPace(int currentChunk)
{
    // The bar counts the chunks and, once some have gone through, tells the
    // pace and the time left.
    if (auto *bar = progressDialog->findChild<QProgressBar *>())
        bar->setFormat(firmwareProgressFormat(currentChunk, progressDialog->maximum(),
                                              firmwareTransferClock.elapsed()));
}

void ZUD_wheel_tool::onFirmwareUpdateProgress(int currentChunk)
{
    if (!progressDialog)
        return;
    showTransferPace(currentChunk);
    if (auto *bar = progressDialog->findChild<QProgressBar *>())
        bar->setValue(currentChunk);
    // What the dialog does by itself at its maximum: reset and hide.
    if (currentChunk == progressDialog->maximum() && progressDialog->autoReset())
        progressDialog->reset();
}

void ZUD_wheel_tool::onFirmwareUpdateCompleted(UsbDevice *)
{
    if (progressDialog)
        statusBar()->showMessage(StatusMessages::firmwareUpdated(), StatusMessages::timeoutMs);
    showFirmwareResult(tr("Update completed successfully!"));
}

void ZUD_wheel_tool::onFirmwareUpdateFailed(UsbDevice *, QString errorMessage)
{
    showFirmwareResult(errorMessage);
}

void ZUD_wheel_tool::showFirmwareResult(const QString &text)
{
    // An update this window did not start (no dialog) is not reported.
    if (!progressDialog)
        return;
    // The dialog stays until the box is dismissed; a deselection or a new
    // update meanwhile has closed it already.
    const QPointer<QProgressDialog> dialog(progressDialog);
    openMessageBox(this, QMessageBox::Information, tr("Firmware update"), text, [this, dialog] {
        if (dialog && dialog == progressDialog)
            resetProgressDialog();
    });
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
