// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LiveView.h"

#include "app/CsvLogger.h"
#include "app/DeviceSelection.h"
#include "app/ScaledPixmapPainter.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/LiveViewMath.h"
#include "ui_ZUD_wheel_tool.h"
#include "usb/UsbClock.h"

#include <QCheckBox>

LiveView::LiveView(QWidget *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection,
                   CsvLogger &logger)
    : ui(form), selection(selection), logger(logger), rimTurner(form->label_Rim_Image),
      lastWheelUpdateMillis(currentTimeMillis()), millisClock(currentTimeMillis)
{
    // The turned rim is scaled to the label in one pass when painted, and
    // the value under it has a fixed size, large enough for three pedal
    // values: a new value then does not lay the whole window out again.
    ui->label_Rim_Image->installEventFilter(new ScaledPixmapPainter(window));
    // Digits need no shaping: drawing the value 62 times a second then
    // skips the text shaper (a tenth of the live view's painting).
    QFont valueFont = ui->label_JoystickValue->font();
    valueFont.setStyleStrategy(QFont::PreferNoShaping);
    ui->label_JoystickValue->setFont(valueFont);
    const QFontMetrics metrics = ui->label_JoystickValue->fontMetrics();
    ui->label_JoystickValue->setFixedSize(
        metrics.horizontalAdvance(QStringLiteral("65535 65535 65535")) + 8, metrics.height() + 4);
    connect(logger.everyReportSwitch(), &QCheckBox::toggled, this,
            [this](bool on) { logEveryReport = on; });
}

void LiveView::setMillisClock(std::function<uint32_t()> clock)
{
    millisClock = clock ? std::move(clock) : std::function<uint32_t()>(currentTimeMillis);
}

void LiveView::showWheelUpdate(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros)
{
    // With "Log every report" the logger takes every update; otherwise only
    // the ones shown.
    if (logEveryReport)
        logger.logWheelUpdate(update, readTimeMicros);

    // At most one update per 16 ms is shown and logged, whatever the report
    // rate; the others are dropped whole.
    const uint32_t now = millisClock();
    if (!wheelUpdateDue(now, lastWheelUpdateMillis))
        return;
    lastWheelUpdateMillis = now;

    drawWheel(update.axisValue.get());
    if (update.updateKind == 1)
        showDebugOutput(update.debug);
    if (!logEveryReport)
        logger.logWheelUpdate(update, readTimeMicros);
}

void LiveView::drawWheel(int16_t axisValue)
{
    const UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
    if (!wheelBase)
        return;
    if (lastAxisValue == axisValue)
        return;
    lastAxisValue = axisValue;
    ui->label_JoystickValue->setText(steeringValueText(axisValue));

    // A profile index the device reported out of the table's range has no
    // rotation range; the rim then stays upright.
    const uint8_t current = wheelBase->currentProfile;
    const int32_t range =
        current < maxProfiles ? wheelBase->profiles[current].rotationDegrees.get() : 0;
    rimTurner.turnTo(wheelAngleDegrees(axisValue, range));
}

void LiveView::showDebugOutput(const ZudUsbWheelBaseDebugOutput &debugOutput)
{
    if (!selection.wheelBase())
        return;
    const DebugOutputTexts texts = debugOutputTexts(debugOutput);
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
    ui->label_debugCurrentFaultsHex->setText(faultWordHexText(debugOutput.currentFaults.get()));
    ui->label_debugClearedFaultsHex->setText(faultWordHexText(debugOutput.clearedFaults.get()));
}

void LiveView::showPedalsUpdate(const ZudUsbPedalsJoystickUpdate &update, uint64_t readTimeMicros)
{
    drawPedals(update.x.get(), update.y.get(), update.z.get());
    logger.logPedalsUpdate(update, readTimeMicros);
}

void LiveView::drawPedals(uint16_t x, uint16_t y, uint16_t z)
{
    ui->label_JoystickValue->setText(pedalsValueText(x, y, z));
    ui->pedalX->setValue(pedalPercent(x));
    ui->pedalY->setValue(pedalPercent(y));
    ui->pedalZ->setValue(pedalPercent(z));
}
