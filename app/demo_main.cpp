// SPDX-License-Identifier: GPL-3.0-or-later
// The tool on the virtual HID bus with an emulated wheel base and pedal set
// plugged in: the rim turns slowly back and forth, the wheel base streams
// the torque of a lap (corners, kerbs, clipping) for the Scope page, the
// pedals move, and "Enter Bootloader", a firmware update and "Exit
// Bootloader" work as they do with the real devices. For trying the tool
// without hardware. Without a game rules file it writes one whose rule
// switches the emulated wheel base while a process named DemoRacer.exe runs.
//
//     ZUD_wheel_tool_demo [--no-devices] [--debug-page] [--scope]
//                         [--games-page] [--tray-menu] [--tray]
//
// --no-devices leaves the bus empty: the window as a first-time user sees
// it before plugging anything in. --debug-page opens the window on its
// "Debug" page, --scope on its "Scope" page, in a larger window,
// --games-page on its "Games" page. --tray-menu hides the window and opens
// the tray icon's menu on its own, once the wheel base's profiles are
// there (for its picture where there is no tray).
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "simulator/DemoGameRules.h"
#include "simulator/EmulatedRig.h"

#include <QCoreApplication>
#include <QMenu>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
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
    bool gamesPage = false;
    bool trayMenu = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-devices") == 0)
            options.wheelBase = options.pedals = false;
        else if (std::strcmp(argv[i], "--debug-page") == 0)
            debugPage = true;
        else if (std::strcmp(argv[i], "--scope") == 0)
            scope = true;
        else if (std::strcmp(argv[i], "--games-page") == 0)
            gamesPage = true;
        else if (std::strcmp(argv[i], "--tray-menu") == 0)
            trayMenu = true;
    }
    // The rules file lives in the program's configuration folder, which the
    // window reads as it is built.
    QCoreApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
    QString rulesNote;
    emu::writeDemoGameRulesIfAbsent(rulesNote);
    if (!rulesNote.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(rulesNote));
    emu::EmulatedRig rig(options);

    emu::DemoMotion motion(rig);

    const int result = zudMain(argc, argv, [=](ZUD_wheel_tool &window) {
        if (!rulesNote.isEmpty())
            window.statusBar()->showMessage(rulesNote);
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        if (debugPage && tabs)
            tabs->setCurrentWidget(
                window.findChild<QWidget *>(QStringLiteral("tabWidgetPageDebug")));
        if (scope && tabs) {
            tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tab_Scope")));
            window.resize(900, 560);
        }
        if (gamesPage && tabs) {
            tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tab_Games")));
            window.resize(760, 500);
        }
        if (trayMenu) {
            window.hide();
            QTimer::singleShot(1500, &window, [&window] {
                window.trayIcon().rebuildMenu();
                window.trayIcon().menu()->popup(QPoint(20, 20));
            });
        }
    });
    return result;
}
