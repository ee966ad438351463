// SPDX-License-Identifier: GPL-3.0-or-later
// A small Windows tool built from the read layer alone: opens the HID device
// paths given on the command line with the layer's overlapped read handles,
// keeps one read outstanding on each, and prints every report that arrives
// (position, length, bytes in hex) for ten seconds. The cross build links
// it so that every Windows import of the layer resolves; on a Windows
// machine it shows the layer working on real devices.
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"
#include "usb/DevicePermissions.h"
#include "usb/UsbClock.h"

#include <cstdio>
#include <vector>

namespace {

// The layer keys its state by handle address only; the tool has no hidapi
// handles, so distinct addresses of its own stand in for them.
struct Slot {
    char key;
};

} // namespace

int main(int argc, char **argv)
{
    std::vector<Slot> slots(size_t(argc > 1 ? argc - 1 : 0));
    std::vector<hid_device *> devices;
    for (int i = 1; i < argc; ++i) {
        auto *dev = reinterpret_cast<hid_device *>(&slots[size_t(i - 1)]);
        if (probeDeviceAccess(argv[i]) == DeviceAccess::PermissionDenied)
            std::printf("%s\n", devicePermissionMessage(argv[i]).c_str());
        if (!hidsplit::attachPath(dev, argv[i])) {
            std::printf("cannot open %s for reading\n", argv[i]);
            continue;
        }
        devices.push_back(dev);
    }
    if (devices.empty()) {
        std::printf("usage: %s <HID device path>...\n", argv[0]);
        return 1;
    }

    for (int pass = 0; pass < 100 && !devices.empty(); ++pass) {
        std::vector<int> handles;
        for (hid_device *dev : devices)
            handles.push_back(hid_read_begin(dev));
        const int ready = hid_wait_any(handles.data(), int(handles.size()), 100);
        if (ready == HID_WAIT_FAILED) {
            std::printf("wait failed\n");
            break;
        }
        if (ready < 0)
            continue;
        unsigned char report[64];
        const int got = hid_read_finish(devices[size_t(ready)], report, sizeof report);
        if (got < 0) {
            std::printf("device %d: read failed: %s\n", ready,
                        hidsplit::lastErrorText(devices[size_t(ready)]).c_str());
            hidsplit::detach(devices[size_t(ready)]);
            devices.erase(devices.begin() + ready);
            continue;
        }
        std::printf("%llu us: device %d: %d bytes:", (unsigned long long)currentTimeMicros(), ready,
                    got);
        for (int i = 0; i < got; ++i)
            std::printf(" %02x", report[i]);
        std::printf("\n");
    }
    for (hid_device *dev : devices) {
        hid_read_cancel(dev);
        hidsplit::detach(dev);
    }
    return 0;
}
