// The telemetry beside the live view: the recorder that takes every update
// of the selected wheel base, the Scope page that plots it, and the switch
// that hands every update to the CSV logger.
#include "app/ScopePage.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

#include <QCheckBox>
#include <QHBoxLayout>

void ZUD_wheel_tool::setUpTelemetry()
{
    scopePage = new ScopePage(telemetry, ui->tabWidget);
    scopePage->setObjectName(QStringLiteral("tab_Scope"));
    ui->tabWidget->addTab(scopePage, tr("Scope"));

    // "Log every report" sits beside the logging button.
    auto *logEvery = new QCheckBox(tr("Log every report"), ui->tabWidgetPageDebug);
    logEvery->setObjectName(QStringLiteral("checkBox_LogEveryReport"));
    QBoxLayout *column = ui->verticalLayout;
    const int at = column->indexOf(ui->pushButton_Logging);
    column->removeWidget(ui->pushButton_Logging);
    auto *row = new QHBoxLayout;
    row->addWidget(logEvery);
    row->addWidget(ui->pushButton_Logging, 1);
    column->insertLayout(at, row);
    connect(logEvery, &QCheckBox::toggled, this, [this](bool on) { logEveryReport = on; });
}

void ZUD_wheel_tool::followTelemetry(UsbDeviceZudWheelBase *wheelBase)
{
    if (selectedWheelBase)
        disconnect(selectedWheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, &telemetry,
                   &TelemetryRecorder::onJoystickUpdate);
    // The step test lets go of the old wheel base while it still exists.
    scopePage->setWheelBase(wheelBase);
    telemetry.clear();
    if (wheelBase)
        connect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, &telemetry,
                &TelemetryRecorder::onJoystickUpdate);
}
