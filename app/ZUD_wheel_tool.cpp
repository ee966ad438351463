#include "app/ZUD_wheel_tool.h"

#include "app/DeviceMessageBoxes.h"
#include "app/NonBlockingBox.h"
#include "app/ProfileFilesController.h"
#include "app/ProfileNameEditing.h"
#include "app/RimTurner.h"
#include "app/SaveVerifier.h"
#include "app/ScaledPixmapPainter.h"
#include "app/SharedDeviceFollower.h"
#include "app/UnsavedChangesGuard.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "ui_ZUD_wheel_tool.h"
#include "usb/UsbClock.h"

#include <QCloseEvent>
#include <QDir>
#include <QMetaType>
#include <QPointer>
#include <QSignalBlocker>
#include <QStatusBar>

// The rim picture lives in this static library; a resource compiled into a
// static library is registered only when something refers to it.
static void registerWindowResources()
{
    Q_INIT_RESOURCE(resources);
}

ZUD_wheel_tool::ZUD_wheel_tool(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::ZUD_wheel_tool), progressDialog(nullptr),
      usbManager(createZudDevice), selectedDevice(nullptr), selectedBootloader(nullptr),
      selectedWheelBase(nullptr), selectedPedals(nullptr),
      lastWheelUpdateMillis(currentTimeMillis()), lastLogReadTimeMicros(currentTimeMicros()),
      latchedTorqueIn(0.0f), logFile(), logKind(0), scopePage(nullptr), logEveryReport(false),
      millisClock(currentTimeMillis)
{
    registerWindowResources();
    ui->setupUi(this);
    // The turned rim is scaled to the label in one pass when painted, and
    // the value under it has a fixed size, large enough for three pedal
    // values: a new value then does not lay the whole window out again.
    ui->label_Rim_Image->installEventFilter(new ScaledPixmapPainter(this));
    rimTurner = std::make_unique<RimTurner>(ui->label_Rim_Image);
    // Digits need no shaping: drawing the value 62 times a second then
    // skips the text shaper (a tenth of the live view's painting).
    QFont valueFont = ui->label_JoystickValue->font();
    valueFont.setStyleStrategy(QFont::PreferNoShaping);
    ui->label_JoystickValue->setFont(valueFont);
    const QFontMetrics metrics = ui->label_JoystickValue->fontMetrics();
    ui->label_JoystickValue->setFixedSize(
        metrics.horizontalAdvance(QStringLiteral("65535 65535 65535")) + 8, metrics.height() + 4);
    setUpTelemetry();
    deviceBoxes = new DeviceMessageBoxes(this);
    unsavedChanges = new UnsavedChangesGuard(this, ui->pushButton_SaveConfig);
    saveVerifier = new SaveVerifier(this, unsavedChanges);
    setUpSharing();
    profileFiles = new ProfileFilesController(
        this, ui->profileLayout, unsavedChanges, [this] { return selectedWheelBase; },
        [this] { onSettingsLoaded(selectedWheelBase); });
    // The name is edited as typed: no completion from the other names, which
    // would rename the profile to a name the user did not type.
    ui->comboBox_ProfileName->setValidator(new ProfileNameValidator(ui->comboBox_ProfileName));
    ui->comboBox_ProfileName->setCompleter(nullptr);
    // Every edit is looked at after the editor's own slot has stored it.
    for (QSlider *slider : {ui->horiSlider_Force, ui->horiSlider_GenSmooth, ui->horiSlider_Damping,
                            ui->horiSlider_Friction, ui->horiSlider_Inertia, ui->horiSlider_Spring})
        connect(slider, &QSlider::valueChanged, unsavedChanges, &UnsavedChangesGuard::refresh);
    for (QSpinBox *spinBox : {ui->spinBox_RotationDegree, ui->spinBox_EncoderRes})
        connect(spinBox, QOverload<int>::of(&QSpinBox::valueChanged), unsavedChanges,
                &UnsavedChangesGuard::refresh);
    for (QComboBox *comboBox :
         {ui->comboBox_EncoderType, ui->comboBox_DampingEffect, ui->comboBox_FrictionEffect,
          ui->comboBox_InertiaEffect, ui->comboBox_SpringEffect, ui->comboBox_ProfileName})
        connect(comboBox, QOverload<int>::of(&QComboBox::activated), unsavedChanges,
                &UnsavedChangesGuard::refresh);
    connect(ui->comboBox_ProfileName, &QComboBox::currentTextChanged, unsavedChanges,
            &UnsavedChangesGuard::refresh);
    setUpGuidance();
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
    usbManager.start(false);
}

