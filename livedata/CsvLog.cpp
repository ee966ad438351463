// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata/CsvLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <charconv>

namespace {

const char crlf[] = "\r\n";

void field(QByteArray &out, const QByteArray &text)
{
    out += text;
    out += ',';
}

} // namespace

QByteArray wheelLogHeader(uint16_t logKind)
{
    switch (logKind) {
    case CsvLogKind::debug:
        return QByteArrayLiteral("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %\r\n");
    case CsvLogKind::torque:
        return QByteArrayLiteral("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %, "
                                 "Torque Actual %,Rotor Pos\r\n");
    case CsvLogKind::commutation:
        return QByteArrayLiteral("Time,Ticks,MechAngle,ElAngle,ElAngleEncoder,PwmU,PwmV,PwmW,"
                                 "HallU,HallV,HallW,HallPSU\r\n");
    default:
        return QByteArray();
    }
}

QByteArray pedalsLogHeader()
{
    return QByteArrayLiteral("Time,dt,x,y,z\r\n");
}

QByteArray csvInteger(uint64_t value)
{
    return QByteArray::number(qulonglong(value));
}

// std::to_chars formats as printf does in the C locale, whatever locale the
// application runs in, and rounds the exact binary value (so -0.125 gives
// -0.12, as printf does).
static QByteArray formatDouble(double value, std::chars_format format, int precision)
{
    char buffer[400]; // %.2f of the largest double: 309 digits and change
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    return QByteArray(buffer, int(r.ptr - buffer));
}

QByteArray csvFixed2(float value)
{
    return formatDouble(double(value), std::chars_format::fixed, 2);
}

QByteArray csvGeneral(float value)
{
    return formatDouble(double(value), std::chars_format::general, 6);
}

float steeringPercent(int16_t axisValue)
{
    const float fraction = float(axisValue) * (1.0f / 32768.0f);
    return fraction * 100.0f;
}

float torquePercent(int16_t hundredths)
{
    return float(hundredths) / 100.0f;
}

float hallW(float hallU, float hallV)
{
    return -hallU - hallV;
}

void appendDebugRow(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                    uint64_t readTimeMicros, uint64_t dt)
{
    const ZudUsbWheelBaseDebugOutput &debug = update.debug;
    field(out, csvInteger(readTimeMicros));
    field(out, csvInteger(dt));
    field(out, csvFixed2(debug.motorAngle.get()));
    field(out, csvGeneral(debug.ffbIn.get()));
    field(out, csvGeneral(debug.ffbOut.get()));
    out += csvInteger(debug.ticks.get());
    out += crlf;
}

int torqueSampleCount(const ZudUsbWheelBaseTorqueSamples &torque)
{
    return torque.sampleCount < zudMaxTorqueSamples ? torque.sampleCount : zudMaxTorqueSamples;
}

void latchTorqueIn(const ZudUsbWheelBaseTorqueSamples &torque, int j, float &latched)
{
    if (j == torque.torqueInSample)
        latched = torquePercent(torque.torqueIn.get());
}

int appendTorqueRows(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                     uint64_t readTimeMicros, uint64_t dt, float &latchedTorqueIn)
{
    const ZudUsbWheelBaseTorqueSamples &torque = update.torque;
    const int count = torqueSampleCount(torque);
    if (count == 0)
        return 0;
    // Everything but the torque input and the two samples is the same in
    // every row of the update.
    const QByteArray time = csvInteger(readTimeMicros) + ',' + csvInteger(dt) + ',' +
                            csvGeneral(steeringPercent(update.axisValue.get())) + ',';
    const QByteArray rotor = csvGeneral(torque.rotorPos.get());
    QByteArray torqueIn = csvGeneral(latchedTorqueIn);
    for (int j = 0; j < count; ++j) {
        if (j == torque.torqueInSample) {
            latchTorqueIn(torque, j, latchedTorqueIn);
            torqueIn = csvGeneral(latchedTorqueIn);
        }
        out += time;
        field(out, torqueIn);
        field(out, csvGeneral(torquePercent(torque.torqueOut[j].get())));
        field(out, csvGeneral(torquePercent(torque.torqueActual[j].get())));
        out += rotor;
        out += crlf;
    }
    return count;
}

bool takeElectricalAngle(float elAngle, float &lastLogged)
{
    if (elAngle == lastLogged || !(elAngle >= 0.0f))
        return false;
    lastLogged = elAngle;
    return true;
}

bool appendCommutationRow(QByteArray &out, const ZudUsbWheelBaseJoystickUpdate &update,
                          uint64_t readTimeMicros, float &lastLoggedElAngle)
{
    const ZudUsbWheelBaseCommutation &c = update.commutation;
    if (!takeElectricalAngle(c.elAngle.get(), lastLoggedElAngle))
        return false;
    field(out, csvInteger(readTimeMicros));
    field(out, csvInteger(c.ticks.get()));
    field(out, csvGeneral(c.mechAngle.get()));
    field(out, csvGeneral(c.elAngle.get()));
    field(out, csvGeneral(c.elAngleEncoder.get()));
    field(out, csvGeneral(c.pwmU.get()));
    field(out, csvGeneral(c.pwmV.get()));
    field(out, csvGeneral(c.pwmW.get()));
    field(out, csvGeneral(c.hallU.get()));
    field(out, csvGeneral(c.hallV.get()));
    field(out, csvGeneral(hallW(c.hallU.get(), c.hallV.get())));
    out += csvGeneral(c.hallPsu.get());
    out += crlf;
    return true;
}

void appendPedalsRow(QByteArray &out, const ZudUsbPedalsJoystickUpdate &update,
                     uint64_t readTimeMicros, uint64_t dt)
{
    field(out, csvInteger(readTimeMicros));
    field(out, csvInteger(dt));
    field(out, csvInteger(update.x.get()));
    field(out, csvInteger(update.y.get()));
    out += csvInteger(update.z.get());
    out += crlf;
}

QString logFileName(const QString &prefix, const QDateTime &localTime)
{
    return prefix + localTime.toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss")) +
           QStringLiteral(".csv");
}

QString numberedLogFileName(const QString &fileName, int n)
{
    if (n <= 1)
        return fileName;
    const QString suffix = QStringLiteral(".csv");
    const QString stem =
        fileName.endsWith(suffix) ? fileName.left(fileName.size() - suffix.size()) : fileName;
    return stem + QLatin1Char('-') + QString::number(n) + suffix;
}

namespace {

bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

bool openNewLogFile(QFile &file, const QDir &dir, const QString &fileName, QString *reason)
{
    // Enough for a log every second for hours; past that something else is
    // wrong with the directory.
    constexpr int maxAttempts = 10000;
    for (int n = 1; n <= maxAttempts; ++n) {
        const QString path = dir.absoluteFilePath(numberedLogFileName(fileName, n));
        if (nameTaken(path))
            continue;
        file.setFileName(path);
        // NewOnly: a file that appeared since the look above is not
        // truncated either; it just costs the next number.
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (nameTaken(path))
            continue;
        if (reason)
            *reason = file.errorString();
        return false;
    }
    file.setFileName(dir.absoluteFilePath(fileName));
    if (reason)
        *reason = QStringLiteral("every name from %1 to %2 is taken")
                      .arg(fileName, numberedLogFileName(fileName, maxAttempts));
    return false;
}
