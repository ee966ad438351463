// The firmware update flow: the file choice, the progress dialog and the
// closing messages.
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "ui_ZUD_wheel_tool.h"

#include <QProgressDialog>

void ZUD_wheel_tool::on_pushButton_UpdateFirmware_clicked() {}

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
    resetProgressDialog();
}

void ZUD_wheel_tool::onFirmwareUpdateFailed(UsbDevice *, QString)
{
    resetProgressDialog();
}

void ZUD_wheel_tool::resetProgressDialog()
{
    // Always released by deferred deletion: the dialog may be the sender of
    // the signal being handled.
    if (progressDialog) {
        progressDialog->close();
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
}
