// SPDX-License-Identifier: GPL-3.0-or-later
// Force-included into every source of the core and the window on Windows
// (-include / /FI, set in usb/CMakeLists.txt): reroutes the core's calls of
// the four hidapi functions that open, close and read a handle to the
// Windows transport, which keeps the split-phase read state for exactly as
// long as the hidapi handle lives. See transport/HidTransportWin32.cpp. The
// renamed functions are ZUD_HID_ROUTED of transport/CMakeLists.txt;
// tst_hid_routing checks that the two agree.
//
// hidapi.h is included first, so hidapi's own declarations keep their names
// (its include guard makes every later #include <hidapi.h> a no-op); only the
// calls written after this point are renamed.
#pragma once

#include <hidapi.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

hid_device *zud_hid_open_path(const char *path);
void zud_hid_close(hid_device *dev);
int zud_hid_read(hid_device *dev, unsigned char *data, size_t length);
int zud_hid_set_nonblocking(hid_device *dev, int nonblock);

#ifdef __cplusplus
}
#endif

#define hid_open_path zud_hid_open_path
#define hid_close zud_hid_close
#define hid_read zud_hid_read
#define hid_set_nonblocking zud_hid_set_nonblocking
