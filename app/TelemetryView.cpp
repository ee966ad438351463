// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TelemetryView.h"

#include "app/DeviceSelection.h"
#include "app/ScopePage.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>
#include <QWindow>

TelemetryView::TelemetryView(QMainWindow *window, Ui::ZUD_wheel_tool *form,
                             const DeviceSelection &selection)
    : window(window), selection(selection)
{
    QTabWidget *tabs = form->tabWidget;
    scopePage = new ScopePage(telemetry, tabs);
    scopePage->setObjectName(QStringLiteral("tab_Scope"));
    tabs->addTab(scopePage, tr("Scope"));
    connect(scopePage, &ScopePage::statusMessage, this,
            [window](const QString &text) { window->statusBar()->showMessage(text); });
    connect(tabs, &QTabWidget::currentChanged, this, [this, tabs] {
        if (tabs->currentWidget() == scopePage)
            growToFitScope();
    });
}

void TelemetryView::selectionLeaving()
{
    if (selection.wheelBase())
        follow(nullptr);
}

void TelemetryView::selectionEntered()
{
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase())
        follow(wheelBase);
}

void TelemetryView::follow(UsbDeviceZudWheelBase *wheelBase)
{
    if (followed)
        disconnect(followed, &UsbDeviceZudWheelBase::onJoystickUpdate, &telemetry,
                   &TelemetryRecorder::onJoystickUpdate);
    followed = wheelBase;
    // The step test lets go of the old wheel base while it still exists.
    scopePage->setWheelBase(wheelBase);
    telemetry.clear();
    if (wheelBase)
        connect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, &telemetry,
                &TelemetryRecorder::onJoystickUpdate);
}

QString TelemetryView::releaseForEnd()
{
    StepTest &stepTest = scopePage->stepTest();
    if (!stepTest.isRunning())
        return QString();
    bool failed = false;
    const QMetaObject::Connection watch = connect(&stepTest, &StepTest::releaseFailed, this,
                                                  [&failed](const QString &) { failed = true; });
    stepTest.release();
    disconnect(watch);
    return failed ? tr("the test force could not be released: switch the wheel base off")
                  : tr("test force released");
}

void TelemetryView::growToFitScope()
{
    if (window->isMaximized() || window->isFullScreen())
        return;
    const QSize missing = scopePage->shortfall();
    if (missing.width() <= 0 && missing.height() <= 0)
        return;
    QScreen *screen = window->windowHandle() ? window->windowHandle()->screen()
                                             : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QSize size = window->size();
    const QSize decoration = frame.size() - size;
    const QSize wanted = (size + missing).boundedTo(available.size() - decoration).expandedTo(size);
    if (wanted == size)
        return;
    window->resize(wanted);
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
        window->move(placed.topLeft());
}
