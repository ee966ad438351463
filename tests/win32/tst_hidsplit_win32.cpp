// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows read layer (transport/HidSplitReadWin32.cpp) run for real, under
// Wine or on Windows: plain C++, no Qt, linked statically.
//
// Stand-in devices are message-mode named pipes. The layer opens the client
// end of each with FILE_FLAG_OVERLAPPED, as it opens a HID device path, and a
// pipe completes overlapped reads as the HID class driver does: a read stays
// pending until the device side writes a report, delivers one report per
// read, signals the read's event on completion, completes with an error once
// the device side is gone, and completes as cancelled after CancelIoEx.
//
// What only a HID driver can answer is the input report length. The layer
// asks hid.dll for it (HidD_GetPreparsedData, HidP_GetCaps,
// HidD_FreePreparsedData); this program does not link hid and defines those
// three functions itself, answering with the length the stand-in device was
// made with.
//
// Every C++ allocation goes through a quarantine: freed blocks are filled
// with a pattern and never reused, so a read that writes into a buffer or an
// OVERLAPPED the layer has already released shows up as a changed pattern.
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

extern "C" {
#include <hidsdi.h>

#include <hidpi.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Quarantine allocator

namespace {

constexpr unsigned char kPoison = 0xDD;
constexpr size_t kHeader = 16; // keeps the blocks 16-byte aligned

struct Block {
    unsigned char *data;
    size_t size;
};

SRWLOCK quarantineLock = SRWLOCK_INIT;
Block quarantine[1 << 17];
size_t quarantined = 0;

void *allocate(size_t size)
{
    auto *raw = static_cast<unsigned char *>(std::malloc(size + kHeader));
    if (!raw) {
        std::fputs("out of memory\n", stderr);
        std::abort();
    }
    std::memcpy(raw, &size, sizeof size);
    return raw + kHeader;
}

void release(void *p)
{
    if (!p)
        return;
    auto *data = static_cast<unsigned char *>(p);
    size_t size;
    std::memcpy(&size, data - kHeader, sizeof size);
    std::memset(data, kPoison, size);
    AcquireSRWLockExclusive(&quarantineLock);
    const bool kept = quarantined < sizeof quarantine / sizeof quarantine[0];
    if (kept)
        quarantine[quarantined++] = Block{data, size};
    ReleaseSRWLockExclusive(&quarantineLock);
    if (!kept)
        std::free(data - kHeader);
}

// The number of released blocks written to after their release.
size_t touchedBlocks()
{
    AcquireSRWLockExclusive(&quarantineLock);
    size_t touched = 0;
    for (size_t i = 0; i < quarantined; ++i) {
        const Block &b = quarantine[i];
        if (std::any_of(b.data, b.data + b.size, [](unsigned char c) { return c != kPoison; }))
            ++touched;
    }
    ReleaseSRWLockExclusive(&quarantineLock);
    return touched;
}

} // namespace

void *operator new(size_t size)
{
    return allocate(size);
}
void *operator new[](size_t size)
{
    return allocate(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return allocate(size);
}
void operator delete(void *p) noexcept
{
    release(p);
}
void operator delete[](void *p) noexcept
{
    release(p);
}
void operator delete(void *p, size_t) noexcept
{
    release(p);
}
void operator delete[](void *p, size_t) noexcept
{
    release(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    release(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    release(p);
}

// ---------------------------------------------------------------------------
// The HID driver's answer: the input report length

namespace {

size_t reportLengthOfNextOpen = 0;      // 0: the driver does not tell
volatile LONG preparsedOutstanding = 0; // taken and not yet freed

} // namespace

extern "C" {

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE, PHIDP_PREPARSED_DATA *preparsed)
{
    if (reportLengthOfNextOpen == 0)
        return FALSE;
    InterlockedIncrement(&preparsedOutstanding);
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(new size_t(reportLengthOfNextOpen));
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps)
{
    *caps = HIDP_CAPS{};
    caps->InputReportByteLength = USHORT(*reinterpret_cast<size_t *>(preparsed));
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed)
{
    InterlockedDecrement(&preparsedOutstanding);
    delete reinterpret_cast<size_t *>(preparsed);
    return TRUE;
}

} // extern "C"

// ---------------------------------------------------------------------------
// Harness

namespace {

int passed = 0;
int failed = 0;
bool caseFailed = false;
std::string currentCase;

bool check(bool ok, const char *what, const char *file, int line)
{
    if (!ok) {
        std::printf("FAIL!  %s: %s (%s:%d)\n", currentCase.c_str(), what, file, line);
        caseFailed = true;
    }
    return ok;
}

template <typename A, typename B>
bool checkEqual(const A &actual, const B &expected, const char *what, const char *file, int line)
{
    if (actual == expected)
        return true;
    std::printf("FAIL!  %s: %s: got %lld, expected %lld (%s:%d)\n", currentCase.c_str(), what,
                (long long)actual, (long long)expected, file, line);
    caseFailed = true;
    return false;
}

#define CHECK(cond) check((cond), #cond, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected)                                                                 \
    checkEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)

template <typename F> void run(const std::string &name, F &&body)
{
    currentCase = name;
    caseFailed = false;
    body();
    if (caseFailed) {
        ++failed;
    } else {
        ++passed;
        std::printf("PASS   %s\n", name.c_str());
    }
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Stand-in devices

using Bytes = std::vector<uint8_t>;

// A report of `length` bytes: byte 0 is `id`, the rest counts up from `seed`.
Bytes report(size_t length, uint8_t id, uint8_t seed)
{
    Bytes r(length);
    for (size_t i = 0; i < length; ++i)
        r[i] = i == 0 ? id : uint8_t(seed + i);
    return r;
}

// One device: the device side of a message-mode pipe, with the layer's read
// state attached to the client side under this object's address.
class StandIn {
public:
    explicit StandIn(size_t reportLength)
    {
        static int serial = 0;
        path_ = "\\\\.\\pipe\\zud-hidsplit-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        device_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 1 << 16, 0, 0, nullptr);
        if (device_ == INVALID_HANDLE_VALUE)
            return;
        reportLengthOfNextOpen = reportLength;
        attached_ = hidsplit::attachPath(dev(), path_.c_str());
        reportLengthOfNextOpen = 0;
    }
    ~StandIn()
    {
        close();
        unplug();
    }
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    bool ok() const { return attached_; }
    hid_device *dev() { return reinterpret_cast<hid_device *>(this); }

    // The device sends one input report.
    bool send(const Bytes &r)
    {
        DWORD written = 0;
        return WriteFile(device_, r.data(), DWORD(r.size()), &written, nullptr) &&
               written == r.size();
    }
    // The device leaves the bus.
    void unplug()
    {
        if (device_ != INVALID_HANDLE_VALUE)
            CloseHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }
    // What hid_close does with the layer's state.
    void close()
    {
        if (attached_)
            hidsplit::detach(dev());
        attached_ = false;
    }

private:
    std::string path_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    bool attached_ = false;
};

constexpr int kNoCompletion = -100;

struct Read {
    int result;
    Bytes bytes;
};

// begin, wait, finish, as the reader thread does; kNoCompletion when the
// wait timed out (the read stays outstanding). Checks that finish writes no
// byte past what it reports.
Read readNext(hid_device *dev, size_t length = 64, int timeoutMs = 5000)
{
    const int handle = hid_read_begin(dev);
    if (handle == -1)
        return Read{-1, {}};
    const int ready = hid_wait_any(&handle, 1, timeoutMs);
    if (ready != 0)
        return Read{ready == HID_WAIT_TIMEOUT ? kNoCompletion : ready, {}};
    Bytes buffer(length + 8, 0xEE);
    const int got = hid_read_finish(dev, buffer.data(), length);
    const size_t used = got > 0 ? size_t(got) : 0;
    CHECK(std::all_of(buffer.begin() + long(used), buffer.end(),
                      [](uint8_t b) { return b == 0xEE; }));
    buffer.resize(used);
    return Read{got, buffer};
}

// Runs fn on a thread of its own after delayMs.
class Later {
public:
    template <typename F> Later(int delayMs, F fn) : delayMs_(delayMs), fn_(new Fn<F>(fn))
    {
        thread_ = CreateThread(nullptr, 0, &Later::main, this, 0, nullptr);
    }
    ~Later() { join(); }
    Later(const Later &) = delete;
    Later &operator=(const Later &) = delete;
    void join()
    {
        if (!thread_)
            return;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        delete fn_;
        fn_ = nullptr;
    }

private:
    struct Base {
        virtual ~Base() = default;
        virtual void call() = 0;
    };
    template <typename F> struct Fn : Base {
        explicit Fn(F f) : f(f) {}
        void call() override { f(); }
        F f;
    };
    static DWORD WINAPI main(void *self)
    {
        auto *l = static_cast<Later *>(self);
        if (l->delayMs_ > 0)
            Sleep(DWORD(l->delayMs_));
        l->fn_->call();
        return 0;
    }
    int delayMs_;
    Base *fn_;
    HANDLE thread_ = nullptr;
};

// ---------------------------------------------------------------------------
// Cases

void openingAsksTheDriverForTheReportLength()
{
    struct Row {
        const char *name;
        size_t reportLength;
        bool opens;
    };
    const Row rows[] = {
        {"65-byte reports", 65, true},
        {"driver does not tell the length", 0, false},
    };
    for (const Row &row : rows) {
        run(std::string("opening[") + row.name + "]", [&] {
            const size_t before = hidsplit::attachedCount();
            {
                StandIn d(row.reportLength);
                CHECK_EQ(d.ok(), row.opens);
                CHECK_EQ(hidsplit::attachedCount(), before + (row.opens ? 1 : 0));
            }
            CHECK_EQ(hidsplit::attachedCount(), before);
            CHECK_EQ(preparsedOutstanding, 0);
        });
    }
    run("opening[path that does not exist]", [] {
        char key;
        auto *dev = reinterpret_cast<hid_device *>(&key);
        reportLengthOfNextOpen = 65;
        CHECK(!hidsplit::attachPath(dev, "\\\\.\\pipe\\zud-hidsplit-nothing-here"));
        reportLengthOfNextOpen = 0;
        CHECK_EQ(hid_read_begin(dev), -1);
        CHECK_EQ(hid_read_finish(dev, nullptr, 0), -1);
        CHECK_EQ(hid_read_cancel(dev), 0);
    });
}

void beginTwiceStartsOneRead()
{
    run("begin twice starts one read", [] {
        StandIn d(65);
        if (!CHECK(d.ok()))
            return;
        const int first = hid_read_begin(d.dev());
        const int second = hid_read_begin(d.dev());
        CHECK(first != -1);
        CHECK_EQ(second, first);
        const Bytes r1 = report(65, 0, 1), r2 = report(65, 0, 2);
        CHECK(d.send(r1));
        CHECK(d.send(r2));
        // A second read on the same OVERLAPPED would have taken r2.
        const Read a = readNext(d.dev());
        CHECK_EQ(a.result, 64);
        CHECK(a.bytes == Bytes(r1.begin() + 1, r1.end()));
        const Read b = readNext(d.dev(), 64, 500);
        CHECK_EQ(b.result, 64);
        CHECK(b.bytes == Bytes(r2.begin() + 1, r2.end()));
    });
}

void finishBeforeCompletion()
{
    run("finish before completion gives 0, then the report", [] {
        StandIn d(65);
        if (!CHECK(d.ok()))
            return;
        const int handle = hid_read_begin(d.dev());
        unsigned char buffer[64];
        CHECK_EQ(hid_read_finish(d.dev(), buffer, sizeof buffer), 0);
        CHECK_EQ(hid_wait_any(&handle, 1, 20), HID_WAIT_TIMEOUT);
        CHECK_EQ(hid_read_begin(d.dev()), handle); // still the same read
        const Bytes r = report(65, 7, 30);
        CHECK(d.send(r));
        CHECK_EQ(hid_wait_any(&handle, 1, 5000), 0);
        CHECK_EQ(hid_read_finish(d.dev(), buffer, sizeof buffer), 64);
        CHECK(std::equal(r.begin(), r.end() - 1, buffer));
        // Collected once: no second delivery of the same read.
        CHECK_EQ(hid_read_finish(d.dev(), buffer, sizeof buffer), 0);
    });
}

// A new read's handle is signalled by that read only, not by how the last
// read ended: cancelled, or collected by hid_read without a wait (which
// shares the outstanding read with the split-phase functions).
void newReadStartsUnsignalled()
{
    enum Ending { Cancelled, CollectedByHidRead, CollectedByBlockingHidRead };
    struct Row {
        const char *name;
        Ending ending;
    };
    const Row rows[] = {
        {"after a cancel", Cancelled},
        {"after hid_read collected it without waiting", CollectedByHidRead},
        {"after a blocking hid_read collected it", CollectedByBlockingHidRead},
    };
    for (const Row &row : rows) {
        run(std::string("new read starts unsignalled[") + row.name + "]", [&] {
            StandIn d(65);
            if (!CHECK(d.ok()))
                return;
            const int handle = hid_read_begin(d.dev());
            const Bytes r = report(65, 4, 4);
            unsigned char buffer[64];
            switch (row.ending) {
            case Cancelled:
                CHECK_EQ(hid_read_cancel(d.dev()), 0);
                break;
            case CollectedByHidRead:
                CHECK(d.send(r));
                // The pipe completes the read at once; the non-blocking
                // hid_read collects it without consuming the signal.
                CHECK_EQ(hidsplit::read(d.dev(), buffer, sizeof buffer, 0), 64);
                break;
            case CollectedByBlockingHidRead:
                CHECK(d.send(r));
                CHECK_EQ(hidsplit::read(d.dev(), buffer, sizeof buffer, -1), 64);
                break;
            }
            if (row.ending != Cancelled)
                CHECK(std::equal(r.begin(), r.end() - 1, buffer));
            CHECK_EQ(hid_read_begin(d.dev()), handle);
            CHECK_EQ(hid_wait_any(&handle, 1, 30), HID_WAIT_TIMEOUT);
            CHECK_EQ(hid_read_finish(d.dev(), buffer, sizeof buffer), 0);
        });
    }
}

void reportIdRule()
{
    struct Row {
        const char *name;
        size_t reportLength; // the device's input report length
        Bytes sent;          // what the driver delivers
        size_t length;       // the caller's buffer
        Bytes expected;
    };
    const Bytes unnumbered = report(65, 0, 10);
    const Bytes numbered = report(65, 0x65, 20);
    const Bytes numbered64 = report(64, 1, 30);
    const Row rows[] = {
        {"unnumbered 65 into 64", 65, unnumbered, 64,
         Bytes(unnumbered.begin() + 1, unnumbered.end())},
        {"numbered 65 into 64 loses the last byte", 65, numbered, 64,
         Bytes(numbered.begin(), numbered.end() - 1)},
        {"numbered 65 into 100", 65, numbered, 100, numbered},
        {"numbered 64 into 64", 64, numbered64, 64, numbered64},
        {"unnumbered into a short buffer", 65, unnumbered, 10,
         Bytes(unnumbered.begin() + 1, unnumbered.begin() + 11)},
        {"short unnumbered report", 65, Bytes{0, 1, 2, 3}, 64, Bytes{1, 2, 3}},
        {"only the platform's zero", 65, Bytes{0}, 64, Bytes{}},
    };
    for (const Row &row : rows) {
        run(std::string("report id rule[") + row.name + "]", [&] {
            StandIn d(row.reportLength);
            if (!CHECK(d.ok()))
                return;
            CHECK(d.send(row.sent));
            const Read r = readNext(d.dev(), row.length);
            CHECK_EQ(r.result, int(row.expected.size()));
            CHECK(r.bytes == row.expected);
        });
    }
}

// Positions are ready in the order given; the waits must return them lowest
// first, one per wait, and leave the others ready.
void waitAnyLowestFirst()
{
    struct Row {
        const char *name;
        int count;
        std::vector<int> ready;
    };
    const Row rows[] = {
        {"3 handles", 3, {2, 0}},
        {"8 handles", 8, {5, 3, 7}},
        {"64 handles, one wait", 64, {63, 1}},
        {"65 handles, two groups", 65, {64, 0}},
        {"130 handles, three groups", 130, {129, 70, 64}},
        {"130 handles, none ready", 130, {}},
    };
    for (const Row &row : rows) {
        run(std::string("wait-any lowest first[") + row.name + "]", [&] {
            std::vector<std::unique_ptr<StandIn>> devices;
            for (int i = 0; i < row.count; ++i) {
                devices.push_back(std::make_unique<StandIn>(65));
                if (!CHECK(devices.back()->ok()))
                    return;
            }
            for (int p : row.ready)
                CHECK(devices[size_t(p)]->send(report(65, uint8_t(p + 1), uint8_t(p))));
            std::vector<int> handles;
            for (auto &d : devices)
                handles.push_back(hid_read_begin(d->dev()));
            CHECK(std::none_of(handles.begin(), handles.end(), [](int h) { return h == -1; }));

            std::vector<int> expected = row.ready;
            std::sort(expected.begin(), expected.end());
            for (int p : expected)
                CHECK_EQ(hid_wait_any(handles.data(), row.count, 5000), p);
            CHECK_EQ(hid_wait_any(handles.data(), row.count, 30), HID_WAIT_TIMEOUT);

            for (int i = 0; i < row.count; ++i) {
                unsigned char buffer[64] = {};
                const bool ready = std::count(expected.begin(), expected.end(), i) > 0;
                CHECK_EQ(hid_read_finish(devices[size_t(i)]->dev(), buffer, sizeof buffer),
                         ready ? 64 : 0);
                if (ready)
                    CHECK_EQ(int(buffer[0]), i + 1);
            }
        });
    }
}

// A report that arrives while the wait is blocked wakes it, in any group.
void waitAnyWakesOnArrival()
{
    struct Row {
        const char *name;
        int count;
        int position;
    };
    const Row rows[] = {
        {"3 handles", 3, 1},
        {"130 handles, third group", 130, 129},
    };
    for (const Row &row : rows) {
        run(std::string("wait-any wakes on arrival[") + row.name + "]", [&] {
            std::vector<std::unique_ptr<StandIn>> devices;
            std::vector<int> handles;
            for (int i = 0; i < row.count; ++i) {
                devices.push_back(std::make_unique<StandIn>(65));
                if (!CHECK(devices.back()->ok()))
                    return;
                handles.push_back(hid_read_begin(devices.back()->dev()));
            }
            StandIn &target = *devices[size_t(row.position)];
            Later sender(50, [&] { target.send(report(65, 9, 9)); });
            CHECK_EQ(hid_wait_any(handles.data(), row.count, 10000), row.position);
            sender.join();
            unsigned char buffer[64];
            CHECK_EQ(hid_read_finish(target.dev(), buffer, sizeof buffer), 64);
            CHECK_EQ(int(buffer[0]), 9);
        });
    }
}

// The device leaves: the reports it sent before are delivered, then -1, and
// the handle stays idle (a new read is refused).
void unplugAfterQueuedReports()
{
    struct Row {
        const char *name;
        int queued;
        bool readOutstanding;
    };
    const Row rows[] = {
        {"read outstanding, nothing queued", 0, true},
        {"idle, nothing queued", 0, false},
        {"one queued", 1, false},
        {"three queued, read outstanding", 3, true},
    };
    for (const Row &row : rows) {
        run(std::string("unplug[") + row.name + "]", [&] {
            StandIn d(65);
            if (!CHECK(d.ok()))
                return;
            for (int i = 0; i < row.queued; ++i)
                CHECK(d.send(report(65, uint8_t(i + 1), 0)));
            if (row.readOutstanding)
                CHECK(hid_read_begin(d.dev()) != -1);
            d.unplug();
            for (int i = 0; i < row.queued; ++i) {
                const Read r = readNext(d.dev());
                CHECK_EQ(r.result, 64);
                if (!r.bytes.empty())
                    CHECK_EQ(int(r.bytes[0]), i + 1);
            }
            CHECK_EQ(readNext(d.dev()).result, -1);
            CHECK_EQ(hid_read_begin(d.dev()), -1);
            const std::string error = hidsplit::lastErrorText(d.dev());
            CHECK(!error.empty());
            CHECK(error.find('\r') == std::string::npos);
        });
    }
}

void cancelOnIdleChangesNothing()
{
    run("cancel on an idle handle changes nothing", [] {
        StandIn d(65);
        if (!CHECK(d.ok()))
            return;
        const Bytes r = report(65, 3, 3);
        CHECK(d.send(r));
        CHECK_EQ(hid_read_cancel(d.dev()), 0);
        const Read got = readNext(d.dev());
        CHECK_EQ(got.result, 64);
        CHECK(got.bytes == Bytes(r.begin(), r.end() - 1));
    });
}

// Cancel (hid_read_cancel) and close (hid_close's detach) of a read that the
// reader thread started, as in the tool, many times over, with no report, a
// report sent just before, or a report racing the cancel, and a cancel while
// the reader waits on the read: the cancel returns, the device stays
// usable after a cancel, and no released buffer or OVERLAPPED is ever
// written to. A read completes (and is cancelled) into the memory of the
// thread that started it, possibly after CancelIoEx has returned to another
// thread; the reader here waits, as the tool's reader does, while it lands.
void cancelAndCloseWithAReadOutstanding()
{
    enum Action { Cancel, Close };
    enum Report { NoReport, ReportBefore, ReportRacing };
    struct Row {
        const char *name;
        Action action;
        Report report;
        bool readerWaits; // in a wait-any on the read, which may take the cancel's signal
    };
    const Row rows[] = {
        {"cancel", Cancel, NoReport, false},
        {"cancel after a report", Cancel, ReportBefore, false},
        {"cancel racing a report", Cancel, ReportRacing, false},
        {"cancel while the reader waits on it", Cancel, NoReport, true},
        {"cancel racing a report the reader waits for", Cancel, ReportRacing, true},
        {"close", Close, NoReport, false},
        {"close after a report", Close, ReportBefore, false},
        {"close racing a report", Close, ReportRacing, false},
    };
    constexpr int kRounds = 150; // per row
    const HANDLE begun = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (const Row &row : rows) {
        run(std::string("cancel and close[") + row.name + "]", [&] {
            const size_t before = hidsplit::attachedCount();
            for (int round = 0; round < kRounds && !caseFailed; ++round) {
                StandIn d(65);
                if (!CHECK(d.ok()))
                    return;
                const Bytes sent = report(65, 1, uint8_t(round));
                const Bytes next = report(65, 2, uint8_t(round));
                int handle = -1;
                ResetEvent(released);
                Later reader(0, [&] {
                    handle = hid_read_begin(d.dev());
                    SetEvent(begun);
                    // Briefly: the cancel's signal wakes one of the two waits.
                    if (row.readerWaits)
                        hid_wait_any(&handle, 1, 20);
                    WaitForSingleObject(released, INFINITE);
                });
                WaitForSingleObject(begun, INFINITE);
                CHECK(handle != -1);
                if (row.report == ReportBefore)
                    CHECK(d.send(sent));
                Later sender(0, [&] {
                    if (row.report == ReportRacing)
                        d.send(sent);
                });
                if (row.action == Cancel)
                    CHECK_EQ(hid_read_cancel(d.dev()), 0);
                else
                    d.close();
                sender.join();
                SetEvent(released);
                reader.join();
                if (row.action == Close)
                    continue;
                // A report sent with the cancel was either taken by the
                // cancelled read or is still there; either way the device
                // reads on.
                CHECK(d.send(next));
                const Read r = readNext(d.dev(), 65);
                CHECK_EQ(r.result, 65);
                CHECK(r.bytes == next || (row.report != NoReport && r.bytes == sent));
            }
            CHECK_EQ(hidsplit::attachedCount(), before);
            Sleep(50); // room for a late completion to land
            CHECK_EQ(touchedBlocks(), size_t(0));
        });
    }
    CloseHandle(begun);
    CloseHandle(released);
}

// Handles travel as int. Kernel handles have 32 significant bits on 64-bit
// Windows too; the pseudo handles of the current process and thread are the
// handles above 2^31 a process sees (as 64-bit values, sign-extended), and
// must come back from the int as the same handle: a wait on them times out
// rather than failing, beside a real event that is found ready.
void handlesRoundTripThroughInt()
{
    run("handle above 2^31 round-trips through int", [] {
        const HANDLE pseudo[] = {GetCurrentProcess(), GetCurrentThread()};
        for (HANDLE h : pseudo) {
            const int asInt = int(reinterpret_cast<intptr_t>(h));
            CHECK(uint64_t(uintptr_t(h)) > (uint64_t(1) << 31));
            CHECK_EQ(hid_wait_any(&asInt, 1, 10), HID_WAIT_TIMEOUT);
            StandIn d(65);
            if (!CHECK(d.ok()))
                return;
            CHECK(d.send(report(65, 5, 5)));
            const int handles[] = {asInt, hid_read_begin(d.dev())};
            CHECK_EQ(hid_wait_any(handles, 2, 5000), 1);
        }
    });
}

} // namespace

int main()
{
    std::printf("Windows read layer, %d-bit\n", int(sizeof(void *) * 8));
    openingAsksTheDriverForTheReportLength();
    beginTwiceStartsOneRead();
    finishBeforeCompletion();
    newReadStartsUnsignalled();
    reportIdRule();
    waitAnyLowestFirst();
    waitAnyWakesOnArrival();
    unplugAfterQueuedReports();
    cancelOnIdleChangesNothing();
    cancelAndCloseWithAReadOutstanding();
    handlesRoundTripThroughInt();
    run("every preparsed data freed", [] { CHECK_EQ(preparsedOutstanding, 0); });
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
