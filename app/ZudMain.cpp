#include "app/ZudMain.h"

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
        UsbManager manager;
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
    auto *window = new ZUD_wheel_tool();
    window->show();
    if (onShown)
        onShown(*window);
    const int result = application.exec();
    delete window;
    return result;
}
