// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StepTest.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <algorithm>

StepTest::StepTest(QObject *parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { finish(true); });
}

StepTest::~StepTest()
{
    release();
}

void StepTest::setWheelBase(UsbDeviceZudWheelBase *wheelBase)
{
    if (wheelBase == wheelBase_)
        return;
    release();
    wheelBase_ = wheelBase;
}

bool StepTest::start(int levelPercent, int durationMs)
{
    if (!wheelBase_)
        return false;
    levelPercent = std::clamp(levelPercent, minLevelPercent, maxLevelPercent);
    durationMs = std::clamp(durationMs, minDurationMs, maxDurationMs);
    // A fraction of full force: never more than the user chose, whatever
    // scale the device applies to it.
    wheelBase_->sendTestForceCommand(float(levelPercent) / 100.0f);
    running_ = true;
    timer_.start(durationMs);
    emit started(levelPercent, durationMs);
    return true;
}

void StepTest::release()
{
    if (running_)
        finish(false);
}

void StepTest::finish(bool timeUp)
{
    timer_.stop();
    running_ = false;
    // One failed write may be a passing hiccup; the second is not.
    const bool sent = !wheelBase_ || wheelBase_->sendTestForceCommand(0.0f) ||
                      wheelBase_->sendTestForceCommand(0.0f);
    if (!sent)
        emit releaseFailed(wheelBase_->getProductString());
    emit released(timeUp);
}
