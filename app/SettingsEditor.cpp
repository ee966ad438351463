// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsEditor.h"

#include "app/DeviceControls.h"
#include "app/DeviceMessageBoxes.h"
#include "app/DeviceSelection.h"
#include "app/LiveView.h"
#include "app/ProfileFilesController.h"
#include "app/ProfileNameEditing.h"
#include "app/SaveVerifier.h"
#include "app/SettingsMapping.h"
#include "app/SharedDeviceFollower.h"
#include "app/StatusMessages.h"
#include "app/UnsavedChangesGuard.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

namespace {

// The current profile of a wheel base, or null when there is no wheel base
// or its current index names no loaded slot.
ZudUsbWheelBaseProfile *currentProfileOf(UsbDeviceZudWheelBase *wheelBase)
{
    if (!wheelBase)
        return nullptr;
    const int current = wheelBase->currentProfile;
    if (current >= wheelBase->profileCount || current >= maxProfiles)
        return nullptr;
    return &wheelBase->profiles[current];
}

} // namespace

SettingsEditor::SettingsEditor(QMainWindow *window, Ui::ZUD_wheel_tool *form,
                               const DeviceSelection &selection, DeviceControls &controls,
                               LiveView &liveView)
    : window(window), ui(form), selection(selection), controls(controls), liveView(liveView)
{
    deviceBoxes = new DeviceMessageBoxes(window);
    unsavedChanges = new UnsavedChangesGuard(window, ui->pushButton_SaveConfig);
    saveVerifier = new SaveVerifier(window, unsavedChanges);
    connect(unsavedChanges, &UnsavedChangesGuard::modifiedChanged, this,
            &SettingsEditor::unsavedEditsChanged);
    setUpSharing();
    profileFiles = new ProfileFilesController(
        window, ui->profileLayout, unsavedChanges, [this] { return this->selection.wheelBase(); },
        [this] { settingsLoaded(this->selection.wheelBase()); });
    connect(&selection, &DeviceSelection::departing, this, &SettingsEditor::deviceDeparting);
    connect(&controls, &DeviceControls::applied, this,
            [this](bool wheelBaseEnabled) { profileFiles->setEnabled(wheelBaseEnabled); });
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
}

void SettingsEditor::selectionLeaving()
{
    if (selection.wheelBase()) {
        settingsLoadRequested = false;
        sharedDevice->follow(nullptr);
        saveVerifier->forget();
        unsavedChanges->setWheelBase(nullptr);
    } else if (selection.pedals() || selection.bootloader()) {
        sharedDevice->follow(nullptr);
    }
}

void SettingsEditor::selectionEntered()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase()) {
        // The wheel controls stay disabled until the settings have arrived.
        settingsLoadRequested = true;
        unsavedChanges->setWheelBase(wheelBase);
        unsavedChanges->expectLoad();
        sharedDevice->follow(wheelBase);
        wheelBase->loadSettings();
    } else if (selection.pedals() || selection.bootloader()) {
        sharedDevice->follow(selection.device());
    }
}

void SettingsEditor::deviceDeparting(UsbDevice *device)
{
    // Called by the manager: the user learns what happened from the status
    // bar, without a dialog that would wait here.
    QStringList news;
    news << saveVerifier->deviceLeaving(device);
    unsavedChanges->refresh();
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
        wheelBase && unsavedChanges->isModified()) {
        QString error;
        const QString path = profileFiles->backupUnsaved(*wheelBase, error);
        news << (path.isEmpty()
                     ? tr("%1 left with unsaved changes, which could not be backed up: %2")
                           .arg(device->getProductString(), error)
                     : tr("%1 left with unsaved changes; they are kept in %2")
                           .arg(device->getProductString(), QDir::toNativeSeparators(path)));
    }
    news.removeAll(QString());
    if (!news.isEmpty())
        window->statusBar()->showMessage(news.join(QLatin1Char(' ')));
}

QString SettingsEditor::backupForEnd()
{
    unsavedChanges->refresh();
    UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase || !unsavedChanges->isModified())
        return QString();
    QString error;
    const QString path = profileFiles->backupUnsaved(*wheelBase, error);
    return path.isEmpty() ? tr("unsaved changes could not be backed up: %1").arg(error)
                          : tr("unsaved changes kept in %1").arg(QDir::toNativeSeparators(path));
}

