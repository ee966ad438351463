// SPDX-License-Identifier: GPL-3.0-or-later
// One channel of the scope: the samples of the visible window, and the
// envelope the plot draws from them.
//
// A kind 2 stream brings 11,000 samples a second per torque channel, far
// more than a plot has pixel columns. The envelope splits time into buckets
// (as wide as a pixel column of the plot) and keeps each bucket's lowest and
// highest sample, in the order they came: the line through these points
// covers every sample, which is what a plot shows of them at this density
// anyway, and it has two points per column to draw instead of hundreds.
#pragma once

#include "livedata/TelemetryRecorder.h"

#include <algorithm>
#include <deque>
#include <optional>

class ScopeTrace {
public:
    explicit ScopeTrace(double bucketSeconds = 0.001) : bucketSeconds_(bucketSeconds) {}

    double bucketSeconds() const { return bucketSeconds_; }
    // Sets the width of the buckets and builds the envelope of the samples
    // kept again.
    void setBucketSeconds(double seconds);
    void clear();

    // Takes the next sample; times never go back.
    void append(double time, float value);
    // Forgets the samples and points older than time.
    void dropBefore(double time);

    bool empty() const { return samples_.empty(); }
    double lastTime() const { return samples_.back().time; }
    // Every sample kept, oldest first.
    const std::deque<TelemetrySample> &samples() const { return samples_; }

    // The points of closed buckets, which no later sample changes, end at
    // this time (minus infinity when there are none).
    double settledUntil() const;
    // Calls point(time, value) for each point of the envelope after the
    // given time, oldest first.
    template <typename F> void forEachPointAfter(double time, F point) const;

private:
    struct Bucket {
        long long index;
        TelemetrySample low, high;
    };
    void settle(const Bucket &bucket);

    double bucketSeconds_ = 0;
    std::deque<TelemetrySample> samples_;
    std::deque<TelemetrySample> settled_;
    std::optional<Bucket> open_;
};

template <typename F> void ScopeTrace::forEachPointAfter(double time, F point) const
{
    auto it = std::upper_bound(settled_.begin(), settled_.end(), time,
                               [](double t, const TelemetrySample &s) { return t < s.time; });
    for (; it != settled_.end(); ++it)
        point(it->time, it->value);
    if (!open_)
        return;
    const TelemetrySample &first = open_->low.time <= open_->high.time ? open_->low : open_->high;
    const TelemetrySample &second = open_->low.time <= open_->high.time ? open_->high : open_->low;
    if (first.time > time)
        point(first.time, first.value);
    if (second.time != first.time && second.time > time)
        point(second.time, second.value);
}
