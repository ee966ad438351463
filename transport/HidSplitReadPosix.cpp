// SPDX-License-Identifier: GPL-3.0-or-later
// Split-phase reads on POSIX descriptors. Every handle has a read descriptor
// of its own (a hidraw node opened for reading, or the host end of a virtual
// device's socket); the descriptor is the waitable handle and wait-any is
// poll(). A descriptor delivers one report per read(), so a "started" read is
// simply the promise to collect the next report from that descriptor.
#include "transport/HidSplitInternal.h"
#include "transport/HidSplitRead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// Large enough for any report hidraw can deliver, so a read is never cut
// short here and the caller sees the device's true report length.
constexpr size_t kInputBufferSize = 4096;

struct ReadState {
    int fd = -1;
    bool pending = false;
    bool nonBlocking = false;
    unsigned char buffer[kInputBufferSize];
};

std::mutex statesMutex;
std::unordered_map<hid_device *, std::unique_ptr<ReadState>> states;

// The mutex guards the map only: the state found is used after it has been
// released, without a lock. That is safe because of the order in which a
// handle is used. A state is created when its handle is opened and freed only
// when the handle is closed (detach), or replaced when a new handle is opened
// at the address of a closed one (attach); in between, one thread at a time
// uses it. The manager opens a handle and sets it non-blocking on the GUI
// thread before it registers the device, so the registry's lock hands the
// state over to the reader thread; from then on only the reader reads the
// handle, and the handle is closed (its device deleted on the GUI thread)
// only after the reader has taken the device out of the registry for good,
// or after the reader thread has ended. A caller that closed a handle while
// another thread could still be in one of these functions with it would
// break this.
ReadState *lookup(hid_device *dev)
{
    std::lock_guard<std::mutex> lock(statesMutex);
    auto it = states.find(dev);
    return it == states.end() ? nullptr : it->second.get();
}

bool hungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

namespace hidsplit {

void attach(hid_device *dev, int readFd)
{
    auto state = std::make_unique<ReadState>();
    state->fd = readFd;
    std::unique_ptr<ReadState> previous;
    {
        std::lock_guard<std::mutex> lock(statesMutex);
        auto &slot = states[dev];
        previous = std::move(slot);
        slot = std::move(state);
    }
    if (previous && previous->fd >= 0)
        ::close(previous->fd);
}

void detach(hid_device *dev)
{
    std::unique_ptr<ReadState> state;
    {
        std::lock_guard<std::mutex> lock(statesMutex);
        auto it = states.find(dev);
        if (it == states.end())
            return;
        state = std::move(it->second);
        states.erase(it);
    }
    if (state->fd >= 0)
        ::close(state->fd);
}

void setNonBlocking(hid_device *dev, bool nonBlocking)
{
    if (ReadState *s = lookup(dev))
        s->nonBlocking = nonBlocking;
}

int read(hid_device *dev, unsigned char *data, size_t length, int timeoutMs)
{
    const int fd = hid_read_begin(dev);
    if (fd < 0)
        return -1;
    if (timeoutMs != 0) {
        pollfd p{fd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r < 0)
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
    std::lock_guard<std::mutex> lock(statesMutex);
    return states.size();
}

} // namespace hidsplit

extern "C" {

int hid_read_begin(hid_device *dev)
{
    ReadState *s = lookup(dev);
    if (!s || s->fd < 0)
        return -1;
    // A descriptor has no read to start: the pending flag marks that the next
    // report on it belongs to this read, and poll() signals its arrival.
    s->pending = true;
    return s->fd;
}

int hid_read_finish(hid_device *dev, unsigned char *data, size_t length)
{
    ReadState *s = lookup(dev);
    if (!s || s->fd < 0)
        return -1;
    if (!s->pending)
        return 0;
    ssize_t got;
    do {
        got = ::read(s->fd, s->buffer, sizeof s->buffer);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0; // not complete yet; the read stays outstanding
        s->pending = false;
        return -1;
    }
    s->pending = false;
    if (got == 0)
        // An empty completion, or the end of a socket whose device side is
        // gone: only the hang-up tells them apart.
        return hungUp(s->fd) ? -1 : 0;
    const hidsplit::Copy c = hidsplit::reportCopy(s->buffer, size_t(got), length, false);
    std::memcpy(data, s->buffer + c.offset, c.count);
    return int(c.count);
}

int hid_read_cancel(hid_device *dev)
{
    if (ReadState *s = lookup(dev))
        s->pending = false;
    return 0;
}

int hid_wait_any(const int *handles, int count, int timeoutMs)
{
    if (count <= 0 || !handles)
        return HID_WAIT_FAILED;
    thread_local std::vector<pollfd> fds;
    fds.resize(size_t(count));
    for (int i = 0; i < count; ++i)
        fds[size_t(i)] = pollfd{handles[i], POLLIN, 0};

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int left = timeoutMs < 0 ? -1 : timeoutMs;
    int r;
    for (;;) {
        r = ::poll(fds.data(), nfds_t(count), left);
        if (r >= 0 || errno != EINTR)
            break;
        if (timeoutMs >= 0) {
            // What is left of the timeout, rounded up: cut to whole
            // milliseconds, a wait of 1 ms would return at once.
            const auto rest = deadline - Clock::now();
            left = rest <= Clock::duration::zero()
                       ? 0
                       : int(std::chrono::ceil<std::chrono::milliseconds>(rest).count());
        }
    }
    if (r < 0)
        return HID_WAIT_FAILED;
    if (r == 0)
        return HID_WAIT_TIMEOUT;
    for (int i = 0; i < count; ++i)
        if (fds[size_t(i)].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
            return i;
    return HID_WAIT_TIMEOUT;
}

void hid_sleep_ms(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void hid_yield(void)
{
    sched_yield();
}

} // extern "C"
