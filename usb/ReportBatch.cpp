// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/ReportBatch.h"

#include "usb/UsbDevice.h"

#include <cstring>

bool ReportBatch::post(uint64_t nowMicros, bool onTime)
{
    holding_ = false;
    lastPost_ = nowMicros;
    lastPostOnTime_ = onTime;
    if (posted_)
        return false;
    posted_ = true;
    return true;
}

bool ReportBatch::addReport(UsbDevice *device, const uint8_t *report, uint64_t readTimeMicros,
                            bool inStream, uint64_t nowMicros)
{
    QPointer<UsbDevice> pointer(device);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.emplace_back();
    Entry &entry = entries_.back();
    entry.device.swap(pointer);
    entry.readTimeMicros = readTimeMicros;
    std::memcpy(entry.report.data, report, zudUsbReportSize);
    if (posted_)
        return false; // the delivery under way takes this one too
    if (!inStream)
        return post(nowMicros, false);
    if (!holding_) {
        // A steady stream is handed over every holdMicros, counted from the
        // last delivery made for it, so that deliveries keep an even pace.
        holding_ = true;
        holdingSince_ =
            lastPostOnTime_ && nowMicros - lastPost_ < holdMicros_ ? lastPost_ : nowMicros;
    }
    return nowMicros - holdingSince_ >= holdMicros_ ? post(holdingSince_ + holdMicros_, true)
                                                    : false;
}

bool ReportBatch::addLoss(UsbDevice *device)
{
    QPointer<UsbDevice> pointer(device);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.emplace_back();
    entries_.back().device.swap(pointer);
    entries_.back().lost = true;
    return post(0, false);
}

bool ReportBatch::due(uint64_t nowMicros)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_ && nowMicros - holdingSince_ >= holdMicros_ &&
           post(holdingSince_ + holdMicros_, true);
}

bool ReportBatch::flush()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_ && post(0, false);
}

int ReportBatch::millisUntilDue(uint64_t nowMicros) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!holding_)
        return -1;
    const uint64_t waited = nowMicros - holdingSince_;
    if (waited >= holdMicros_)
        return 0;
    return int((holdMicros_ - waited + 999) / 1000);
}

void ReportBatch::takeAll(std::vector<Entry> &into)
{
    into.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    into.swap(entries_);
    posted_ = false;
    holding_ = false;
}

void ReportBatch::clear()
{
    std::vector<Entry> dropped;
    takeAll(dropped);
}
