// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of the split-phase read layer that do not depend on the
// platform, compiled into every transport.
#include "transport/HidSplitInternal.h"

#include <algorithm>

namespace hidsplit {

Copy reportCopy(const uint8_t *buffer, size_t got, size_t length, bool platformAddsZero)
{
    if (platformAddsZero && got > 0 && buffer[0] == 0)
        return Copy{1, std::min(got - 1, length)};
    return Copy{0, std::min(got, length)};
}

} // namespace hidsplit
