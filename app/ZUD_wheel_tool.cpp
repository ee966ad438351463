// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ZUD_wheel_tool.h"

#include "app/NonBlockingBox.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "ui_ZUD_wheel_tool.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMetaType>
#include <QStatusBar>

// The form, set up on the window before the features are built on it. The
// rim picture lives in this static library; a resource compiled into a
// static library is registered only when something refers to it (outside
// any namespace).
static Ui::ZUD_wheel_tool *setUpForm(QMainWindow *window)
{
    Q_INIT_RESOURCE(resources);
    auto *form = new Ui::ZUD_wheel_tool;
    form->setupUi(window);
    return form;
}

ZUD_wheel_tool::ZUD_wheel_tool(QWidget *parent)
    : QMainWindow(parent), ui(setUpForm(this)), usbManager(createZudDevice), selection(),
      controls(ui, selection), logging(this, ui, selection, controls),
      liveView(this, ui, selection, logging), telemetry(this, ui, selection),
      editor(this, ui, selection, controls, liveView), firmware(this, selection, editor),
      guidance(this, ui, selection, controls),
      deviceList(ui->comboBox_UsbDevice, usbManager, selection, editor), games(this, ui, selection),
      tray(nullptr, usbManager),
      trayOptions(this, ui->checkBox_CloseToTray, ui->checkBox_StartAtLogin),
      switching(this, usbManager, selection, editor, games, tray)
{
    // Who follows the selection, in this order: the recorder takes each
    // update ahead of the live view, and the window's slots are connected
    // before the editor asks a wheel base for its settings. The features
    // connect the rest themselves.
    connect(&selection, &DeviceSelection::leaving, &telemetry, &TelemetryView::selectionLeaving);
    connect(&selection, &DeviceSelection::entered, &telemetry, &TelemetryView::selectionEntered);
    connect(&selection, &DeviceSelection::leaving, this, [this] { disconnectSelected(); });
    connect(&selection, &DeviceSelection::entered, this, [this] { connectSelected(); });
    connect(&selection, &DeviceSelection::leaving, &editor, &SettingsEditor::selectionLeaving);
    connect(&selection, &DeviceSelection::entered, &editor, &SettingsEditor::selectionEntered);
    connect(&selection, &DeviceSelection::leaving, &firmware,
            &FirmwareUpdateFlow::selectionLeaving);
    connect(&selection, &DeviceSelection::entered, &firmware,
            &FirmwareUpdateFlow::selectionEntered);
    connect(&selection, &DeviceSelection::left, this, [this] {
        setUiEnabled(false);
        games.profileNamesChanged();
    });
    setUiEnabled(false);

    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<uint8_t>("uint8_t");
    connect(&usbManager, &UsbManager::onDeviceConnected, this, &ZUD_wheel_tool::onDeviceConnected);
    connect(&usbManager, &UsbManager::onDeviceDisconnected, this,
            &ZUD_wheel_tool::onDeviceDisconnected);
    // Queued, so that the box opens after the discovery pass has ended.
    connect(
        &usbManager, &UsbManager::onDevicePermissionDenied, this,
        [this](const QString &, const QString &message) {
            openMessageBox(this, QMessageBox::Warning, tr("No access to the device"), message);
        },
        Qt::QueuedConnection);

    // Profiles switched by hand from the tray, or for a game.
    tray.setRefusal(
        [this](UsbDeviceZudWheelBase &wheelBase) { return handSwitchRefusal(wheelBase); });
    connect(&tray, &TrayIcon::switched, this, &ZUD_wheel_tool::profileSwitched);
    connect(&switching, &GameSwitching::switched, this, &ZUD_wheel_tool::profileSwitched);
    connect(&tray, &TrayIcon::message, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(&tray, &TrayIcon::showWanted, this, &ZUD_wheel_tool::showFromTray);
    connect(&tray, &TrayIcon::quitWanted, this, &ZUD_wheel_tool::quit);
    // With an icon in the tray, a hidden window does not end the program:
    // the program ends when the window really closes.
    if (tray.showIcon())
        QApplication::setQuitOnLastWindowClosed(false);

    usbManager.start(false);
}

ZUD_wheel_tool::~ZUD_wheel_tool()
{
    // No switch starts on the way out.
    switching.setRunning(false);
    // Leave the selection while the device still exists; this also closes a
    // firmware progress dialog.
    on_comboBox_UsbDevice_currentIndexChanged(-1);
    disconnect(&usbManager, &UsbManager::onDeviceConnected, this,
               &ZUD_wheel_tool::onDeviceConnected);
    disconnect(&usbManager, &UsbManager::onDeviceDisconnected, this,
               &ZUD_wheel_tool::onDeviceDisconnected);
    disconnect(&usbManager, &UsbManager::onDevicePermissionDenied, this, nullptr);
    // Announces and deletes the remaining devices, now with nobody listening.
    usbManager.stop();
    delete ui;
    ui = nullptr;
    // The features (the logger closing an open log), usbManager and the
    // widgets follow as members and base.
}

void ZUD_wheel_tool::setMillisClock(std::function<uint32_t()> clock)
{
    liveView.setMillisClock(std::move(clock));
}

QString ZUD_wheel_tool::closeForSignal(int signalNumber)
{
    closingForSignal = true;
    // The force first: the wheel must not go on turning by itself.
    QStringList done{telemetry.releaseForEnd(), logging.closeForEnd(), editor.backupForEnd()};
    done.removeAll(QString());
    close();
    const QString what = tr("Ended by signal %1").arg(signalNumber);
    return done.isEmpty() ? what : what + QStringLiteral(": ") + done.join(QStringLiteral("; "));
}

void ZUD_wheel_tool::closeEvent(QCloseEvent *event)
{
    if (!closingForSignal && !quitting && trayOptions.closeToTray() && tray.isIconShown()) {
        // The program goes on in the tray; unsaved edits stay in the editor.
        hide();
        event->ignore();
        return;
    }
    const bool quit = quitting;
    if (!closingForSignal && selection.wheelBase() &&
        !editor.mayDropProfileEdits([this, quit] { quit ? this->quit() : (void)close(); })) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && !QApplication::quitOnLastWindowClosed())
        QCoreApplication::quit();
}

