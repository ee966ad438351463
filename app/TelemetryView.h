// SPDX-License-Identifier: GPL-3.0-or-later
// The telemetry beside the live view: the recorder that takes every update
// of the selected wheel base, ahead of the live view, and the Scope page
// that plots it and runs the step test.
#pragma once

#include "livedata/TelemetryRecorder.h"

#include <QObject>

class DeviceSelection;
class QMainWindow;
class ScopePage;
class UsbDeviceZudWheelBase;

namespace Ui {
class ZUD_wheel_tool;
}

class TelemetryView : public QObject {
    Q_OBJECT

public:
    TelemetryView(QMainWindow *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection);

    const TelemetryRecorder &recorder() const { return telemetry; }

    // Follow the selection: the recorder and the Scope page let go of the
    // wheel base that is left, and take the one that is entered.
    void selectionLeaving();
    void selectionEntered();

    // Releases a running step test's force at the program's end; says what
    // became of it, or returns an empty string when no test was running.
    QString releaseForEnd();

private:
    void follow(UsbDeviceZudWheelBase *wheelBase);
    // Makes the window large enough for the Scope page where the screen
    // allows, keeping it on the screen; never shrinks it.
    void growToFitScope();

    QMainWindow *window;
    const DeviceSelection &selection;
    TelemetryRecorder telemetry;
    ScopePage *scopePage;
    // The wheel base whose updates the recorder takes, or null.
    UsbDeviceZudWheelBase *followed = nullptr;
};
