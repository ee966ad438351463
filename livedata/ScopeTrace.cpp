// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata/ScopeTrace.h"

#include <cmath>
#include <limits>

void ScopeTrace::setBucketSeconds(double seconds)
{
    bucketSeconds_ = seconds;
    std::deque<TelemetrySample> samples;
    samples.swap(samples_);
    clear();
    for (const TelemetrySample &sample : samples)
        append(sample.time, sample.value);
}

void ScopeTrace::clear()
{
    samples_.clear();
    settled_.clear();
    open_.reset();
}

void ScopeTrace::settle(const Bucket &bucket)
{
    const bool lowFirst = bucket.low.time <= bucket.high.time;
    settled_.push_back(lowFirst ? bucket.low : bucket.high);
    if (bucket.low.time != bucket.high.time)
        settled_.push_back(lowFirst ? bucket.high : bucket.low);
}

void ScopeTrace::append(double time, float value)
{
    const TelemetrySample sample{time, value};
    samples_.push_back(sample);
    const auto index = static_cast<long long>(std::floor(time / bucketSeconds_));
    if (open_ && open_->index == index) {
        // Ties keep the earlier sample: the envelope does not move for them.
        if (value < open_->low.value)
            open_->low = sample;
        if (value > open_->high.value)
            open_->high = sample;
        return;
    }
    if (open_)
        settle(*open_);
    open_ = Bucket{index, sample, sample};
}

void ScopeTrace::dropBefore(double time)
{
    while (!samples_.empty() && samples_.front().time < time)
        samples_.pop_front();
    while (!settled_.empty() && settled_.front().time < time)
        settled_.pop_front();
    if (samples_.empty())
        open_.reset();
}

double ScopeTrace::settledUntil() const
{
    return settled_.empty() ? -std::numeric_limits<double>::infinity() : settled_.back().time;
}
