// SPDX-License-Identifier: GPL-3.0-or-later
// Drives a shown window, as a user would, into a running step test: once
// the selected wheel base's settings and first update have arrived, an
// unsaved edit, a log started, the Scope page shown and "Apply Test Force"
// confirmed for 3 s.
// For the programs that then end the window from outside (the window
// harness and the kernel window test's child).
#pragma once

#include "DialogAnswerer.h"
#include "FindChild.h"

#include "app/ScopePage.h"
#include "app/ZUD_wheel_tool.h"

#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <functional>

namespace wintest {

// onStarted runs when the test force has been sent; onReleased with
// whether its time ran out.
inline void startStepTest(ZUD_wheel_tool &window, std::function<void()> onStarted,
                          std::function<void(bool timeUp)> onReleased = {})
{
    auto *save = child<QPushButton>(window, "pushButton_SaveConfig");
    auto *poll = new QTimer(&window);
    auto *answers = new DialogAnswerer;
    answers->buttons << QMessageBox::Yes;
    QObject::connect(poll, &QTimer::timeout, &window, [=, &window] {
        // The settings and a first update (which tells the log's kind) are
        // still on their way.
        if (!save->isEnabled() || window.telemetryRecorder().reportsReceived() == 0)
            return;
        poll->stop();
        child<QSlider>(window, "horiSlider_Force")->setValue(99);
        child<QPushButton>(window, "pushButton_Logging")->click();
        auto *scope = window.findChild<ScopePage *>(QStringLiteral("tab_Scope"));
        child<QTabWidget>(window, "tabWidget")->setCurrentWidget(scope);
        child<QSpinBox>(window, "spinBox_TestDuration")->setValue(3000);
        QObject::connect(&scope->stepTest(), &StepTest::started, &window, [answers, onStarted] {
            delete answers;
            onStarted();
        });
        if (onReleased)
            QObject::connect(&scope->stepTest(), &StepTest::released, &window, onReleased);
        child<QPushButton>(window, "pushButton_TestForce")->click();
    });
    poll->start(20);
}

} // namespace wintest
