// The tool on the virtual HID bus with an emulated wheel base and pedal set
// plugged in: the rim turns slowly back and forth, the wheel base streams
// the torque of a lap (corners, kerbs, clipping) for the Scope page, the
// pedals move, and "Enter Bootloader", a firmware update and "Exit
// Bootloader" work as they do with the real devices. For trying the tool
// without hardware.
//
//     ZUD_wheel_tool_demo [--scope] [Qt options]   (--scope opens the Scope page)
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "simulator/EmulatedRig.h"

#include <QTabWidget>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    bool scope = false;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--scope") == 0)
            scope = true;
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    args.push_back(nullptr);

    emu::EmulatedRig::Options options;
    // Torque samples for the scope; the debug page is filled by debug
    // replies beside them.
    options.updateKind = 2;
    options.debugReplyEvery = 50;
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

    const int result = zudMain(count, args.data(), [scope](ZUD_wheel_tool &window) {
        if (!scope)
            return;
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        if (QWidget *page = window.findChild<QWidget *>(QStringLiteral("tab_Scope")))
            tabs->setCurrentWidget(page);
        window.resize(900, 560);
    });
    stop = true;
    motion.join();
    return result;
}
