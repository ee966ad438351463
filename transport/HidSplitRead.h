// SPDX-License-Identifier: GPL-3.0-or-later
// Split-phase reads beside hidapi: one thread keeps a read outstanding on
// every open device and sleeps in a single wait until any of them delivers.
//
// Per device: hid_read_begin() (any number of times; it starts a read only
// when none is outstanding), a wait on the returned handle, hid_read_finish()
// once the handle is ready, then hid_read_begin() again. hid_read() and these
// functions share the same outstanding read.
#pragma once

#include <hidapi.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Starts a read unless one is outstanding. Returns the read's waitable
// handle, or -1 when no read could be started (the device is gone).
int hid_read_begin(hid_device *dev);

// Collects the outstanding read without waiting. Returns the number of bytes
// copied to data (at most length), 0 when the read has not completed yet or
// completed empty, -1 when the read failed (for instance on unplug).
int hid_read_finish(hid_device *dev, unsigned char *data, size_t length);

// Drops the outstanding read, if any. Always returns 0.
int hid_read_cancel(hid_device *dev);

#define HID_WAIT_TIMEOUT (-1)
#define HID_WAIT_FAILED (-2)

// Waits until at least one of the count handles is ready or timeoutMs passes.
// Returns the lowest ready position, HID_WAIT_TIMEOUT, or HID_WAIT_FAILED
// (among others for an empty set). Only the returned handle is consumed; the
// others stay ready for later waits.
int hid_wait_any(const int *handles, int count, int timeoutMs);

void hid_sleep_ms(int milliseconds);
void hid_yield(void);

#ifdef __cplusplus
}
#endif
