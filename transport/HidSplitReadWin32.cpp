// SPDX-License-Identifier: GPL-3.0-or-later
// Split-phase reads on Windows. hidapi keeps its device handle for writes
// and string queries; the layer opens the device path a second time for
// reading, with FILE_FLAG_OVERLAPPED and read and write sharing, and the HID
// class driver queues every input report for every open handle. Each read
// handle has one OVERLAPPED, one input buffer as long as the device's input
// report (report id included) and one auto-reset event, which is the
// waitable handle: the driver signals it when the outstanding read completes,
// a wait that returns it consumes the signal, and wait-any is
// WaitForMultipleObjects, which reports the lowest signalled position and
// consumes only that handle's signal.
//
// The waitable handle travels as an int. Windows kernel handles carry only
// 32 significant bits, on 64-bit Windows too, so that they can be passed
// between 32- and 64-bit processes: truncating one to 32 bits and
// sign-extending it back gives the same handle.
//
// Cancelling: the reads are started by the reader thread while hid_close
// runs on the GUI thread, and CancelIo only cancels I/O that the calling
// thread issued, so the layer cancels its read with CancelIoEx on that read's
// OVERLAPPED, then waits for the cancelled read to finish before the buffer
// and the OVERLAPPED are used again or released: the driver writes into both
// until the read has completed.
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"
#include "transport/HidSplitWait.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The HID headers of MinGW-w64 (and older Windows SDKs) declare their
// functions without C linkage.
extern "C" {
#include <hidsdi.h>

#include <hidpi.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

struct ReadState {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    bool pending = false;
    bool nonBlocking = false;
    std::vector<unsigned char> buffer;
    std::string lastError;

    ReadState() = default;
    ReadState(const ReadState &) = delete;
    ReadState &operator=(const ReadState &) = delete;
    ~ReadState()
    {
        endRead();
        if (event)
            CloseHandle(event);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }

    // Cancels the outstanding read and waits until the driver has let go of
    // the buffer and the OVERLAPPED.
    void endRead()
    {
        if (!pending)
            return;
        CancelIoEx(file, &overlapped);
        // Waits in short slices rather than with GetOverlappedResult(TRUE):
        // a wait-any on another thread may consume the completion signal,
        // after which a wait on the event alone would never return.
        while (!HasOverlappedIoCompleted(&overlapped))
            WaitForSingleObject(event, 10);
        pending = false;
    }
};

// A slim reader/writer lock rather than std::mutex: MinGW's win32 thread
// model has no std::mutex before GCC 13.
SRWLOCK statesLock = SRWLOCK_INIT;
std::unordered_map<hid_device *, std::unique_ptr<ReadState>> states;

class StatesGuard {
public:
    StatesGuard() { AcquireSRWLockExclusive(&statesLock); }
    ~StatesGuard() { ReleaseSRWLockExclusive(&statesLock); }
    StatesGuard(const StatesGuard &) = delete;
    StatesGuard &operator=(const StatesGuard &) = delete;
};

ReadState *lookup(hid_device *dev)
{
    StatesGuard lock;
    auto it = states.find(dev);
    return it == states.end() ? nullptr : it->second.get();
}

int handleToInt(HANDLE h)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

HANDLE intToHandle(int h)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h));
}

std::string errorText(DWORD error)
{
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : "error " + std::to_string(error);
    if (text)
        LocalFree(text);
    const size_t cr = message.find('\r');
    if (cr != std::string::npos)
        message.resize(cr);
    return message;
}

// The input report length from the device's HID capabilities, report id
// byte included; 0 when the driver does not tell.
size_t inputReportLength(HANDLE file)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(file, &preparsed))
        return 0;
    HIDP_CAPS caps{};
    const bool ok = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(preparsed);
    return ok ? size_t(caps.InputReportByteLength) : 0;
}

// The number of handles WaitForMultipleObjects takes at once.
constexpr int kMaxWaitObjects = MAXIMUM_WAIT_OBJECTS;

int waitGroup(const HANDLE *handles, int count, int timeoutMs)
{
    const DWORD r = WaitForMultipleObjects(DWORD(count), handles, FALSE,
                                           timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
    if (r == WAIT_TIMEOUT)
        return HID_WAIT_TIMEOUT;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + DWORD(count))
        return int(r - WAIT_OBJECT_0);
    return HID_WAIT_FAILED; // WAIT_FAILED; events are never abandoned
}

} // namespace

