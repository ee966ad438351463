// The settings editor: filling the controls from the wheel base's current
// profile, writing control changes back, the profile list, and load, save,
// reset and centring. The profile table lives in the wheel base object; the
// editor reads and writes it in place and sends nothing until "Save
// Settings" (or "Center").
#include "app/DeviceMessageBoxes.h"
#include "app/NonBlockingBox.h"
#include "app/ProfileFilesController.h"
#include "app/ProfileNameEditing.h"
#include "app/SaveVerifier.h"
#include "app/SettingsMapping.h"
#include "app/SharedDeviceFollower.h"
#include "app/StatusMessages.h"
#include "app/UnsavedChangesGuard.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

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

void ZUD_wheel_tool::onSettingsLoaded(UsbDevice *device)
{
    if (!selectedWheelBase || device != selectedWheelBase)
        return;
    UsbDeviceZudWheelBase *wheelBase = selectedWheelBase;
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

    setUiEnabled(true);
    // setUiEnabled emptied the steering label: the next wheel update shows
    // it again, even when the table is empty and no profile fills the
    // controls below.
    lastAxisValue.reset();
    list->setCurrentIndex(wheelBase->currentProfile);
    on_comboBox_ProfileName_activated(wheelBase->currentProfile);
    unsavedChanges->editorFilled();

    if (settingsLoadRequested) {
        settingsLoadRequested = false;
        statusBar()->showMessage(
            StatusMessages::settingsLoaded(wheelBase->getProductString(), count),
            StatusMessages::timeoutMs);
    }
}

void ZUD_wheel_tool::onSettingsLoadFailed(UsbDevice *device, QString message)
{
    settingsLoadRequested = false;
    // Called by the device: the box must not wait (ZUD_wheel_tool.h), and a
    // device that keeps refusing fills one box, not the screen.
    deviceBoxes->show(device->getId(), QMessageBox::Warning, device->getProductString(), message);
}

void ZUD_wheel_tool::on_comboBox_ProfileName_activated(int index)
{
    if (!selectedWheelBase || index < 0)
        return;
    if (index >= selectedWheelBase->profileCount || index >= maxProfiles)
        return; // no such slot in the table
    selectedWheelBase->currentProfile = uint8_t(index);

    // Copy first: every setValue below runs a slot that writes its field of
    // the current profile back.
    const ZudUsbWheelBaseProfile profile = selectedWheelBase->profiles[index];
    ui->label_CenterOffsetDeg->setText(centerOffsetText(profile.centerOffset.get()));
    ui->comboBox_EncoderType->setCurrentIndex(profile.encoderType);
    ui->spinBox_EncoderRes->setValue(profile.encoderResolution.get());
    ui->spinBox_RotationDegree->setValue(profile.rotationDegrees.get());

    ui->horiSlider_Force->setValue(profile.maxForce.get());
    on_horiSlider_Force_valueChanged(profile.maxForce.get());
    ui->horiSlider_GenSmooth->setValue(profile.smoothing);
    on_horiSlider_GenSmooth_valueChanged(profile.smoothing);
    ui->horiSlider_Damping->setValue(levelToSlider(profile.damping));
    on_horiSlider_Damping_valueChanged(levelToSlider(profile.damping));
    ui->horiSlider_Friction->setValue(levelToSlider(profile.friction));
    on_horiSlider_Friction_valueChanged(levelToSlider(profile.friction));
    ui->horiSlider_Inertia->setValue(levelToSlider(profile.inertia));
    on_horiSlider_Inertia_valueChanged(levelToSlider(profile.inertia));
    ui->horiSlider_Spring->setValue(levelToSlider(profile.spring));
    on_horiSlider_Spring_valueChanged(levelToSlider(profile.spring));

    ui->comboBox_DampingEffect->setCurrentIndex(profile.dampingEffect);
    ui->comboBox_FrictionEffect->setCurrentIndex(profile.frictionEffect);
    ui->comboBox_InertiaEffect->setCurrentIndex(profile.inertiaEffect);
    ui->comboBox_SpringEffect->setCurrentIndex(profile.springEffect);

    // The rotation range may have changed: the next wheel update redraws.
    lastAxisValue.reset();
}

void ZUD_wheel_tool::on_comboBox_ProfileName_currentTextChanged(QString text)
{
    if (!selectedWheelBase ||
        ui->comboBox_ProfileName->currentIndex() != selectedWheelBase->currentProfile)
        return;
    ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase);
    if (!profile)
        return;
    storeProfileName(*profile, text);
    setCurrentItemTextKeepingEdit(ui->comboBox_ProfileName, text);
}

