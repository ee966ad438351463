// SPDX-License-Identifier: GPL-3.0-or-later
// Compiled as the core's sources are on Windows, with
// transport/HidApiRedirectWin32.h force-included: the core's own #include of
// hidapi.h must still work, and its calls must name the transport's
// functions, not hidapi's (RunWin32CrossCheck.cmake reads the object's
// undefined symbols).
#include "transport/HidSplitRead.h"

#include <hidapi.h>

// What discovery and the reader do with a handle, in the core's words.
int zudRedirectProbe(const char *path, unsigned char *report)
{
    hid_device *dev = hid_open_path(path);
    if (!dev)
        return -1;
    hid_set_nonblocking(dev, 1);
    int got = hid_read(dev, report, 64);
    if (got == 0 && hid_read_begin(dev) != -1)
        got = hid_read_finish(dev, report, 64);
    hid_write(dev, report, 64);
    hid_close(dev);
    return got;
}
