// SPDX-License-Identifier: GPL-3.0-or-later
// Hand-overs between the reader thread and the GUI thread that go through
// Qt, described to ThreadSanitizer. Debian's Qt is not instrumented: its
// mutexes (the event queue's among them) are invisible to ThreadSanitizer, so
// what one thread hands to another through Qt looks unsynchronised to it.
// Everything here is empty unless the build is instrumented for it.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define ZUD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZUD_TSAN 1
#endif
#endif

#ifdef ZUD_TSAN
#include <mutex>
#include <sanitizer/tsan_interface.h>
#endif

// Something one thread is done with before another takes it up, where the
// order is guaranteed by Qt (e.g. a thread's last accesses before the
// QThread::wait() that returns once it has ended): the first releases it,
// the second acquires it.
inline void handOverRelease(const void *object)
{
#ifdef ZUD_TSAN
    __tsan_release(const_cast<void *>(object));
#else
    (void)object;
#endif
}
inline void handOverAcquire(const void *object)
{
#ifdef ZUD_TSAN
    __tsan_acquire(const_cast<void *>(object));
#else
    (void)object;
#endif
}

// Queued calls from one thread to an object living on another. Qt builds the
// call's event (its argument copies included) on the sending thread and
// hands it over through the receiver's event queue; the receiver's moc code
// then reads the arguments before the slot runs. The sender holds a Post
// while it makes the queued call, the receiver calls received() when the
// event arrives (first thing in its event()). The event cannot
// arrive before the sender holds the Post, so taking the same mutex in
// received() orders everything the sender did up to the end of the call
// before the receiver's first access, as Qt's own queue mutex does.
class QueuedHandOver {
public:
    class Post {
    public:
#ifdef ZUD_TSAN
        explicit Post(QueuedHandOver &handOver) : lock(handOver.mutex) {}
#else
        explicit Post(QueuedHandOver &) {}
#endif
        Post(const Post &) = delete;
        Post &operator=(const Post &) = delete;

#ifdef ZUD_TSAN
    private:
        std::lock_guard<std::mutex> lock;
#endif
    };

    void received()
    {
#ifdef ZUD_TSAN
        std::lock_guard<std::mutex> lock(mutex);
#endif
    }

#ifdef ZUD_TSAN
private:
    std::mutex mutex;
#endif
};