void ZUD_wheel_tool::on_horiSlider_Force_valueChanged(int value)
{
    ui->label_Force->setText(percentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->maxForce = value;
}

void ZUD_wheel_tool::on_horiSlider_GenSmooth_valueChanged(int value)
{
    ui->label_GenSmooth->setText(QString::number(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->smoothing = int8_t(uint8_t(unsigned(value) & 0xFFu));
}

void ZUD_wheel_tool::on_horiSlider_Damping_valueChanged(int value)
{
    ui->label_Damping->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->damping = sliderToLevel(value);
}

void ZUD_wheel_tool::on_horiSlider_Friction_valueChanged(int value)
{
    ui->label_Friction->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->friction = sliderToLevel(value);
}

void ZUD_wheel_tool::on_horiSlider_Inertia_valueChanged(int value)
{
    ui->label_Inertia->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->inertia = sliderToLevel(value);
}

void ZUD_wheel_tool::on_horiSlider_Spring_valueChanged(int value)
{
    ui->label_Spring->setText(levelPercentText(value));
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->spring = sliderToLevel(value);
}

void ZUD_wheel_tool::on_comboBox_DampingEffect_activated(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->dampingEffect = uint8_t(unsigned(index) & 0xFFu);
}

void ZUD_wheel_tool::on_comboBox_FrictionEffect_activated(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->frictionEffect = uint8_t(unsigned(index) & 0xFFu);
}

void ZUD_wheel_tool::on_comboBox_InertiaEffect_activated(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->inertiaEffect = uint8_t(unsigned(index) & 0xFFu);
}

void ZUD_wheel_tool::on_comboBox_SpringEffect_activated(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->springEffect = uint8_t(unsigned(index) & 0xFFu);
}

void ZUD_wheel_tool::on_comboBox_EncoderType_activated(int index)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->encoderType = uint8_t(unsigned(index) & 0xFFu);
}

void ZUD_wheel_tool::on_spinBox_RotationDegree_valueChanged(int value)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->rotationDegrees = value;
}

void ZUD_wheel_tool::on_spinBox_EncoderRes_valueChanged(int value)
{
    if (ZudUsbWheelBaseProfile *profile = currentProfileOf(selectedWheelBase))
        profile->encoderResolution = value;
}

void ZUD_wheel_tool::on_pushButton_AddProfile_clicked()
{
    if (selectedWheelBase)
        selectedWheelBase->addProfile();
}

void ZUD_wheel_tool::on_pushButton_RemoveProfile_clicked()
{
    if (selectedWheelBase)
        selectedWheelBase->removeProfile();
}

void ZUD_wheel_tool::on_pushButton_SaveConfig_clicked()
{
    saveProfiles(nullptr);
}

void ZUD_wheel_tool::saveProfiles(std::function<void()> then)
{
    if (!selectedWheelBase || !profileFiles->backupBefore(QStringLiteral("save")))
        return;
    // The backup's question may have run an event loop.
    if (!selectedWheelBase)
        return;
    // No edits while the table is sent and read back: the read-back
    // replaces the table in memory.
    setUiEnabled(false);
    saveVerifier->save(selectedWheelBase, std::move(then));
}

bool ZUD_wheel_tool::mayDropProfileEdits(std::function<void()> retry)
{
    switch (unsavedChanges->confirmDiscard()) {
    case UnsavedChangesGuard::Decision::Proceed:
        return true;
    case UnsavedChangesGuard::Decision::Discard:
        // The question ran an event loop: the wheel base may be gone.
        if (selectedWheelBase) {
            unsavedChanges->revertEdits();
            onSettingsLoaded(selectedWheelBase);
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

void ZUD_wheel_tool::setUpSharing()
{
    sharedDevice = new SharedDeviceFollower(this, unsavedChanges);
    // Another program changed the table and the editor holds no edits.
    connect(sharedDevice, &SharedDeviceFollower::reloadWanted, this, [this] {
        if (!selectedWheelBase)
            return;
        setUiEnabled(false);
        unsavedChanges->expectLoad();
        selectedWheelBase->loadSettings();
    });
    // Another program kept the device: what the user asked for did not
    // start, and can be asked for again.
    connect(sharedDevice, &SharedDeviceFollower::exchangeRefused, this, [this] {
        settingsLoadRequested = false;
        if (!selectedWheelBase)
            return;
        unsavedChanges->loadAbandoned();
        const bool haveTable = selectedWheelBase->profileCount > 0;
        setUiEnabled(haveTable);
        if (!haveTable)
            ui->pushButton_LoadConfig->setEnabled(true);
    });
}

void ZUD_wheel_tool::on_pushButton_LoadConfig_clicked()
{
    if (selectedWheelBase && !mayDropProfileEdits([this] { on_pushButton_LoadConfig_clicked(); }))
        return;
    setUiEnabled(false);
    if (selectedWheelBase) {
        settingsLoadRequested = true;
        unsavedChanges->expectLoad();
        selectedWheelBase->loadSettings();
    }
}

void ZUD_wheel_tool::on_pushButton_SetDefaultConfig_clicked()
{
    if (selectedWheelBase &&
        !mayDropProfileEdits([this] { on_pushButton_SetDefaultConfig_clicked(); }))
        return;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, tr("Reset settings?"),
        tr("Are you sure you want to reset all settings and profiles? This cannot be undone."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The box ran an event loop: the selection may have changed meanwhile,
    // so the device is looked at only now.
    if (selectedBootloader) {
        selectedBootloader->resetToFactoryDefaults();
    } else if (selectedWheelBase) {
        if (!profileFiles->backupBefore(QStringLiteral("factory-defaults")))
            return;
        if (selectedWheelBase)
            selectedWheelBase->resetToFactoryDefaults();
    }
}

void ZUD_wheel_tool::on_pushButton_CenterRim_clicked()
{
    if (selectedWheelBase)
        selectedWheelBase->centerRim();
}
