// SPDX-License-Identifier: GPL-3.0-or-later
// The real transport on Linux: hidapi's hidraw backend. hidapi keeps its
// descriptor to itself, so the read layer opens a descriptor of its own on
// the same hidraw node; the kernel hands every open file its own copy of
// each input report. The link wraps the core's calls of hid_open_path,
// hid_close, hid_read and hid_set_nonblocking so that the read descriptor
// lives exactly as long as the hidapi handle (ZUD_HID_ROUTED in
// transport/CMakeLists.txt lists them; tst_hid_routing checks the wraps
// below).
#include "transport/HidSplitInternal.h"

#include <fcntl.h>
#include <hidapi.h>
#include <unistd.h>

extern "C" {

hid_device *__real_hid_open_path(const char *path);
void __real_hid_close(hid_device *dev);
int __real_hid_set_nonblocking(hid_device *dev, int nonblock);

hid_device *__wrap_hid_open_path(const char *path)
{
    hid_device *dev = __real_hid_open_path(path);
    if (!dev)
        return nullptr;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        __real_hid_close(dev);
        return nullptr;
    }
    hidsplit::attach(dev, fd);
    return dev;
}

void __wrap_hid_close(hid_device *dev)
{
    if (!dev)
        return;
    hidsplit::detach(dev);
    __real_hid_close(dev);
}

int __wrap_hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hidsplit::readHonouringBlocking(dev, data, length);
}

int __wrap_hid_set_nonblocking(hid_device *dev, int nonblock)
{
    hidsplit::setNonBlocking(dev, nonblock != 0);
    return __real_hid_set_nonblocking(dev, nonblock);
}

} // extern "C"
