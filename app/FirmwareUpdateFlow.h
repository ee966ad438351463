// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware update flow: the file choice, the progress dialog and the
// closing messages, and the button that sends a device into its bootloader
// or back. The bootloader device runs the chunk exchange; the flow only
// hands it the image and follows its signals.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class DeviceSelection;
class QMainWindow;
class QProgressDialog;
class SettingsEditor;

class FirmwareUpdateFlow : public QObject {
    Q_OBJECT

public:
    FirmwareUpdateFlow(QMainWindow *window, const DeviceSelection &selection,
                       SettingsEditor &editor);

    // Asks for a firmware file and hands it to the selected bootloader. Runs
    // from the button or from the event loop, never inside a device's call:
    // the file dialog and the boxes here wait for their answer.
    void chooseFile();
    // The bootloader's signals, from inside its transfer: none of these
    // waits in an event loop.
    void started(int chunks);
    void progressed(int currentChunk);
    void completed();
    void failed(const QString &errorMessage);
    // Closes the progress dialog, if one is shown.
    void resetProgressDialog();

    // "Enter Bootloader" or "Exit Bootloader" for the selected device.
    void switchBootloader();

    // Follow the selection: the progress dialog closes with the bootloader
    // it belongs to, and a bootloader selected asks for its file.
    void selectionLeaving();
    void selectionEntered();

private:
    // The box that ends a firmware update; the progress dialog closes when
    // the box is dismissed.
    void showResult(const QString &text);
    // The chunks per second and the time left, on the progress dialog's bar.
    void showTransferPace(int currentChunk);

    QMainWindow *window;
    const DeviceSelection &selection;
    SettingsEditor &editor;
    // The progress dialog while one is shown, else null.
    QProgressDialog *progressDialog = nullptr;
    // Started with a transfer, for its pace.
    QElapsedTimer transferClock;
};
