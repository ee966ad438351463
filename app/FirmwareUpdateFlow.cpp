// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FirmwareUpdateFlow.h"

#include "app/DeviceSelection.h"
#include "app/NonBlockingBox.h"
#include "app/SettingsEditor.h"
#include "app/StatusMessages.h"
#include "app/TransferEstimate.h"
#include "devices/FirmwareFile.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStatusBar>

FirmwareUpdateFlow::FirmwareUpdateFlow(QMainWindow *window, const DeviceSelection &selection,
                                       SettingsEditor &editor)
    : window(window), selection(selection), editor(editor)
{
}

void FirmwareUpdateFlow::selectionLeaving()
{
    if (selection.bootloader())
        resetProgressDialog();
}

void FirmwareUpdateFlow::selectionEntered()
{
    UsbDeviceZudBootloader *bootloader = selection.bootloader();
    if (!bootloader)
        return;
    // A device in bootloader mode is there to be updated: ask for the file.
    // The chooser waits for its answer, so it opens once the call that
    // selected the device (a discovery pass, a departure) has returned to
    // the event loop, and only if the bootloader is still the one selected.
    const QPointer<UsbDeviceZudBootloader> chosen(bootloader);
    QMetaObject::invokeMethod(
        this,
        [this, chosen] {
            if (chosen && chosen == selection.bootloader())
                chooseFile();
        },
        Qt::QueuedConnection);
}

void FirmwareUpdateFlow::switchBootloader()
{
    if (UsbDeviceZudBootloader *bootloader = selection.bootloader()) {
        bootloader->exitBootloader();
    } else if (selection.wheelBase()) {
        // The bootloader may lose the profiles: ask about unsaved edits and
        // back the loaded table up first. The boxes run event loops, so the
        // selection is looked at again after each.
        if (!editor.mayDropProfileEdits([this] { switchBootloader(); }) || !selection.wheelBase() ||
            !editor.backupBefore(QStringLiteral("bootloader")))
            return;
        if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
            wheelBase->enterBootloader();
    } else if (UsbDeviceZudPedals *pedals = selection.pedals()) {
        pedals->enterBootloader();
    }
}

void FirmwareUpdateFlow::chooseFile()
{
    if (!selection.bootloader())
        return;
    const QPointer<UsbDeviceZudBootloader> chosen(selection.bootloader());
    const QString fileName = QFileDialog::getOpenFileName(window, tr("Open new FW File"), QString(),
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
        QMessageBox::information(window, tr("Unable to open file"), file.message, QMessageBox::Ok);
        return;
    case FirmwareFileResult::TooLarge:
    case FirmwareFileResult::Empty:
        QMessageBox::information(window, tr("Firmware update"), file.message, QMessageBox::Ok);
        return;
    case FirmwareFileResult::CannotRead:
        QMessageBox::information(window, tr("Unable to read file"), file.message, QMessageBox::Ok);
        return;
    }
    // The file dialog ran an event loop: the bootloader may have left the
    // bus meanwhile, or another device may have been selected.
    if (chosen && chosen == selection.bootloader())
        selection.bootloader()->updateFirmware(file.image);
}

void FirmwareUpdateFlow::started(int chunks)
{
    resetProgressDialog();
    progressDialog = new QProgressDialog(tr("Updating firmware"), QString(), 0, chunks, window);
    progressDialog->setModal(true);
    // Shown at once instead of after the toolkit's minimum duration; its
    // value is then set on its bar (below), because the dialog's own
    // setValue runs processEvents once a modal dialog has been shown.
    progressDialog->setMinimumDuration(0);
    transferClock.start();
    showTransferPace(0);
    // Wide enough for the longest text the bar shows.
    const QString widest = firmwareProgressFormat(1, 360000, 100)
                               .replace(QLatin1String("%v"), QLatin1String("99999"))
                               .replace(QLatin1String("%m"), QLatin1String("99999"));
    progressDialog->setMinimumWidth(progressDialog->fontMetrics().horizontalAdvance(widest) + 80);
    progressDialog->show();
}

void FirmwareUpdateFlow::showTransferPace(int currentChunk)
{
    // The bar counts the chunks and, once some have gone through, tells the
    // pace and the time left.
    if (auto *bar = progressDialog->findChild<QProgressBar *>())
        bar->setFormat(firmwareProgressFormat(currentChunk, progressDialog->maximum(),
                                              transferClock.elapsed()));
}

void FirmwareUpdateFlow::progressed(int currentChunk)
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

void FirmwareUpdateFlow::completed()
{
    if (progressDialog)
        window->statusBar()->showMessage(StatusMessages::firmwareUpdated(),
                                         StatusMessages::timeoutMs);
    showResult(tr("Update completed successfully!"));
}

void FirmwareUpdateFlow::failed(const QString &errorMessage)
{
    showResult(errorMessage);
}

void FirmwareUpdateFlow::showResult(const QString &text)
{
    // An update this window did not start (no dialog) is not reported.
    if (!progressDialog)
        return;
    // The dialog stays until the box is dismissed; a deselection or a new
    // update meanwhile has closed it already.
    const QPointer<QProgressDialog> dialog(progressDialog);
    openMessageBox(window, QMessageBox::Information, tr("Firmware update"), text, [this, dialog] {
        if (dialog && dialog == progressDialog)
            resetProgressDialog();
    });
}

void FirmwareUpdateFlow::resetProgressDialog()
{
    // Always released by deferred deletion: the dialog may be in the middle
    // of its own event handling.
    if (progressDialog) {
        progressDialog->close();
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
}
