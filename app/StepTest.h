// SPDX-License-Identifier: GPL-3.0-or-later
// The step test: a constant test force of a chosen level for a chosen time,
// for service and tuning. Whatever ends it (the time, the user, the device
// leaving or being deselected, the window closing) sends a test force of 0,
// twice if the first write fails; a release that still does not go out is
// announced by releaseFailed at once.
#pragma once

#include <QObject>
#include <QTimer>

class UsbDeviceZudWheelBase;

class StepTest : public QObject {
    Q_OBJECT

public:
    static constexpr int minLevelPercent = 1;
    static constexpr int maxLevelPercent = 30;
    static constexpr int minDurationMs = 100;
    static constexpr int maxDurationMs = 3000;

    explicit StepTest(QObject *parent = nullptr);
    // Releases a running test.
    ~StepTest() override;

    // The wheel base the test drives, or null. The caller sets it while the
    // device exists and clears it before the device may be deleted; a
    // running test is released on the device it ran on first.
    void setWheelBase(UsbDeviceZudWheelBase *wheelBase);
    UsbDeviceZudWheelBase *wheelBase() const { return wheelBase_; }

    // Applies levelPercent % of full force (sent as the fraction
    // levelPercent / 100, clamped to the limits above) for durationMs;
    // false without a wheel base.
    bool start(int levelPercent, int durationMs);
    bool isRunning() const { return running_; }

public slots:
    // Ends a running test with a test force of 0; nothing if none runs.
    void release();

signals:
    void started(int levelPercent, int durationMs);
    // The force was released; timeUp tells whether the time ran out.
    void released(bool timeUp);
    // The test force of 0 could not be written to the wheel base named
    // product: it may still apply the force.
    void releaseFailed(const QString &product);

private:
    void finish(bool timeUp);

    UsbDeviceZudWheelBase *wheelBase_ = nullptr;
    QTimer timer_;
    bool running_ = false;
};
