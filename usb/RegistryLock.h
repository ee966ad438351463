// SPDX-License-Identifier: GPL-3.0-or-later
// Scoped read and write holds of the device registry's QReadWriteLock.
// ThreadSanitizer cannot see inside Qt's lock (Qt is not instrumented), so in
// a ThreadSanitizer build each hold is also described to it as a hold of a
// reader-writer mutex; elsewhere these are plain QReadLocker/QWriteLocker.
#pragma once

#include "usb/ThreadHandOver.h"

#include <QReadWriteLock>

class RegistryReadHold {
public:
    explicit RegistryReadHold(QReadWriteLock *lock) : lock(lock)
    {
#ifdef ZUD_TSAN
        __tsan_mutex_pre_lock(lock, __tsan_mutex_read_lock);
#endif
        lock->lockForRead();
#ifdef ZUD_TSAN
        __tsan_mutex_post_lock(lock, __tsan_mutex_read_lock, 0);
#endif
    }
    ~RegistryReadHold()
    {
#ifdef ZUD_TSAN
        __tsan_mutex_pre_unlock(lock, __tsan_mutex_read_lock);
#endif
        lock->unlock();
#ifdef ZUD_TSAN
        __tsan_mutex_post_unlock(lock, __tsan_mutex_read_lock);
#endif
    }
    RegistryReadHold(const RegistryReadHold &) = delete;
    RegistryReadHold &operator=(const RegistryReadHold &) = delete;

private:
    QReadWriteLock *lock;
};

class RegistryWriteHold {
public:
    explicit RegistryWriteHold(QReadWriteLock *lock) : lock(lock)
    {
#ifdef ZUD_TSAN
        __tsan_mutex_pre_lock(lock, 0);
#endif
        lock->lockForWrite();
#ifdef ZUD_TSAN
        __tsan_mutex_post_lock(lock, 0, 0);
#endif
    }
    ~RegistryWriteHold()
    {
#ifdef ZUD_TSAN
        __tsan_mutex_pre_unlock(lock, 0);
#endif
        lock->unlock();
#ifdef ZUD_TSAN
        __tsan_mutex_post_unlock(lock, 0);
#endif
    }
    RegistryWriteHold(const RegistryWriteHold &) = delete;
    RegistryWriteHold &operator=(const RegistryWriteHold &) = delete;

private:
    QReadWriteLock *lock;
};
