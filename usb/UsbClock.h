// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Wall-clock microseconds since 1970-01-01 00:00:00 UTC. Follows changes of
// the system time (it is not monotonic).
uint64_t currentTimeMicros();

// The same time in milliseconds, cut to its low 32 bits.
uint32_t currentTimeMillis();

// Both are derived from this count of 100-nanosecond units since 1970.
int64_t currentTimeTicks100ns();
