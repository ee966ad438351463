// SPDX-License-Identifier: GPL-3.0-or-later
// Wait-any over more handles than one platform wait takes. Windows waits on
// at most 64 handles at a time (MAXIMUM_WAIT_OBJECTS); a set that fits is
// one wait with the caller's timeout, a larger set is swept group by group
// without waiting, lowest group first, and the sweep repeats every
// millisecond until a handle is ready or the timeout has passed. Either way
// the lowest ready position wins and only that handle is consumed.
//
// Platform-independent, so that the position rules are tested on every
// platform with a scripted group wait.
#pragma once

#include "transport/HidSplitRead.h"

#include <algorithm>
#include <cstdint>

namespace hidsplit {

// waitGroup(first, n, timeoutMs) waits on positions [first, first + n) and
// returns the lowest ready offset within the group (0 .. n-1), or
// HID_WAIT_TIMEOUT, or HID_WAIT_FAILED; timeoutMs < 0 waits without limit.
// nowMs() is a monotonic clock in milliseconds; sleepMs(ms) sleeps.
template <typename WaitGroup, typename NowMs, typename SleepMs>
int waitAnyGrouped(int count, int groupSize, int timeoutMs, WaitGroup &&waitGroup, NowMs &&nowMs,
                   SleepMs &&sleepMs)
{
    if (count <= 0 || groupSize <= 0)
        return HID_WAIT_FAILED;
    const auto checked = [](int r, int n) {
        if (r == HID_WAIT_TIMEOUT || (r >= 0 && r < n))
            return r;
        return HID_WAIT_FAILED; // a failure, or an offset outside the group
    };
    if (count <= groupSize)
        return checked(waitGroup(0, count, timeoutMs), count);

    const int64_t deadline = timeoutMs < 0 ? 0 : int64_t(nowMs()) + timeoutMs;
    for (;;) {
        for (int first = 0; first < count; first += groupSize) {
            const int n = std::min(groupSize, count - first);
            const int r = checked(waitGroup(first, n, 0), n);
            if (r == HID_WAIT_FAILED)
                return HID_WAIT_FAILED;
            if (r >= 0)
                return first + r;
        }
        if (timeoutMs >= 0 && int64_t(nowMs()) >= deadline)
            return HID_WAIT_TIMEOUT;
        sleepMs(1);
    }
}

} // namespace hidsplit
