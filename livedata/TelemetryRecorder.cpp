// SPDX-License-Identifier: GPL-3.0-or-later
#include "livedata/TelemetryRecorder.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/CsvLog.h"
#include "livedata/LiveViewMath.h"

#include <algorithm>
#include <cmath>

namespace {

const TelemetryChannelInfo channelInfos[telemetryChannelCount] = {
    {"Steering", "deg", 0},    {"FFB In", "", 1},     {"FFB Out", "", 1},
    {"Motor Angle", "deg", 1}, {"Torque In", "%", 2}, {"Torque Out", "%", 2},
    {"Torque Actual", "%", 2}, {"Rotor Pos", "", 2},  {"Mech Angle", "rad", 3},
    {"El Angle", "rad", 3},    {"PWM U", "", 3},      {"PWM V", "", 3},
    {"PWM W", "", 3},          {"Hall U", "", 3},     {"Hall V", "", 3},
    {"Hall W", "", 3},         {"Hall PSU", "V", 3},
};

// Samples of one report are spread over the time since the previous report;
// after a pause longer than this (or for the first report) over the nominal
// report interval of one millisecond instead.
constexpr uint64_t longestReportGapMicros = 20000;
constexpr uint64_t nominalReportMicros = 1000;

} // namespace

const TelemetryChannelInfo &telemetryChannelInfo(TelemetryChannel channel)
{
    return channelInfos[int(channel)];
}

std::vector<TelemetryChannel> telemetryChannelsOfKind(int kind)
{
    std::vector<TelemetryChannel> channels;
    for (int c = 0; c < telemetryChannelCount; ++c)
        if (channelInfos[c].kind == 0 || channelInfos[c].kind == kind)
            channels.push_back(TelemetryChannel(c));
    return channels;
}

int telemetryOutputChannel(int kind)
{
    if (kind == 1)
        return int(TelemetryChannel::FfbOut);
    if (kind == 2)
        return int(TelemetryChannel::TorqueOut);
    return -1;
}

void TelemetryRing::push(double time, float value)
{
    if (count_ == buffer_.size()) {
        if (buffer_.size() < capacity_) {
            // Grow, unrolling the ring so that the oldest sample is first.
            std::vector<TelemetrySample> grown;
            grown.reserve(std::min(capacity_, std::max<size_t>(1024, buffer_.size() * 2)));
            for (size_t i = 0; i < count_; ++i)
                grown.push_back(at(i));
            grown.resize(grown.capacity());
            buffer_.swap(grown);
            head_ = 0;
        } else if (count_ > 0) {
            head_ = (head_ + 1) % buffer_.size();
            --count_;
            ++overwritten_;
        } else {
            return; // no capacity at all
        }
    }
    buffer_[(head_ + count_) % buffer_.size()] = {time, value};
    ++count_;
}

void TelemetryRing::dropBefore(double time)
{
    while (count_ > 0 && buffer_[head_].time < time) {
        head_ = (head_ + 1) % buffer_.size();
        --count_;
    }
}

void TelemetryRing::clear()
{
    buffer_.clear();
    buffer_.shrink_to_fit();
    head_ = 0;
    count_ = 0;
    overwritten_ = 0;
}

size_t TelemetryRing::lowerBound(double time) const
{
    size_t lo = 0, hi = count_;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (at(mid).time < time)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

TelemetryRecorder::TelemetryRecorder(QObject *parent) : QObject(parent)
{
    const size_t perReport = size_t(keepSeconds * maxReportRate);
    for (int c = 0; c < telemetryChannelCount; ++c) {
        const bool perSample = c == int(TelemetryChannel::TorqueIn) ||
                               c == int(TelemetryChannel::TorqueOut) ||
                               c == int(TelemetryChannel::TorqueActual);
        rings_[c].setCapacity(perSample ? perReport * zudMaxTorqueSamples : perReport);
    }
}

void TelemetryRecorder::clear()
{
    for (TelemetryRing &ring : rings_)
        ring.clear();
    kind_ = 0;
    started_ = false;
    originMicros_ = 0;
    lastReadMicros_ = 0;
    latest_ = 0;
    latchedTorqueIn_ = 0.0f;
    reportsReceived_ = 0;
    samplesReceived_ = 0;
}

uint64_t TelemetryRecorder::samplesLost() const
{
    uint64_t lost = 0;
    for (const TelemetryRing &ring : rings_)
        lost += ring.overwritten();
    return lost;
}

void TelemetryRecorder::onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                                         uint64_t readTimeMicros)
{
    int32_t range = 0;
    if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(device)) {
        const uint8_t current = wheelBase->currentProfile;
        if (current < maxProfiles)
            range = wheelBase->profiles[current].rotationDegrees.get();
    }
    record(*update, readTimeMicros, range);
}

