// SPDX-License-Identifier: GPL-3.0-or-later
// Faults that strike at the k-th write of an exchange, whatever the device
// kind: the GUI thread does every write, so an application-wide event filter
// that looks at the bus's counters before each event on that thread can arm
// a fault exactly between two steps of an exchange.
#pragma once

#include "simulator/VirtualHidBus.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <hidapi.h>

#include <cstring>
#include <vector>

namespace faults {

// Counts writes to a virtual device from the moment it is made and calls
// step(attempts) before every event of the GUI thread; `attempts` counts
// successful and failed writes alike.
class WriteWatcher : public QObject {
public:
    explicit WriteWatcher(vhid::DevicePtr device) : device(std::move(device)), base(attempts())
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~WriteWatcher() override { QCoreApplication::instance()->removeEventFilter(this); }

    size_t writesSinceStart() const { return attempts() - base; }

protected:
    virtual void step(size_t writes) = 0;
    // Subclasses call this at the end of their constructor, so that a fault
    // due at the very first write is armed before the exchange starts.
    void poll() { step(writesSinceStart()); }
    bool eventFilter(QObject *, QEvent *) override
    {
        poll();
        return false;
    }

    vhid::DevicePtr device;

private:
    size_t attempts() const { return device->writeCount() + device->failedWriteCount(); }
    size_t base;
};

// The k-th write from now (1-based) fails; the retry after it goes through.
class FailWriteAt : public WriteWatcher {
public:
    FailWriteAt(vhid::DevicePtr d, size_t k)
        : WriteWatcher(std::move(d)), k(k), failedBase(device->failedWriteCount())
    {
        poll();
    }
    ~FailWriteAt() override { device->setWriteFails(false); }
    bool struck() const { return device->failedWriteCount() > failedBase; }

protected:
    void step(size_t writes) override
    {
        if (struck())
            device->setWriteFails(false);
        else
            device->setWriteFails(writes + 1 == k);
    }

private:
    size_t k;
    size_t failedBase;
};

// The device leaves the bus right after the host's k-th write reached it
// (its answer, if any, may already be on the way).
class UnplugAfterWrite : public WriteWatcher {
public:
    UnplugAfterWrite(vhid::DevicePtr d, size_t k) : WriteWatcher(std::move(d)), k(k) { poll(); }

protected:
    void step(size_t writes) override
    {
        if (writes >= k && device->isPlugged())
            device->unplug();
    }

private:
    size_t k;
};

// Listens to a device beside the tool (every open handle receives every
// input report) and sends the k-th reply (a report other than a joystick
// report) a second time, a moment after the first.
class DuplicateReply : public QObject {
public:
    DuplicateReply(vhid::DevicePtr device, int k) : device(std::move(device)), k(k)
    {
        spy = hid_open_path(this->device->path().c_str());
        if (spy)
            hid_set_nonblocking(spy, 1);
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~DuplicateReply() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        if (spy)
            hid_close(spy);
    }
    bool opened() const { return spy != nullptr; }
    bool duplicated() const { return done; }

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        if (!spy || done)
            return false;
        unsigned char report[64];
        int n;
        while ((n = hid_read(spy, report, sizeof report)) == int(sizeof report)) {
            if (report[0] == 1)
                continue;
            if (++seen == k) {
                device->inject(report, sizeof report);
                done = true;
                break;
            }
        }
        return false;
    }

private:
    vhid::DevicePtr device;
    int k;
    int seen = 0;
    bool done = false;
    hid_device *spy = nullptr;
};

} // namespace faults
