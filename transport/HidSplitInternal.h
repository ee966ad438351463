// SPDX-License-Identifier: GPL-3.0-or-later
// What a transport tells the split-phase read layer about its handles. Only
// the transports (hidraw, the virtual bus, Windows) include this.
#pragma once

#include <hidapi.h>
#include <stddef.h>
#include <stdint.h>
#ifdef _WIN32
#include <string>
#endif

namespace hidsplit {

#ifdef _WIN32
// Opens the layer's own overlapped read handle on the device path hidapi
// opened dev from, with its completion event. Returns false (and keeps no
// state) when the path cannot be opened for reading or its input report
// length cannot be learnt. A handle address that was detached before starts
// with a fresh state.
bool attachPath(hid_device *dev, const char *path);

// The platform's message for the handle's most recent read failure, cut at
// its first carriage return; empty when none failed.
std::string lastErrorText(hid_device *dev);
#else
// Gives the layer a handle's read descriptor, which it owns from now on.
// Called when the handle is opened; a handle address that was detached
// before starts with a fresh state.
void attach(hid_device *dev, int readFd);
#endif

// Forgets the handle, ending any outstanding read, and closes its read
// descriptor or handle. Called when the handle is closed, before its memory
// is released.
void detach(hid_device *dev);

// hidapi's blocking flag for hid_read (blocking until set otherwise).
void setNonBlocking(hid_device *dev, bool nonBlocking);

// hid_read / hid_read_timeout on the shared outstanding read. timeoutMs < 0
// waits for as long as it takes; hid_read passes -1 or 0 by the blocking flag.
int read(hid_device *dev, unsigned char *data, size_t length, int timeoutMs);
int readHonouringBlocking(hid_device *dev, unsigned char *data, size_t length);

// The report-id rule: how many bytes of a completed read of `got` bytes
// reach a caller's buffer of `length`, and from which offset. A platform
// that prefixes unnumbered reports with a zero has that byte skipped.
struct Copy {
    size_t offset;
    size_t count;
};
Copy reportCopy(const uint8_t *buffer, size_t got, size_t length, bool platformAddsZero);

// Number of handles the layer knows (for tests that check nothing leaks).
size_t attachedCount();

} // namespace hidsplit
