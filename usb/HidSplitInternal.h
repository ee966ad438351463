// What a transport tells the split-phase read layer about its handles. Only
// the two transports (hidraw and the virtual bus) include this.
#pragma once

#include <hidapi.h>
#include <stddef.h>
#include <stdint.h>

namespace hidsplit {

// Gives the layer a handle's read descriptor, which it owns from now on.
// Called when the handle is opened; a handle address that was detached
// before starts with a fresh state.
void attach(hid_device *dev, int readFd);

// Forgets the handle and closes its read descriptor. Called when the handle
// is closed, before its memory is released.
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
