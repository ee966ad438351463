// SPDX-License-Identifier: GPL-3.0-or-later
// The real transport on Windows: hidapi's winapi backend with the read layer
// beside it. The layer opens a read handle of its own on the device path
// (transport/HidSplitReadWin32.cpp); this file ties that handle's life to the
// hidapi handle's.
//
// How the core's calls get here: on Linux the GNU linker's --wrap reroutes
// hid_open_path, hid_close, hid_read and hid_set_nonblocking. On Windows
// hidapi comes as a DLL or as a static library, and the core is built with
// MSVC or MinGW; no linker trick covers all four cases (MSVC has no --wrap,
// and link order cannot interpose a function that a DLL exports or that a
// static hidapi defines beside our own). So the reroute happens at compile
// time: the core and the window are compiled with transport/HidApiRedirectWin32.h
// force-included, which renames their calls of the four functions to the
// zud_hid_* functions below. This file takes the declarations from that
// header and then undoes the renames, so the hidapi calls below reach
// hidapi's real functions. Nothing in the core can close
// a handle past the layer, and the layer's state is created right after a
// successful open and released right before the hidapi handle is.
#include "transport/HidApiRedirectWin32.h"
#include "transport/HidSplitInternal.h"

#include <hidapi.h>

// The renames are for the core only; here the real functions are meant.
#undef hid_open_path
#undef hid_close
#undef hid_read
#undef hid_set_nonblocking

extern "C" {

hid_device *zud_hid_open_path(const char *path)
{
    hid_device *dev = hid_open_path(path);
    if (!dev)
        return nullptr;
    if (!hidsplit::attachPath(dev, path)) {
        hid_close(dev);
        return nullptr;
    }
    return dev;
}

void zud_hid_close(hid_device *dev)
{
    if (!dev)
        return;
    hidsplit::detach(dev);
    hid_close(dev);
}

int zud_hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hidsplit::readHonouringBlocking(dev, data, length);
}

int zud_hid_set_nonblocking(hid_device *dev, int nonblock)
{
    hidsplit::setNonBlocking(dev, nonblock != 0);
    return hid_set_nonblocking(dev, nonblock);
}

} // extern "C"
