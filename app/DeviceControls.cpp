// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceControls.h"

#include "app/DeviceSelection.h"
#include "ui_ZUD_wheel_tool.h"

DeviceControls::DeviceControls(Ui::ZUD_wheel_tool *form, const DeviceSelection &selection)
    : ui(form), selection(selection)
{
}

void DeviceControls::apply(bool isEnabled)
{
    const bool bootloader = selection.bootloader() && isEnabled;
    const bool wheelBase = selection.wheelBase() && isEnabled;
    const bool pedals = selection.pedals() && isEnabled;

    ui->pushButton_EnterExitBootloader->setText(selection.bootloader() ? tr("Exit Bootloader")
                                                                       : tr("Enter Bootloader"));
    ui->pushButton_UpdateFirmware->setVisible(bootloader);
    ui->pushButton_LoadConfig->setEnabled(wheelBase);
    ui->pushButton_SaveConfig->setEnabled(wheelBase);
    ui->pushButton_SetDefaultConfig->setEnabled(bootloader || wheelBase);

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

    emit applied(wheelBase, pedals);
}
