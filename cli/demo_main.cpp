// zud-wheel on the virtual HID bus with an emulated wheel base and pedal set
// plugged in, for trying every command without hardware. The rig lives only
// as long as one command: each run starts with the factory table, and the
// rim and the pedals move so that a log has something to show.
#include "cli/ZudWheelMain.h"
#include "simulator/EmulatedRig.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

int main(int argc, char **argv)
{
    emu::EmulatedRig rig;
    std::atomic<bool> stop{false};
    std::thread motion([&] {
        const auto start = std::chrono::steady_clock::now();
        while (!stop) {
            const double t =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (auto wheel = rig.wheelBase())
                wheel->setPosition(120.0 * std::sin(2 * M_PI * t / 8.0));
            if (auto pedals = rig.pedals())
                pedals->setAxes(uint16_t(32767.5 + 32767.5 * std::sin(2 * M_PI * t / 3.0)), 0,
                                65535);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const int result = zudWheelMain(argc, argv);
    stop = true;
    motion.join();
    return result;
}
