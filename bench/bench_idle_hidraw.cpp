// SPDX-License-Identifier: GPL-3.0-or-later
// The CPU share of a running UsbManager on the real hidraw transport, with
// whatever HID devices this machine has (normally no supported one).
// BENCH_SECONDS sets the length (default 10).
#include "bench/BenchSupport.h"
#include "devices/ZudDeviceFactory.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *env = std::getenv("BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 10.0;
    UsbManager manager{createZudDevice};
    manager.start();
    const double cpu0 = bench::processCpuSeconds();
    const double t0 = bench::monotonicSeconds();
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double share = (bench::processCpuSeconds() - cpu0) / (bench::monotonicSeconds() - t0);
    std::printf("Idle manager on hidraw (%d devices registered): %.3f %% of one core over %.0f s\n",
                int(manager.getDevices().size()), share * 100, seconds);
    manager.stop();
    return 0;
}
