// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's entry point on the virtual bus, for the tests of the command
// line. ZUD_TEST_DEVICES lists the devices to plug before it starts, as
// "productId:product string" items separated by ';' (productId in hex; a
// leading '!' makes the open fail). In the GUI mode the window closes as soon
// as it is shown. Afterwards each device's opens and writes go to stderr.
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "simulator/VirtualHidBus.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    std::vector<vhid::DevicePtr> plugged;
    if (const char *list = std::getenv("ZUD_TEST_DEVICES")) {
        std::stringstream items(list);
        std::string item;
        while (std::getline(items, item, ';')) {
            if (item.empty())
                continue;
            const bool failOpen = item[0] == '!';
            if (failOpen)
                item.erase(0, 1);
            const size_t colon = item.find(':');
            vhid::DeviceConfig config;
            config.productId = uint16_t(std::stoul(item.substr(0, colon), nullptr, 16));
            if (colon != std::string::npos) {
                const std::string name = item.substr(colon + 1);
                config.productString.assign(name.begin(), name.end());
            }
            vhid::DevicePtr device = vhid::plug(config);
            device->setOpenFails(failOpen);
            plugged.push_back(device);
        }
    }

    const int result = zudMain(argc, argv, [](ZUD_wheel_tool &) {
        std::fputs("window shown\n", stderr);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });

    for (const vhid::DevicePtr &device : plugged)
        std::fprintf(stderr, "device %s opens=%d open-now=%d writes=%zu\n", device->path().c_str(),
                     device->totalOpens(), device->openHandleCount(), device->writeCount());
    return result;
}
