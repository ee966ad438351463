// SPDX-License-Identifier: GPL-3.0-or-later
// The live view: the rim turned to the steering angle, the steering value,
// the debug read-outs of a wheel base and the bars of a pedal set, at most
// one update per 16 ms whatever the report rate. Hands each update it takes
// to the CSV logger.
#pragma once

#include "app/RimTurner.h"
#include "devices/ZudUsbReports.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

class CsvLogger;
class DeviceSelection;
class QWidget;

namespace Ui {
class ZUD_wheel_tool;
}

class LiveView : public QObject {
    Q_OBJECT

public:
    LiveView(QWidget *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection,
             CsvLogger &logger);

    // The millisecond clock of the throttle; currentTimeMillis unless a test
    // or benchmark drives time itself.
    void setMillisClock(std::function<uint32_t()> clock);

    void showWheelUpdate(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros);
    void drawWheel(int16_t axisValue);
    void showDebugOutput(const ZudUsbWheelBaseDebugOutput &debugOutput);
    void showPedalsUpdate(const ZudUsbPedalsJoystickUpdate &update, uint64_t readTimeMicros);
    void drawPedals(uint16_t x, uint16_t y, uint16_t z);
    // The steering value was emptied or the rotation range changed: the
    // next wheel update draws again, even with an unchanged value.
    void forgetShownValue() { lastAxisValue.reset(); }

private:
    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
    CsvLogger &logger;
    // The steering value last shown. The rim's turner keeps the rotation
    // last drawn, in 32 bits: a device may report a rotation range whose
    // angles do not fit 16 bits.
    std::optional<int16_t> lastAxisValue;
    RimTurner rimTurner;
    uint32_t lastWheelUpdateMillis;
    std::function<uint32_t()> millisClock;
    // "Log every report": the logger takes every update, not the shown ones.
    bool logEveryReport = false;
};
