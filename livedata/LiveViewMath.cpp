// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata/LiveViewMath.h"

bool wheelUpdateDue(uint32_t nowMs, uint32_t lastAcceptedMs)
{
    return uint32_t(nowMs - lastAcceptedMs) >= wheelUpdateIntervalMs;
}

int32_t wheelAngleDegrees(int16_t axisValue, int32_t rotationDegrees)
{
    const int64_t half = axisValue / 2;
    return int32_t(half * int64_t(rotationDegrees) / 32767);
}

int pedalPercent(uint16_t value)
{
    const float percent = float(value) * 100.0f / 65535.0f;
    return int(percent);
}

QString steeringValueText(int16_t axisValue)
{
    return QString::number(int(axisValue));
}

QString pedalsValueText(uint16_t x, uint16_t y, uint16_t z)
{
    return QStringLiteral("%1 %2 %3").arg(uint(x)).arg(uint(y)).arg(uint(z));
}

QString motorStateText(uint16_t code)
{
    switch (int16_t(code)) {
    case 0:
        return QStringLiteral("Uninitialized");
    case 1:
        return QStringLiteral("Stopped");
    case 2:
        return QStringLiteral("Alignment");
    case 3:
        return QStringLiteral("Fault");
    case 4:
        return QStringLiteral("Running");
    case 5:
        return QStringLiteral("Locked Test");
    default:
        return QString::number(int(int16_t(code)));
    }
}

QString bisscRawText(uint64_t bits)
{
    return QString::number(qulonglong(bits), 2);
}

QString fixed2Text(float value)
{
    return QString::number(double(value), 'f', 2);
}

QString faultWordHexText(uint32_t word)
{
    return QLatin1String("0x") + QString::number(uint(word), 16).rightJustified(8, '0').toUpper();
}

QString pedalBarText(const QString &axis, int percent)
{
    return QStringLiteral("%1 %2%").arg(axis).arg(percent);
}

DebugOutputTexts debugOutputTexts(const ZudUsbWheelBaseDebugOutput &output)
{
    DebugOutputTexts texts;
    texts.ticks = QString::number(uint(output.ticks.get()));
    texts.motorState = motorStateText(output.motorState.get());
    texts.encoderState = QString::number(int(output.encoderState.get()));
    texts.motorAngle = fixed2Text(output.motorAngle.get());
    texts.encoderRaw = QString::number(int(output.encoderRaw.get()));
    texts.ffbIn = fixed2Text(output.ffbIn.get());
    texts.ffbOut = fixed2Text(output.ffbOut.get());
    texts.bisscRaw = bisscRawText(output.bisscRaw.get());
    texts.currentFaults = QString::number(uint(output.currentFaults.get()));
    texts.clearedFaults = QString::number(uint(output.clearedFaults.get()));
    return texts;
}
