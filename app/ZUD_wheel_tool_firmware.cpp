// The firmware update flow: the file choice, the progress dialog and the
// closing messages. The bootloader device runs the chunk exchange; the window
// only hands it the image and follows its signals.
#include "app/NonBlockingBox.h"
#include "app/StatusMessages.h"
#include "app/TransferEstimate.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "ui_ZUD_wheel_tool.h"

#include <QFile>
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
    // bus meanwhile, or another device may have been selected.
    if (chosen && chosen == selectedBootloader)
        selectedBootloader->updateFirmware(image);
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
