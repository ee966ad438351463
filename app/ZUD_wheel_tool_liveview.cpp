// The live view: the rim turned to the steering angle, the steering value,
// the debug read-outs of a wheel base and the bars of a pedal set.
#include "app/RimTurner.h"
#include "app/ZUD_wheel_tool.h"
#include "livedata/LiveViewMath.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "ui_ZUD_wheel_tool.h"

void ZUD_wheel_tool::onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                                      uint64_t readTimeMicros)
{
    // With "Log every report" the logger takes every update; otherwise only
    // the ones shown.
    if (logEveryReport)
        onLogDebugOutput(device, update, readTimeMicros);

    // At most one update per 16 ms is shown and logged, whatever the report
    // rate; the others are dropped whole.
    const uint32_t now = millisClock();
    if (!wheelUpdateDue(now, lastWheelUpdateMillis))
        return;
    lastWheelUpdateMillis = now;

    drawWheel(update->axisValue.get());
    if (update->updateKind == 1)
        onDebugOutput(device, &update->debug, readTimeMicros);
    if (!logEveryReport)
        onLogDebugOutput(device, update, readTimeMicros);
}

void ZUD_wheel_tool::drawWheel(int16_t axis_value)
{
    if (!selectedWheelBase)
        return;
    if (lastAxisValue == axis_value)
        return;
    lastAxisValue = axis_value;
    ui->label_JoystickValue->setText(steeringValueText(axis_value));

    // A profile index the device reported out of the table's range has no
    // rotation range; the rim then stays upright.
    const uint8_t current = selectedWheelBase->currentProfile;
    const int32_t range =
        current < maxProfiles ? selectedWheelBase->profiles[current].rotationDegrees.get() : 0;
    rimTurner->turnTo(wheelAngleDegrees(axis_value, range));
}

void ZUD_wheel_tool::onDebugOutput(UsbDevice *, ZudUsbWheelBaseDebugOutput *debugOutput, uint64_t)
{
    if (!selectedWheelBase)
        return;
    const DebugOutputTexts texts = debugOutputTexts(*debugOutput);
    ui->label_debugTicks->setText(texts.ticks);
    ui->label_debugMotorState->setText(texts.motorState);
    ui->label_debugEncoderState->setText(texts.encoderState);
    ui->label_debugMotorAngle->setText(texts.motorAngle);
    ui->label_debugEncoderRaw->setText(texts.encoderRaw);
    ui->label_debugFfbIn->setText(texts.ffbIn);
    ui->label_debugFfbOut->setText(texts.ffbOut);
    ui->label_debugBisscRaw->setText(texts.bisscRaw);
    ui->label_debugCurrentFaults->setText(texts.currentFaults);
    ui->label_debugClearedFaults->setText(texts.clearedFaults);
    ui->label_debugCurrentFaultsHex->setText(faultWordHexText(debugOutput->currentFaults.get()));
    ui->label_debugClearedFaultsHex->setText(faultWordHexText(debugOutput->clearedFaults.get()));
}

void ZUD_wheel_tool::onPedalsJoystickUpdate(UsbDevice *device, ZudUsbPedalsJoystickUpdate *update,
                                            uint64_t readTimeMicros)
{
    drawPedals(update->x.get(), update->y.get(), update->z.get());
    onPedalsLogDebugOutput(device, update, readTimeMicros);
}

void ZUD_wheel_tool::drawPedals(uint16_t x, uint16_t y, uint16_t z)
{
    ui->label_JoystickValue->setText(pedalsValueText(x, y, z));
    ui->pedalX->setValue(pedalPercent(x));
    ui->pedalY->setValue(pedalPercent(y));
    ui->pedalZ->setValue(pedalPercent(z));
}
