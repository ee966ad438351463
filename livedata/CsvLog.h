// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV log's text: file names, header lines, the rows of every kind of
// live data and their number formats. Free of widgets and files so that the
// bytes can be checked on their own; the window writes what these return.
//
// Rows are ASCII, comma-separated, unquoted, each ended by CR LF. Numbers are
// formatted independently of the user's locale.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

// The log kind of a wheel base: updateKind of its last update (0 before any).
// Kinds other than these three define no rows and no header.
namespace CsvLogKind {
constexpr uint16_t debug = 1;
constexpr uint16_t torque = 2;
constexpr uint16_t commutation = 3;
} // namespace CsvLogKind

// Header line of a wheel base log started with this log kind; empty for
// kinds without rows.
QByteArray wheelLogHeader(uint16_t logKind);
// Header line of a pedals log.
QByteArray pedalsLogHeader();

// Number formats of the rows.
QByteArray csvInteger(uint64_t value);
// The float widened to double, two decimals (as printf "%.2f"; nan and inf
// as printf writes them).
QByteArray csvFixed2(float value);
// The float widened to double, 6 significant digits, trailing zeros removed,
// exponent form for very large or small values (as printf "%g").
QByteArray csvGeneral(float value);

// Computed columns, in single precision.
// The steering angle in percent of full scale: axisValue x 2^-15 x 100.
float steeringPercent(int16_t axisValue);
// A torque sample in hundredths of a percent, as percent.
float torquePercent(int16_t hundredths);
// The third Hall phase, which the device does not send.
float hallW(float hallU, float hallV);

// Appends the kind 1 row of an update: time, dt, motorAngle, ffbIn, ffbOut,
// ticks.
void appendDebugRow(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                    uint64_t readTimeMicros, uint64_t dt);

// The number of torque samples of a kind 2 update that may be read: its
// sampleCount, but never more than the record holds.
int torqueSampleCount(const ZudUsbWheelBaseTorqueSamples &torque);
// The torque input latch, applied before sample j is used: at the sample the
// update names, latched becomes the update's torque input in percent; at
// every other sample it keeps the value carried over from before.
void latchTorqueIn(const ZudUsbWheelBaseTorqueSamples &torque, int j, float &latched);

// Appends the rows of a kind 2 update, one per sample, and returns their
// number. The torque input is latched into latchedTorqueIn at the sample the
// update names, and carried over to later updates. At most the 11 samples
// the record holds are written, whatever sampleCount claims.
int appendTorqueRows(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                     uint64_t readTimeMicros, uint64_t dt, float &latchedTorqueIn);

// The electrical-angle rule of kind 3: a row is due when the angle differs
// from the last one logged and is not below 0 (NaN is never logged); then
// lastLogged becomes the angle.
bool takeElectricalAngle(float elAngle, float &lastLogged);
// Appends the kind 3 row if the electrical-angle rule lets it through;
// returns whether it did.
bool appendCommutationRow(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                          uint64_t readTimeMicros, float &lastLoggedElAngle);

// Appends a pedals row: time, dt, x, y, z.
void appendPedalsRow(QByteArray &out, const ZudUsbPedalsJoystickUpdate &update,
                     uint64_t readTimeMicros, uint64_t dt);

// The file name of a log started at localTime: prefix, the time as
// yyyy-MM-dd-hh-mm-ss, ".csv".
QString logFileName(const QString &prefix, const QDateTime &localTime);
// The name with "-n" put before ".csv" for n of 2 and above; n 1 is the name
// itself.
QString numberedLogFileName(const QString &fileName, int n);

class QDir;
class QFile;

// Creates a new log file in dir for fileName and opens it for writing. An
// existing log is never truncated: when the name is taken the next free one
// of fileName-2.csv, fileName-3.csv, ... is used. On success file is open
// under the absolute path of the name used; on failure file names the path
// that could not be created and reason says why.
bool openNewLogFile(QFile &file, const QDir &dir, const QString &fileName, QString *reason);