namespace hidsplit {

bool attachPath(hid_device *dev, const char *path)
{
    auto state = std::make_unique<ReadState>();
    state->file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (state->file == INVALID_HANDLE_VALUE)
        return false;
    const size_t length = inputReportLength(state->file);
    if (length == 0)
        return false;
    state->buffer.assign(length, 0);
    state->event = CreateEventW(nullptr, FALSE, FALSE, nullptr); // auto-reset, not signalled
    if (!state->event)
        return false;

    std::unique_ptr<ReadState> previous;
    {
        StatesGuard lock;
        auto &slot = states[dev];
        previous = std::move(slot);
        slot = std::move(state);
    }
    return true; // previous, a stale state of a reused address, is released here
}

void detach(hid_device *dev)
{
    std::unique_ptr<ReadState> state;
    {
        StatesGuard lock;
        auto it = states.find(dev);
        if (it == states.end())
            return;
        state = std::move(it->second);
        states.erase(it);
    }
    // The destructor ends the outstanding read and closes both handles.
}

std::string lastErrorText(hid_device *dev)
{
    ReadState *s = lookup(dev);
    return s ? s->lastError : std::string();
}

void setNonBlocking(hid_device *dev, bool nonBlocking)
{
    if (ReadState *s = lookup(dev))
        s->nonBlocking = nonBlocking;
}

int read(hid_device *dev, unsigned char *data, size_t length, int timeoutMs)
{
    const int handle = hid_read_begin(dev);
    if (handle == -1)
        return -1;
    if (timeoutMs != 0) {
        const DWORD r =
            WaitForSingleObject(intToHandle(handle), timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
        if (r == WAIT_FAILED)
            return -1;
    }
    return hid_read_finish(dev, data, length);
}

int readHonouringBlocking(hid_device *dev, unsigned char *data, size_t length)
{
    ReadState *s = lookup(dev);
    if (!s)
        return -1;
    return read(dev, data, length, s->nonBlocking ? 0 : -1);
}

size_t attachedCount()
{
    StatesGuard lock;
    return states.size();
}

} // namespace hidsplit

extern "C" {

int hid_read_begin(hid_device *dev)
{
    ReadState *s = lookup(dev);
    if (!s)
        return -1;
    if (s->pending)
        return handleToInt(s->event);

    s->pending = true;
    std::fill(s->buffer.begin(), s->buffer.end(), 0);
    ResetEvent(s->event);
    s->overlapped = OVERLAPPED{};
    s->overlapped.hEvent = s->event;
    // A read that completes at once signals the event as well, so the
    // caller's wait returns immediately.
    if (!ReadFile(s->file, s->buffer.data(), DWORD(s->buffer.size()), nullptr, &s->overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            CancelIoEx(s->file, nullptr);
            s->pending = false;
            s->lastError = errorText(error);
            return -1;
        }
    }
    return handleToInt(s->event);
}

int hid_read_finish(hid_device *dev, unsigned char *data, size_t length)
{
    ReadState *s = lookup(dev);
    if (!s)
        return -1;
    // Without an outstanding read the OVERLAPPED still holds the previous
    // read's result, which must not be delivered twice.
    if (!s->pending)
        return 0;
    DWORD got = 0;
    if (!GetOverlappedResult(s->file, &s->overlapped, &got, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return 0; // still outstanding
        s->pending = false;
        s->lastError = errorText(error);
        return -1;
    }
    s->pending = false;
    if (got == 0)
        return 0;
    // Windows prefixes the reports of a device that does not number them
    // with report number 0.
    const hidsplit::Copy c = hidsplit::reportCopy(
        s->buffer.data(), std::min<size_t>(got, s->buffer.size()), length, true);
    std::memcpy(data, s->buffer.data() + c.offset, c.count);
    return int(c.count);
}

int hid_read_cancel(hid_device *dev)
{
    if (ReadState *s = lookup(dev))
        s->endRead();
    return 0;
}

int hid_wait_any(const int *handles, int count, int timeoutMs)
{
    if (count <= 0 || !handles)
        return HID_WAIT_FAILED;
    thread_local std::vector<HANDLE> objects;
    objects.resize(size_t(count));
    for (int i = 0; i < count; ++i)
        objects[size_t(i)] = intToHandle(handles[i]);
    return hidsplit::waitAnyGrouped(
        count, kMaxWaitObjects, timeoutMs,
        [](int first, int n, int ms) { return waitGroup(objects.data() + first, n, ms); },
        [] { return GetTickCount64(); }, [](int ms) { Sleep(DWORD(ms)); });
}

void hid_sleep_ms(int milliseconds)
{
    Sleep(milliseconds < 0 ? 0 : DWORD(milliseconds));
}

void hid_yield(void)
{
    SwitchToThread();
}

} // extern "C"
