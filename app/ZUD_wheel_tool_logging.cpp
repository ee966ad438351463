// CSV logging of the live data of the selected device.
#include "app/ZUD_wheel_tool.h"

#include "ui_ZUD_wheel_tool.h"

void ZUD_wheel_tool::on_pushButton_Logging_clicked() {}

void ZUD_wheel_tool::onLogDebugOutput(UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update,
                                      uint64_t readTimeMicros)
{
    logKind = update->updateKind;
    lastLogReadTimeMicros = readTimeMicros;
}

void ZUD_wheel_tool::onPedalsLogDebugOutput(UsbDevice *, ZudUsbPedalsJoystickUpdate *,
                                            uint64_t readTimeMicros)
{
    lastLogReadTimeMicros = readTimeMicros;
}