ZUD_wheel_tool::~ZUD_wheel_tool()
{
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
    // logFile (closing an open log), usbManager and the widgets follow as
    // members and base.
}

void ZUD_wheel_tool::setMillisClock(std::function<uint32_t()> clock)
{
    millisClock = clock ? std::move(clock) : std::function<uint32_t()>(currentTimeMillis);
}

void ZUD_wheel_tool::onDeviceConnected(UsbDevice *device)
{
    // The first item becomes current, and its index change selects the device.
    // The list's placeholder keeps the toolkit from doing that by itself.
    QComboBox *list = ui->comboBox_UsbDevice;
    list->insertItem(list->count(), device->getProductString(), device->getId());
    if (list->count() == 1 && list->currentIndex() < 0)
        list->setCurrentIndex(0);
}

void ZUD_wheel_tool::onDeviceDisconnected(UsbDevice *device)
{
    if (device == selectedDevice) {
        // Called by the manager: the user learns what happened from the
        // status bar, without a dialog that would wait here.
        QStringList news;
        news << saveVerifier->deviceLeaving(device);
        unsavedChanges->refresh();
        if (selectedWheelBase && unsavedChanges->isModified()) {
            QString error;
            const QString path = profileFiles->backupUnsaved(*selectedWheelBase, error);
            news << (path.isEmpty()
                         ? tr("%1 left with unsaved changes, which could not be backed up: %2")
                               .arg(device->getProductString(), error)
                         : tr("%1 left with unsaved changes; they are kept in %2")
                               .arg(device->getProductString(), QDir::toNativeSeparators(path)));
        }
        news.removeAll(QString());
        if (!news.isEmpty())
            statusBar()->showMessage(news.join(QLatin1Char(' ')));
    }
    // Removing the current item moves the selection (or clears it) while the
    // device still exists: the manager deletes it after this returns.
    QComboBox *list = ui->comboBox_UsbDevice;
    const QString id = device->getId();
    for (int i = list->count() - 1; i >= 0; --i) {
        if (list->itemData(i, Qt::UserRole).toString() == id) {
            deviceLeaving = true;
            list->removeItem(i);
            deviceLeaving = false;
            return;
        }
    }
}

