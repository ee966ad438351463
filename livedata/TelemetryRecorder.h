// SPDX-License-Identifier: GPL-3.0-or-later
// The telemetry recorder: every joystick update of a wheel base, kept per
// channel with its time for the last minute. It takes the updates straight
// from the device's signal, ahead of the live view's throttle, so nothing
// the device sends is left out. No widgets: the scope page and the
// benchmarks read it.
#pragma once

#include "devices/ZudUsbReports.h"

#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

class UsbDevice;

enum class TelemetryChannel {
    Steering, // degrees, every kind
    FfbIn,    // kind 1
    FfbOut,
    MotorAngle,
    TorqueIn, // kind 2, percent
    TorqueOut,
    TorqueActual,
    RotorPos,
    MechAngle, // kind 3
    ElAngle,
    PwmU,
    PwmV,
    PwmW,
    HallU,
    HallV,
    HallW,
    HallPsu,
};
constexpr int telemetryChannelCount = int(TelemetryChannel::HallPsu) + 1;

struct TelemetryChannelInfo {
    const char *name; // as in legends and CSV headers
    const char *unit;
    int kind; // updateKind that carries it; 0: every kind
};
const TelemetryChannelInfo &telemetryChannelInfo(TelemetryChannel channel);
// The channels an update of this kind carries, steering first.
std::vector<TelemetryChannel> telemetryChannelsOfKind(int kind);
// The output channel whose clipping is watched: ffbOut for kind 1, torqueOut
// for kind 2; none (-1) otherwise.
int telemetryOutputChannel(int kind);

struct TelemetrySample {
    double time; // seconds since the recorder's origin
    float value;
};

// The samples of one channel, oldest first, in a ring that grows as needed
// up to a fixed capacity; beyond it the oldest sample is overwritten (and
// counted).
class TelemetryRing {
public:
    explicit TelemetryRing(size_t capacity = 0) : capacity_(capacity) {}
    void setCapacity(size_t capacity) { capacity_ = capacity; }
    void push(double time, float value);
    // Forgets the samples older than time.
    void dropBefore(double time);
    void clear();
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const TelemetrySample &at(size_t i) const { return buffer_[(head_ + i) % buffer_.size()]; }
    const TelemetrySample &back() const { return at(count_ - 1); }
    // Index of the first sample at or after time (size() when none).
    size_t lowerBound(double time) const;
    uint64_t overwritten() const { return overwritten_; }

private:
    std::vector<TelemetrySample> buffer_;
    size_t head_ = 0;
    size_t count_ = 0;
    size_t capacity_;
    uint64_t overwritten_ = 0;
};

struct TelemetryClipping {
    size_t samples = 0;
    size_t clipped = 0; // at or beyond +-100
    float peak = 0;     // largest magnitude
    double share() const { return samples ? double(clipped) / double(samples) : 0.0; }
};

class TelemetryRecorder : public QObject {
    Q_OBJECT

public:
    // How long samples are kept.
    static constexpr double keepSeconds = 60.0;
    // Reports per second the ring capacities are sized for: twice the rate a
    // wheel base sends. Beyond it the oldest samples give way.
    static constexpr int maxReportRate = 2000;

    explicit TelemetryRecorder(QObject *parent = nullptr);

    // Records one update; rotationDegrees is the range of the current profile
    // (the steering channel is the rim's angle).
    void record(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros,
                int32_t rotationDegrees);
    // Forgets every sample and starts a new time origin (a new device).
    void clear();

    const TelemetryRing &channel(TelemetryChannel c) const { return rings_[int(c)]; }
    // updateKind of the last update, 0 before any.
    int kind() const { return kind_; }
    // The time of the newest update, seconds since the origin.
    double latestTime() const { return latest_; }
    uint64_t originMicros() const { return originMicros_; }
    uint64_t reportsReceived() const { return reportsReceived_; }
    uint64_t samplesReceived() const { return samplesReceived_; }
    // Samples overwritten before they were keepSeconds old.
    uint64_t samplesLost() const;
    uint64_t samplesKept() const { return samplesReceived_ - samplesLost(); }

    // The output channel of the current kind over the last seconds.
    TelemetryClipping clipping(double seconds) const;

public slots:
    // Connected directly to a wheel base's onJoystickUpdate; the rotation
    // range comes from that device's current profile.
    void onJoystickUpdate(UsbDevice *device, ZudUsbWheelBaseJoystickUpdate *update,
                          uint64_t readTimeMicros);

private:
    void push(TelemetryChannel c, double time, float value);

    TelemetryRing rings_[telemetryChannelCount];
    int kind_ = 0;
    bool started_ = false;
    uint64_t originMicros_ = 0;
    uint64_t lastReadMicros_ = 0;
    double latest_ = 0;
    float latchedTorqueIn_ = 0.0f;
    uint64_t reportsReceived_ = 0;
    uint64_t samplesReceived_ = 0;
};