void SettingsEditor::settingsLoaded(UsbDevice *device)
{
    UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase || device != wheelBase)
        return;
    // After a load, what the device holds is the loaded table; a read-back
    // after a save is compared with what was sent.
    if (unsavedChanges->settingsArrived())
        saveVerifier->loadEnded(wheelBase);

    QComboBox *list = ui->comboBox_ProfileName;
    list->clear();
    const int count = wheelBase->profileCount < maxProfiles ? wheelBase->profileCount : maxProfiles;
    for (int i = 0; i < count; ++i) {
        const ZudUsbWheelBaseProfile &profile = wheelBase->profiles[i];
        list->addItem(profileNameText(profile), QVariant(int(int8_t(profile.index))));
    }

    controls.apply(true);
    // Applying the controls emptied the steering label: the next wheel
    // update shows it again, even when the table is empty and no profile
    // fills the controls below.
    liveView.forgetShownValue();
    list->setCurrentIndex(wheelBase->currentProfile);
    profileChosen(wheelBase->currentProfile);
    unsavedChanges->editorFilled();

    if (settingsLoadRequested) {
        settingsLoadRequested = false;
        window->statusBar()->showMessage(
            StatusMessages::settingsLoaded(wheelBase->getProductString(), count),
            StatusMessages::timeoutMs);
    }
}

void SettingsEditor::settingsLoadFailed(UsbDevice *device, const QString &message)
{
    settingsLoadRequested = false;
    // Called by the device: the box must not wait, and a device that keeps
    // refusing fills one box, not the screen.
    deviceBoxes->show(device->getId(), QMessageBox::Warning, device->getProductString(), message);
}

void SettingsEditor::profileChosen(int index)
{
    UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase || index < 0)
        return;
    if (index >= wheelBase->profileCount || index >= maxProfiles)
        return; // no such slot in the table
    wheelBase->currentProfile = uint8_t(index);

    // Copy first: every setValue below runs a slot that writes its field of
    // the current profile back.
    const ZudUsbWheelBaseProfile profile = wheelBase->profiles[index];
    ui->label_CenterOffsetDeg->setText(centerOffsetText(profile.centerOffset.get()));
    ui->comboBox_EncoderType->setCurrentIndex(profile.encoderType);
    ui->spinBox_EncoderRes->setValue(profile.encoderResolution.get());
    ui->spinBox_RotationDegree->setValue(profile.rotationDegrees.get());

    ui->horiSlider_Force->setValue(profile.maxForce.get());
    forceChanged(profile.maxForce.get());
    ui->horiSlider_GenSmooth->setValue(profile.smoothing);
    smoothingChanged(profile.smoothing);
    ui->horiSlider_Damping->setValue(levelToSlider(profile.damping));
    dampingChanged(levelToSlider(profile.damping));
    ui->horiSlider_Friction->setValue(levelToSlider(profile.friction));
    frictionChanged(levelToSlider(profile.friction));
    ui->horiSlider_Inertia->setValue(levelToSlider(profile.inertia));
    inertiaChanged(levelToSlider(profile.inertia));
    ui->horiSlider_Spring->setValue(levelToSlider(profile.spring));
    springChanged(levelToSlider(profile.spring));

    ui->comboBox_DampingEffect->setCurrentIndex(profile.dampingEffect);
    ui->comboBox_FrictionEffect->setCurrentIndex(profile.frictionEffect);
    ui->comboBox_InertiaEffect->setCurrentIndex(profile.inertiaEffect);
    ui->comboBox_SpringEffect->setCurrentIndex(profile.springEffect);

    // The rotation range may have changed: the next wheel update redraws.
    liveView.forgetShownValue();
}

void SettingsEditor::profileNameEdited(const QString &text)
{
    UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase || ui->comboBox_ProfileName->currentIndex() != wheelBase->currentProfile)
        return;
    ZudUsbWheelBaseProfile *profile = currentProfileOf(wheelBase);
    if (!profile)
        return;
    storeProfileName(*profile, text);
    setCurrentItemTextKeepingEdit(ui->comboBox_ProfileName, text);
}

void SettingsEditor::forceChanged(int value)
{
    ui->label_Force->setText(percentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->maxForce = value;
}

void SettingsEditor::smoothingChanged(int value)
{
    ui->label_GenSmooth->setText(QString::number(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->smoothing = int8_t(uint8_t(unsigned(value) & 0xFFu));
}

void SettingsEditor::dampingChanged(int value)
{
    ui->label_Damping->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->damping = sliderToLevel(value);
}

void SettingsEditor::frictionChanged(int value)
{
    ui->label_Friction->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->friction = sliderToLevel(value);
}

void SettingsEditor::inertiaChanged(int value)
{
    ui->label_Inertia->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->inertia = sliderToLevel(value);
}

void SettingsEditor::springChanged(int value)
{
    ui->label_Spring->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->spring = sliderToLevel(value);
}

void SettingsEditor::dampingEffectChosen(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->dampingEffect = uint8_t(unsigned(index) & 0xFFu);
}

void SettingsEditor::frictionEffectChosen(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->frictionEffect = uint8_t(unsigned(index) & 0xFFu);
}

void SettingsEditor::inertiaEffectChosen(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->inertiaEffect = uint8_t(unsigned(index) & 0xFFu);
}

void SettingsEditor::springEffectChosen(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->springEffect = uint8_t(unsigned(index) & 0xFFu);
}

void SettingsEditor::encoderTypeChosen(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->encoderType = uint8_t(unsigned(index) & 0xFFu);
}

void SettingsEditor::rotationChanged(int value)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->rotationDegrees = value;
}

void SettingsEditor::encoderResolutionChanged(int value)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selection.wheelBase()))
        profile->encoderResolution = value;
}

