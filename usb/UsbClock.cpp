#include "usb/UsbClock.h"

#include <ctime>

int64_t currentTimeTicks100ns()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

uint64_t currentTimeMicros()
{
    return uint64_t(currentTimeTicks100ns() / 10);
}

uint32_t currentTimeMillis()
{
    return uint32_t(uint64_t(currentTimeTicks100ns() / 10000));
}