void ZUD_wheel_tool::on_comboBox_UsbDevice_currentIndexChanged(int index)
{
    // Removing an item listed before the current one moves the current
    // index, and the toolkit reports that as an index change, though the
    // same device stays chosen. It is no new choice: leaving and entering
    // the selection again would reload a wheel base's settings over the
    // user's unsaved edits, or close a bootloader's progress dialog in the
    // middle of a transfer and open the file chooser again.
    if (selectedDevice && index >= 0 &&
        ui->comboBox_UsbDevice->itemData(index, Qt::UserRole).toString() ==
            selectedDevice->getId() &&
        usbManager.getDevice(selectedDevice->getId()) == selectedDevice)
        return;

    if (!mayLeaveProfileEdits(index))
        return;

    if (selectedDevice) {
        if (selectedWheelBase) {
            followTelemetry(nullptr);
            disconnect(selectedWheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                       &ZUD_wheel_tool::onJoystickUpdate);
            disconnect(selectedWheelBase, &UsbDeviceZudWheelBase::onDebugOutput, this,
                       &ZUD_wheel_tool::onDebugOutput);
            disconnect(selectedWheelBase, &UsbDeviceZudWheelBase::onSettingsLoaded, this,
                       &ZUD_wheel_tool::onSettingsLoaded);
            disconnect(selectedWheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                       &ZUD_wheel_tool::onSettingsLoadFailed);
            settingsLoadRequested = false;
            selectedWheelBase = nullptr;
            sharedDevice->follow(nullptr);
            saveVerifier->forget();
            unsavedChanges->setWheelBase(nullptr);
        } else if (selectedPedals) {
            disconnect(selectedPedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                       &ZUD_wheel_tool::onPedalsJoystickUpdate);
            selectedPedals = nullptr;
            sharedDevice->follow(nullptr);
        } else if (selectedBootloader) {
            disconnect(selectedBootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted, this,
                       &ZUD_wheel_tool::onFirmwareUpdateStarted);
            disconnect(selectedBootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, this,
                       &ZUD_wheel_tool::onFirmwareUpdateProgress);
            disconnect(selectedBootloader, &UsbDeviceZudBootloader::onUpdateCompleted, this,
                       &ZUD_wheel_tool::onFirmwareUpdateCompleted);
            disconnect(selectedBootloader, &UsbDeviceZudBootloader::onUpdateFailed, this,
                       &ZUD_wheel_tool::onFirmwareUpdateFailed);
            selectedBootloader = nullptr;
            sharedDevice->follow(nullptr);
            resetProgressDialog();
        }
        // With the kind pointers cleared: the bootloader button's text
        // follows the selection even when nothing is selected next.
        setUiEnabled(false);
    }

    if (index == -1) {
        selectedDevice = nullptr;
        return;
    }

    const QString id = ui->comboBox_UsbDevice->itemData(index, Qt::UserRole).toString();
    selectedDevice = usbManager.getDevice(id);

    if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(selectedDevice)) {
        selectedWheelBase = wheelBase;
        // The recorder first: it takes every update, ahead of the live view.
        followTelemetry(wheelBase);
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
        settingsLoadRequested = true;
        unsavedChanges->setWheelBase(wheelBase);
        unsavedChanges->expectLoad();
        sharedDevice->follow(wheelBase);
        wheelBase->loadSettings();
    } else if (auto *pedals = qobject_cast<UsbDeviceZudPedals *>(selectedDevice)) {
        selectedPedals = pedals;
        connect(pedals, &UsbDeviceZudPedals::onJoystickUpdate, this,
                &ZUD_wheel_tool::onPedalsJoystickUpdate);
        sharedDevice->follow(pedals);
        setUiEnabled(true);
    } else if (auto *bootloader = qobject_cast<UsbDeviceZudBootloader *>(selectedDevice)) {
        selectedBootloader = bootloader;
        connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateStarted, this,
                &ZUD_wheel_tool::onFirmwareUpdateStarted);
        connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, this,
                &ZUD_wheel_tool::onFirmwareUpdateProgress);
        connect(bootloader, &UsbDeviceZudBootloader::onUpdateCompleted, this,
                &ZUD_wheel_tool::onFirmwareUpdateCompleted);
        connect(bootloader, &UsbDeviceZudBootloader::onUpdateFailed, this,
                &ZUD_wheel_tool::onFirmwareUpdateFailed);
        sharedDevice->follow(bootloader);
        setUiEnabled(true);
        // A device in bootloader mode is there to be updated: ask for the
        // file. The chooser waits for its answer, so it opens once the call
        // that selected the device (a discovery pass, a departure) has
        // returned to the event loop, and only if the bootloader is still
        // the one selected.
        const QPointer<UsbDeviceZudBootloader> chosen(bootloader);
        QMetaObject::invokeMethod(
            this,
            [this, chosen] {
                if (chosen && chosen == selectedBootloader)
                    on_pushButton_UpdateFirmware_clicked();
            },
            Qt::QueuedConnection);
    }
}

bool ZUD_wheel_tool::mayLeaveProfileEdits(int &index)
{
    // Only a choice of the user's asks: not the removal of a device that
    // left, nor the destructor's deselection.
    if (!selectedWheelBase || index < 0 || deviceLeaving || !unsavedChanges->isModified())
        return true;
    // The combo box shows the wheel base again while the question is open.
    QComboBox *list = ui->comboBox_UsbDevice;
    const QString chosen = list->itemData(index, Qt::UserRole).toString();
    {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(list->findData(selectedDevice->getId()));
    }
    const bool proceed = mayDropProfileEdits([list, chosen] {
        const int at = list->findData(chosen);
        if (at >= 0)
            list->setCurrentIndex(at);
    });
    // The question ran an event loop: devices may have come and gone.
    const int at = list->findData(chosen);
    if (!proceed || at < 0 || !selectedWheelBase)
        return false;
    const QSignalBlocker blocker(list);
    list->setCurrentIndex(at);
    index = at;
    return true;
}

