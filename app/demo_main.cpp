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
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

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

    std::atomic<bool> stop{false};
    std::thread motion([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!stop) {
            const double t =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (auto wheel = rig.wheelBase())
                wheel->setPosition(120.0 * std::sin(2 * M_PI * t / 8.0));
            if (auto pedals = rig.pedals()) {
                const auto wave = [t](double period, double phase) {
                    return uint16_t(32767.5 + 32767.5 * std::sin(2 * M_PI * t / period + phase));
                };
                pedals->setAxes(wave(3.0, 0), wave(4.0, 1.0), wave(5.0, 2.0));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

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
    stop = true;
    motion.join();
    return result;
}
