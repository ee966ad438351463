// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/UsbClock.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <ctime>
#endif

int64_t currentTimeTicks100ns()
{
#ifdef _WIN32
    // FILETIME counts 100-nanosecond units since 1601-01-01 UTC. The precise
    // clock exists from Windows 8 on; Windows 7 has the tick-rate one only.
    using GetTime = void(WINAPI *)(LPFILETIME);
    static const GetTime getTime = [] {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC precise =
            kernel ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
        return precise ? reinterpret_cast<GetTime>(reinterpret_cast<void (*)()>(precise))
                       : &GetSystemTimeAsFileTime;
    }();
    constexpr int64_t ticks1601To1970 = 116444736000000000LL;
    FILETIME ft{};
    getTime(&ft);
    const int64_t ticks = int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return ticks - ticks1601To1970;
#else
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
#endif
}

uint64_t currentTimeMicros()
{
    return uint64_t(currentTimeTicks100ns() / 10);
}

uint32_t currentTimeMillis()
{
    return uint32_t(uint64_t(currentTimeTicks100ns() / 10000));
}
