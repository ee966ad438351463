// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/ProfileSwitcher.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <QTimer>

namespace {
// How often and how long the read-back waits for the end of a save still
// being repeated (a repeat goes out every 200 ms until any reply, which the
// closing report never gets): after a few repeats it goes ahead.
constexpr int retryPollMs = 20;
constexpr int retryPollLimit = 30;
} // namespace

ProfileSwitcher::ProfileSwitcher(QObject *parent) : QObject(parent) {}

void ProfileSwitcher::start(UsbDeviceZudWheelBase *wheelBase, const QString &profileName)
{
    if (step_ != Step::Idle || !wheelBase)
        return;
    target_ = profileName;
    targetIndex_ = -1;
    begin(wheelBase);
}

void ProfileSwitcher::startAt(UsbDeviceZudWheelBase *wheelBase, int index)
{
    if (step_ != Step::Idle || !wheelBase)
        return;
    target_.clear();
    targetIndex_ = index;
    begin(wheelBase);
}

void ProfileSwitcher::begin(UsbDeviceZudWheelBase *wheelBase)
{
    device_ = wheelBase;
    previousIndex_ = -1;
    message_.clear();
    names_.clear();
    previous_.clear();
    backupPath_.clear();
    connections_ = {
        // The table as received: what the window's editor writes back into
        // it when it fills its controls is no part of a switch.
        connect(wheelBase, &UsbDeviceZudWheelBase::onTableReceived, this, &ProfileSwitcher::loaded),
        connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsSaved, this, &ProfileSwitcher::saved),
        connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                &ProfileSwitcher::refused),
        connect(wheelBase, &UsbDevice::onBusy, this, &ProfileSwitcher::refused),
        connect(wheelBase, &QObject::destroyed, this,
                [this] { finish(Outcome::Failed, stepName() + tr(": the wheel base left")); }),
    };
    step_ = Step::Loading;
    emit stepStarted();
    wheelBase->loadSettings();
}

QString ProfileSwitcher::stepName() const
{
    switch (step_) {
    case Step::Saving:
        return tr("Saving the profiles");
    case Step::ReadingBack:
        return tr("Verifying the saved profiles");
    default:
        return tr("Loading the profiles");
    }
}

void ProfileSwitcher::loaded(UsbDevice *from)
{
    if (from != device_ || !device_)
        return;
    if (step_ == Step::Loading) {
        before_ = profileTableOf(*device_);
        int index = -1;
        for (int i = 0; i < before_.profiles.size(); ++i) {
            const QString name = profileDisplayName(before_.profiles.at(i));
            names_.append(name);
            if (index < 0 && (targetIndex_ < 0 ? name == target_ : i == targetIndex_))
                index = i;
        }
        previousIndex_ = before_.currentProfile;
        if (before_.currentProfile >= 0 && before_.currentProfile < names_.size())
            previous_ = names_.at(before_.currentProfile);
        if (index < 0) {
            finish(Outcome::UnknownName,
                   targetIndex_ < 0
                       ? tr("The wheel base has no profile named \"%1\".").arg(target_)
                       : tr("The wheel base has no profile number %1.").arg(targetIndex_));
            return;
        }
        if (index == before_.currentProfile) {
            finish(Outcome::AlreadyCurrent);
            return;
        }
        sent_ = before_;
        sent_.currentProfile = index;
        step_ = Step::Saving;
        emit stepStarted();
        // Not from inside the device's signal: the save starts a new
        // exchange. The table goes into the device object only then, after
        // the receivers of this load (the editor fills its controls from it
        // and writes them back) have had it as it was read.
        QTimer::singleShot(0, this, [this] {
            if (step_ != Step::Saving || !device_)
                return;
            applyProfileTable(sent_, *device_);
            device_->saveSettings();
        });
    } else if (step_ == Step::ReadingBack) {
        const QStringList differences = profileTableDifferences(sent_, profileTableOf(*device_));
        if (differences.isEmpty()) {
            finish(Outcome::Switched);
            return;
        }
        QString text = tr("%1: the device holds something else than was sent:\n  %2")
                           .arg(stepName(), differences.join(QStringLiteral("\n  ")));
        QString error;
        backupPath_ = backups_.write(ProfileBackupStore::deviceFolder(*device_), before_,
                                     QStringLiteral("switch"), error);
        if (backupPath_.isEmpty())
            text +=
                tr("\nThe table before the switch could not be kept as a backup: %1").arg(error);
        else
            text += tr("\nIts table before the switch is in %1.").arg(backupPath_);
        finish(Outcome::ReadBackDiffers, text);
    }
}

void ProfileSwitcher::saved(UsbDevice *from)
{
    // A device may confirm the end of a save twice; the read-back runs once.
    if (from != device_ || step_ != Step::Saving)
        return;
    step_ = Step::ReadingBack;
    retryPolls_ = 0;
    emit stepStarted();
    QTimer::singleShot(0, this, &ProfileSwitcher::readBack);
}

void ProfileSwitcher::readBack()
{
    if (step_ != Step::ReadingBack || !device_)
        return;
    if (device_->isRetryArmed() && ++retryPolls_ < retryPollLimit) {
        QTimer::singleShot(retryPollMs, this, &ProfileSwitcher::readBack);
        return;
    }
    device_->loadSettings();
}

void ProfileSwitcher::refused(UsbDevice *from, const QString &text)
{
    if (from != device_ || step_ == Step::Idle)
        return;
    QString what = text.trimmed();
    if (what.endsWith(QLatin1Char('.')))
        what.chop(1);
    finish(Outcome::Failed, tr("%1: %2").arg(stepName(), what));
}

void ProfileSwitcher::abort(const QString &reason)
{
    if (step_ != Step::Idle)
        finish(Outcome::Failed, tr("%1: %2").arg(stepName(), reason));
}

void ProfileSwitcher::finish(Outcome outcome, const QString &message)
{
    if (step_ == Step::Idle)
        return;
    for (const QMetaObject::Connection &connection : qAsConst(connections_))
        disconnect(connection);
    connections_.clear();
    step_ = Step::Idle;
    outcome_ = outcome;
    message_ = message;
    emit finished();
}
