// The telemetry beside the live view: the recorder that takes every update
// of the selected wheel base, the Scope page that plots it, and the switch
// that hands every update to the CSV logger.
#include "app/ScopePage.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QStatusBar>
#include <QWindow>

void ZUD_wheel_tool::setUpTelemetry()
{
    scopePage = new ScopePage(telemetry, ui->tabWidget);
    scopePage->setObjectName(QStringLiteral("tab_Scope"));
    ui->tabWidget->addTab(scopePage, tr("Scope"));
    connect(scopePage, &ScopePage::statusMessage, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this] {
        if (ui->tabWidget->currentWidget() == scopePage)
            growToFitScope();
    });

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

void ZUD_wheel_tool::growToFitScope()
{
    if (isMaximized() || isFullScreen())
        return;
    const QSize missing = scopePage->shortfall();
    if (missing.width() <= 0 && missing.height() <= 0)
        return;
    QScreen *screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize decoration = frame.size() - size();
    const QSize wanted =
        (size() + missing).boundedTo(available.size() - decoration).expandedTo(size());
    if (wanted == size())
        return;
    resize(wanted);
    // Up and to the left as far as the larger window needs to stay on screen.
    QRect placed(frame.topLeft(), wanted + decoration);
    if (placed.right() > available.right())
        placed.moveRight(available.right());
    if (placed.bottom() > available.bottom())
        placed.moveBottom(available.bottom());
    if (placed.left() < available.left())
        placed.moveLeft(available.left());
    if (placed.top() < available.top())
        placed.moveTop(available.top());
    if (placed.topLeft() != frame.topLeft())
        move(placed.topLeft());
}