void TelemetryRecorder::push(TelemetryChannel c, double time, float value)
{
    rings_[int(c)].push(time, value);
    ++samplesReceived_;
}

void TelemetryRecorder::record(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros,
                               int32_t rotationDegrees)
{
    if (!started_) {
        started_ = true;
        // The first report's samples lie within the millisecond before it.
        originMicros_ =
            readTimeMicros > nominalReportMicros ? readTimeMicros - nominalReportMicros : 0;
        lastReadMicros_ = originMicros_;
    }
    uint64_t gap = readTimeMicros - lastReadMicros_;
    if (readTimeMicros <= lastReadMicros_ || gap > longestReportGapMicros)
        gap = nominalReportMicros;
    lastReadMicros_ = readTimeMicros;
    ++reportsReceived_;

    // Times never go back, even if the wall clock does.
    const double time = std::max(latest_, double(int64_t(readTimeMicros - originMicros_)) * 1e-6);
    const double interval = double(gap) * 1e-6;
    latest_ = time;
    kind_ = update.updateKind;

    push(TelemetryChannel::Steering, time,
         float(wheelAngleDegrees(update.axisValue.get(), rotationDegrees)));
    switch (update.updateKind) {
    case 1: {
        const ZudUsbWheelBaseDebugOutput &d = update.debug;
        push(TelemetryChannel::FfbIn, time, d.ffbIn.get());
        push(TelemetryChannel::FfbOut, time, d.ffbOut.get());
        push(TelemetryChannel::MotorAngle, time, d.motorAngle.get());
        break;
    }
    case 2: {
        const ZudUsbWheelBaseTorqueSamples &t = update.torque;
        const int n = torqueSampleCount(t);
        for (int j = 0; j < n; ++j) {
            // Sample j of n at the (j + 1)-th n-th of the interval, the last
            // one at the report's own time.
            const double at = std::max(time - interval * double(n - 1 - j) / double(n),
                                       rings_[int(TelemetryChannel::TorqueOut)].empty()
                                           ? 0.0
                                           : rings_[int(TelemetryChannel::TorqueOut)].back().time);
            latchTorqueIn(t, j, latchedTorqueIn_);
            push(TelemetryChannel::TorqueIn, at, latchedTorqueIn_);
            push(TelemetryChannel::TorqueOut, at, torquePercent(t.torqueOut[j].get()));
            push(TelemetryChannel::TorqueActual, at, torquePercent(t.torqueActual[j].get()));
        }
        push(TelemetryChannel::RotorPos, time, t.rotorPos.get());
        break;
    }
    case 3: {
        const ZudUsbWheelBaseCommutation &c = update.commutation;
        push(TelemetryChannel::MechAngle, time, c.mechAngle.get());
        push(TelemetryChannel::ElAngle, time, c.elAngle.get());
        push(TelemetryChannel::PwmU, time, c.pwmU.get());
        push(TelemetryChannel::PwmV, time, c.pwmV.get());
        push(TelemetryChannel::PwmW, time, c.pwmW.get());
        push(TelemetryChannel::HallU, time, c.hallU.get());
        push(TelemetryChannel::HallV, time, c.hallV.get());
        push(TelemetryChannel::HallW, time, hallW(c.hallU.get(), c.hallV.get()));
        push(TelemetryChannel::HallPsu, time, c.hallPsu.get());
        break;
    }
    default:
        break;
    }

    const double oldest = time - keepSeconds;
    for (TelemetryRing &ring : rings_)
        ring.dropBefore(oldest);
}

TelemetryClipping TelemetryRecorder::clipping(double seconds) const
{
    TelemetryClipping result;
    const int c = telemetryOutputChannel(kind_);
    if (c < 0)
        return result;
    const TelemetryRing &ring = rings_[c];
    for (size_t i = ring.lowerBound(latest_ - seconds); i < ring.size(); ++i) {
        const float v = std::fabs(ring.at(i).value);
        ++result.samples;
        if (v >= 100.0f)
            ++result.clipped;
        result.peak = std::max(result.peak, v);
    }
    return result;
}
