// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "usb/ZudUsbReport.h"

#include <QPointer>
#include <cstdint>
#include <mutex>
#include <vector>

class UsbDevice;

// What the reader thread has read, and the devices it has found lost, on
// their way to the GUI thread, in the order they happened.
//
// Handing each report over on its own wakes the GUI thread 1000 times a
// second per streaming device. Instead the reader adds to a batch and posts
// one delivery for all of it: at once for anything a caller may be waiting
// for (a reply, an acknowledgement, a loss), and for a device's stream of
// joystick reports every holdMicros. A delivery that is posted and not yet
// taken covers whatever is added meanwhile.
//
// The reader adds and posts, the GUI thread takes; every call locks, so
// either thread may make any of them. Times are the caller's monotonic
// microseconds.
class ReportBatch {
public:
    struct Entry {
        QPointer<UsbDevice> device;
        bool lost = false; // the device's loss, not a report
        uint64_t readTimeMicros = 0;
        ZudUsbReport report;
    };

    explicit ReportBatch(uint64_t holdMicros) : holdMicros_(holdMicros) {}

    // Adds a report read from device at readTimeMicros (the wall-clock read
    // time handed on with it); inStream when it belongs to the stream the
    // device sends on its own, which may wait for the batch. Returns whether
    // the caller must post a delivery now.
    bool addReport(UsbDevice *device, const uint8_t *report, uint64_t readTimeMicros, bool inStream,
                   uint64_t nowMicros);
    // Adds the loss of device, after its reports. Returns whether the caller
    // must post a delivery now.
    bool addLoss(UsbDevice *device);
    // Whether the stream held has waited long enough: then the caller must
    // post a delivery now.
    bool due(uint64_t nowMicros);
    // Whether anything is held without a delivery posted for it: then the
    // caller must post one now (when it stops waiting for more).
    bool flush();
    // How long the reader may wait for its next report before due() holds;
    // -1 when nothing is held.
    int millisUntilDue(uint64_t nowMicros) const;

    // GUI thread, in the posted delivery: everything added so far, in order,
    // swapped into `into` (cleared first); the next addition posts again.
    void takeAll(std::vector<Entry> &into);
    // Drops everything held (the devices are gone or the reader has ended).
    void clear();

private:
    // Called with mutex_ held: marks a delivery as posted if none is;
    // onTime when it is the stream's regular one, due at nowMicros.
    bool post(uint64_t nowMicros, bool onTime);

    const uint64_t holdMicros_;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    bool posted_ = false;
    bool holding_ = false;      // reports held with no delivery posted
    uint64_t holdingSince_ = 0; // the hold counts from then
    uint64_t lastPost_ = 0;     // when the last regular delivery was due
    bool lastPostOnTime_ = false;
};