void ZUD_wheel_tool::setUiEnabled(bool isEnabled)
{
    const bool bootloader = selectedBootloader && isEnabled;
    const bool wheelBase = selectedWheelBase && isEnabled;
    const bool pedals = selectedPedals && isEnabled;

    ui->pushButton_EnterExitBootloader->setText(selectedBootloader ? tr("Exit Bootloader")
                                                                   : tr("Enter Bootloader"));
    ui->pushButton_UpdateFirmware->setVisible(bootloader);
    ui->pushButton_LoadConfig->setEnabled(wheelBase);
    ui->pushButton_SaveConfig->setEnabled(wheelBase);
    ui->pushButton_SetDefaultConfig->setEnabled(bootloader || wheelBase);
    profileFiles->setEnabled(wheelBase);

    ui->pedalX->setVisible(pedals);
    ui->pedalY->setVisible(pedals);
    ui->pedalZ->setVisible(pedals);
    ui->label_Rim_Image->setVisible(wheelBase);

    for (QWidget *widget : {static_cast<QWidget *>(ui->comboBox_ProfileName),
                            static_cast<QWidget *>(ui->pushButton_AddProfile),
                            static_cast<QWidget *>(ui->pushButton_RemoveProfile),
                            static_cast<QWidget *>(ui->comboBox_EncoderType),
                            static_cast<QWidget *>(ui->spinBox_EncoderRes),
                            static_cast<QWidget *>(ui->horiSlider_Force),
                            static_cast<QWidget *>(ui->horiSlider_GenSmooth),
                            static_cast<QWidget *>(ui->horiSlider_Damping),
                            static_cast<QWidget *>(ui->horiSlider_Friction),
                            static_cast<QWidget *>(ui->horiSlider_Inertia),
                            static_cast<QWidget *>(ui->horiSlider_Spring),
                            static_cast<QWidget *>(ui->comboBox_DampingEffect),
                            static_cast<QWidget *>(ui->comboBox_FrictionEffect),
                            static_cast<QWidget *>(ui->comboBox_InertiaEffect),
                            static_cast<QWidget *>(ui->comboBox_SpringEffect)})
        widget->setEnabled(wheelBase);

    for (QWidget *widget : {static_cast<QWidget *>(ui->label_CenterOffset),
                            static_cast<QWidget *>(ui->label_CenterOffsetDeg),
                            static_cast<QWidget *>(ui->pushButton_CenterRim),
                            static_cast<QWidget *>(ui->label_RotationDegrees),
                            static_cast<QWidget *>(ui->spinBox_RotationDegree)})
        widget->setVisible(wheelBase);

    for (QLabel *label :
         {ui->label_debugTicks, ui->label_debugMotorState, ui->label_debugEncoderState,
          ui->label_debugMotorAngle, ui->label_debugEncoderRaw, ui->label_debugFfbIn,
          ui->label_debugFfbOut, ui->label_debugBisscRaw, ui->label_debugCurrentFaults,
          ui->label_debugClearedFaults, ui->label_JoystickValue, ui->label_Force,
          ui->label_GenSmooth, ui->label_Damping, ui->label_Friction, ui->label_Inertia,
          ui->label_Spring})
        label->setText(QString());

    showSelectionGuidance(pedals);
}

void ZUD_wheel_tool::on_pushButton_EnterExitBootloader_clicked()
{
    if (selectedBootloader) {
        selectedBootloader->exitBootloader();
    } else if (selectedWheelBase) {
        // The bootloader may lose the profiles: ask about unsaved edits and
        // back the loaded table up first. The boxes run event loops, so the
        // selection is looked at again after each.
        if (!mayDropProfileEdits([this] { on_pushButton_EnterExitBootloader_clicked(); }) ||
            !selectedWheelBase || !profileFiles->backupBefore(QStringLiteral("bootloader")))
            return;
        if (selectedWheelBase)
            selectedWheelBase->enterBootloader();
    } else if (selectedPedals)
        selectedPedals->enterBootloader();
}

void ZUD_wheel_tool::closeEvent(QCloseEvent *event)
{
    if (!closingForSignal && selectedWheelBase && !mayDropProfileEdits([this] { close(); })) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
