// SPDX-License-Identifier: GPL-3.0-or-later
// The tool on the virtual HID bus with an emulated wheel base and pedal set
// plugged in: the rim turns slowly back and forth, the wheel base streams
// the torque of a lap (corners, kerbs, clipping) for the Scope page, the
// pedals move, and "Enter Bootloader", a firmware update and "Exit
// Bootloader" work as they do with the real devices. For trying the tool
// without hardware.
//
//     ZUD_wheel_tool_demo [--no-devices] [--debug-page] [--scope]
//
// --no-devices leaves the bus empty: the window as a first-time user sees
// it before plugging anything in. --debug-page opens the window on its
// "Debug" page, --scope on its "Scope" page, in a larger window.
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "simulator/EmulatedRig.h"

#include <QTabWidget>
#include <cstring>

int main(int argc, char **argv)
{
    emu::EmulatedRig::Options options;
    // Torque samples for the scope; the debug page is filled by the debug
    // replies sent beside them.
    options.updateKind = 2;
    options.debugReplyEvery = 50;
    bool debugPage = false;
    bool scope = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-devices") == 0)
            options.wheelBase = options.pedals = false;
        else if (std::strcmp(argv[i], "--debug-page") == 0)
            debugPage = true;
        else if (std::strcmp(argv[i], "--scope") == 0)
            scope = true;
    }
    emu::EmulatedRig rig(options);

    emu::DemoMotion motion(rig);

    const int result = zudMain(argc, argv, [debugPage, scope](ZUD_wheel_tool &window) {
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        if (debugPage && tabs)
            tabs->setCurrentWidget(
                window.findChild<QWidget *>(QStringLiteral("tabWidgetPageDebug")));
        if (scope && tabs) {
            tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tab_Scope")));
            window.resize(900, 560);
        }
    });
    return result;
}
