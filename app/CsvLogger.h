// SPDX-License-Identifier: GPL-3.0-or-later
// CSV logging of the live data of the selected device: "Start Logging" and
// "Stop Logging", the "Log every report" switch beside them, and each
// update's rows written as they come. The rows are formed by CsvLog.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QFile>
#include <QObject>
#include <cstdint>

class DeviceControls;
class DeviceSelection;
class QCheckBox;
class QMainWindow;

namespace Ui {
class ZUD_wheel_tool;
}

class CsvLogger : public QObject {
    Q_OBJECT

public:
    CsvLogger(QMainWindow *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection,
              const DeviceControls &controls);

    // "Log every report": the logger then takes every update, not only the
    // ones the live view shows.
    QCheckBox *everyReportSwitch() const { return everyReport; }

    // The logging button: opens a new log for the selected device, or
    // closes the open one.
    void toggle();
    // One update of the selected device; written when a log is open.
    void logWheelUpdate(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros);
    void logPedalsUpdate(const ZudUsbPedalsJoystickUpdate &update, uint64_t readTimeMicros);
    // "Start Logging" acts while a wheel base or pedals are selected, and
    // "Stop Logging" whenever a log is open.
    void refreshButton();
    // Closes an open log at the program's end; says what was done, or
    // returns an empty string when no log was open.
    QString closeForEnd();

private:
    void stopAfterWriteError();
    bool writeRows(const QByteArray &rows);

    QMainWindow *window;
    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
    QCheckBox *everyReport;
    QFile logFile;
    // Time of the previous logged update, the torque input carried between
    // rows, and the kind of the last wheel update seen.
    uint64_t lastLogReadTimeMicros;
    float latchedTorqueIn = 0.0f;
    uint16_t logKind = 0;
    // Data rows written to the open log, for the status bar at its end.
    qint64 logRows = 0;
};
