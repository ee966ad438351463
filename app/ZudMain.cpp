// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ZudMain.h"
#include "devices/ZudDeviceFactory.h"

#include "app/HostSettings.h"
#include "app/ShutdownSignals.h"
#include "app/ZUD_wheel_tool.h"
#include "usb/UsbManager.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

namespace {

int probe()
{
    bool found = false;
    {
        // Never started: one discovery pass, no timer, no reader thread.
        UsbManager manager{createZudDevice};
        found = manager.rescanForZudDevices();
        std::fputs(found ? "Found ZUD USB device.\n" : "No ZUD USB device found.\n", stdout);
        std::fflush(stdout);
    }
    return found ? 0 : 1;
}

} // namespace

int zudMain(int argc, char **argv, const std::function<void(ZUD_wheel_tool &)> &onShown)
{
    if (argc > 1 && std::strcmp(argv[1], "--has-usb-device") == 0)
        return probe();

    // Sharp on screens scaled beyond 100 %: the window is laid out in
    // scaled pixels, and pictures are drawn for the device pixels.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    // Names the data folder that profile backups go to.
    QApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
    // From here on, Ctrl-C, a closed terminal or `kill` end the window the
    // way closing it does; one that comes before the event loop runs waits
    // in the pipe until it does.
    ShutdownSignals shutdownSignals;
    HostSettings hostSettings;
    auto *window = new ZUD_wheel_tool();
    hostSettings.restoreWindow(*window);
    int endingSignal = 0;
    QObject::connect(&shutdownSignals, &ShutdownSignals::received, window,
                     [window, &endingSignal, &shutdownSignals](int signalNumber) {
                         if (endingSignal)
                             return; // already ending
                         endingSignal = signalNumber;
                         const QString done = window->closeForSignal(signalNumber);
                         std::fprintf(stderr, "%s\n", qPrintable(done));
                         // The force is off and the edits are kept: should
                         // the rest of the end hang, the next signal ends
                         // the program at once.
                         shutdownSignals.restorePrevious();
                         // Ends the event loops of dialogs that wait for an
                         // answer as well (they end unanswered); the exit
                         // status names the signal below.
                         QCoreApplication::exit(0);
                     });
    // --tray: hidden, with the icon in the tray (as the login start runs
    // it); where there is no tray, the window shows after all.
    bool inTray = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--tray") == 0)
            inTray = true;
    if (inTray && !window->startInTray()) {
        std::fprintf(stderr, "%s\n", qPrintable(ZUD_wheel_tool::noTrayText()));
        inTray = false;
    }
    if (!inTray)
        window->show();
    if (onShown)
        onShown(*window);
    const int result = application.exec();
    hostSettings.saveWindow(*window);
    // Releases what the window still holds while the signals are handled.
    delete window;
    return endingSignal ? 128 + endingSignal : result;
}