bool ZUD_wheel_tool::startInTray()
{
    if (tray.isIconShown())
        return true;
    statusBar()->showMessage(noTrayText());
    return false;
}

QString ZUD_wheel_tool::noTrayText()
{
    return tr("There is no system tray on this desktop, so the window is shown instead.");
}

void ZUD_wheel_tool::quit()
{
    // A question about unsaved edits needs the window.
    if (isHidden())
        showFromTray();
    quitting = true;
    close();
    quitting = false;
}

void ZUD_wheel_tool::showFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void ZUD_wheel_tool::profileSwitched(UsbDeviceZudWheelBase *wheelBase)
{
    editor.profileSwitched(wheelBase);
    if (wheelBase == selection.wheelBase())
        games.profileNamesChanged();
}

QString ZUD_wheel_tool::handSwitchRefusal(UsbDeviceZudWheelBase &wheelBase) const
{
    if (&wheelBase == selection.wheelBase() && editor.hasUnsavedEdits())
        return tr("The profiles on %1 have unsaved edits: save or discard them first. The "
                  "profile was not switched.")
            .arg(wheelBase.getProductString());
    if (switching.isSwitching(wheelBase) || wheelBase.holdsTurn() || wheelBase.isWaitingForTurn())
        return tr("%1 is busy with a load, a save or a switch: choose the profile again when it "
                  "is done.")
            .arg(wheelBase.getProductString());
    return QString();
}

void ZUD_wheel_tool::connectSelected()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase()) {
        connect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                &ZUD_wheel_tool::onJoystickUpdate);
        connect(wheelBase, &UsbDeviceZudWheelBase::onDebugOutput, this,
                &ZUD_wheel_tool::onDebugOutput);
        connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoaded, this,
                &ZUD_wheel_tool::onSettingsLoaded);
        connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                &ZUD_wheel_tool::onSettingsLoadFailed);
        // The wheel controls stay disabled until the settings have arrived.
        setUiEnabled(false);
    } else if (UsbDeviceZudPedals *pedals = selection.pedals()) {
        connect(pedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                &ZUD_wheel_tool::onPedalsJoystickUpdate);
        setUiEnabled(true);
    } else if (UsbDeviceZudBootloader *bootloader = selection.bootloader()) {
        connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted, this,
                &ZUD_wheel_tool::onFirmwareUpdateStarted);
        connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, this,
                &ZUD_wheel_tool::onFirmwareUpdateProgress);
        connect(bootloader, &UsbDeviceZudBootloader::onUpdateCompleted, this,
                &ZUD_wheel_tool::onFirmwareUpdateCompleted);
        connect(bootloader, &UsbDeviceZudBootloader::onUpdateFailed, this,
                &ZUD_wheel_tool::onFirmwareUpdateFailed);
        setUiEnabled(true);
    }
}

void ZUD_wheel_tool::disconnectSelected()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase()) {
        disconnect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                   &ZUD_wheel_tool::onJoystickUpdate);
        disconnect(wheelBase, &UsbDeviceZudWheelBase::onDebugOutput, this,
                   &ZUD_wheel_tool::onDebugOutput);
        disconnect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoaded, this,
                   &ZUD_wheel_tool::onSettingsLoaded);
        disconnect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                   &ZUD_wheel_tool::onSettingsLoadFailed);
    } else if (UsbDeviceZudPedals *pedals = selection.pedals()) {
        disconnect(pedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                   &ZUD_wheel_tool::onPedalsJoystickUpdate);
    } else if (UsbDeviceZudBootloader *bootloader = selection.bootloader()) {
        disconnect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted, this,
                   &ZUD_wheel_tool::onFirmwareUpdateStarted);
        disconnect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, this,
                   &ZUD_wheel_tool::onFirmwareUpdateProgress);
        disconnect(bootloader, &UsbDeviceZudBootloader::onUpdateCompleted, this,
                   &ZUD_wheel_tool::onFirmwareUpdateCompleted);
        disconnect(bootloader, &UsbDeviceZudBootloader::onUpdateFailed, this,
                   &ZUD_wheel_tool::onFirmwareUpdateFailed);
    }
}