void SettingsEditor::addProfile()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
        wheelBase->addProfile();
}

void SettingsEditor::removeProfile()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
        wheelBase->removeProfile();
}

void SettingsEditor::save()
{
    saveProfiles(nullptr);
}

void SettingsEditor::saveProfiles(std::function<void()> then)
{
    if (!selection.wheelBase() || !profileFiles->backupBefore(QStringLiteral("save")))
        return;
    // The backup's question may have run an event loop.
    if (!selection.wheelBase())
        return;
    // No edits while the table is sent and read back: the read-back
    // replaces the table in memory.
    controls.apply(false);
    saveVerifier->save(selection.wheelBase(), std::move(then));
}

bool SettingsEditor::mayDropProfileEdits(std::function<void()> retry)
{
    switch (unsavedChanges->confirmDiscard()) {
    case UnsavedChangesGuard::Decision::Proceed:
        return true;
    case UnsavedChangesGuard::Decision::Discard:
        // The question ran an event loop: the wheel base may be gone.
        if (selection.wheelBase()) {
            unsavedChanges->revertEdits();
            settingsLoaded(selection.wheelBase());
        }
        return true;
    case UnsavedChangesGuard::Decision::SaveFirst:
        saveProfiles(std::move(retry));
        return false;
    case UnsavedChangesGuard::Decision::Cancel:
        break;
    }
    return false;
}

bool SettingsEditor::hasUnsavedEdits() const
{
    return unsavedChanges->isModified();
}

void SettingsEditor::profileSwitched(UsbDevice *device)
{
    UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase || device != wheelBase)
        return;
    // The switch read the table back: it is what the device holds, and
    // the new current profile is no edit of the user's.
    unsavedChanges->expectLoad();
    settingsLoaded(wheelBase);
}

bool SettingsEditor::backupBefore(const QString &reason)
{
    return profileFiles->backupBefore(reason);
}

void SettingsEditor::setUpSharing()
{
    sharedDevice = new SharedDeviceFollower(window, unsavedChanges);
    // Another program changed the table and the editor holds no edits.
    connect(sharedDevice, &SharedDeviceFollower::reloadWanted, this, [this] {
        UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
        if (!wheelBase)
            return;
        controls.apply(false);
        unsavedChanges->expectLoad();
        wheelBase->loadSettings();
    });
    // Another program kept the device: what the user asked for did not
    // start, and can be asked for again.
    connect(sharedDevice, &SharedDeviceFollower::exchangeRefused, this, [this] {
        settingsLoadRequested = false;
        UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
        if (!wheelBase)
            return;
        unsavedChanges->loadAbandoned();
        const bool haveTable = wheelBase->profileCount > 0;
        controls.apply(haveTable);
        if (!haveTable)
            ui->pushButton_LoadConfig->setEnabled(true);
    });
}

void SettingsEditor::reload()
{
    if (selection.wheelBase() && !mayDropProfileEdits([this] { reload(); }))
        return;
    controls.apply(false);
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase()) {
        settingsLoadRequested = true;
        unsavedChanges->expectLoad();
        wheelBase->loadSettings();
    }
}

void SettingsEditor::resetToDefaults()
{
    if (selection.wheelBase() && !mayDropProfileEdits([this] { resetToDefaults(); }))
        return;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        window, tr("Reset settings?"),
        tr("Are you sure you want to reset all settings and profiles? This cannot be undone."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The box ran an event loop: the selection may have changed meanwhile,
    // so the device is looked at only now.
    if (UsbDeviceZudBootloader *bootloader = selection.bootloader()) {
        bootloader->resetToFactoryDefaults();
    } else if (selection.wheelBase()) {
        if (!profileFiles->backupBefore(QStringLiteral("factory-defaults")))
            return;
        if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
            wheelBase->resetToFactoryDefaults();
    }
}

void SettingsEditor::centerRim()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
        wheelBase->centerRim();
}
