// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/GameWatcher.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "games/ProcessSource.h"
#include "games/ProfileSwitcher.h"
#include "usb/UsbManager.h"

#include <QDeadlineTimer>

namespace {
// A switch that failed (the wheel base was busy or did not answer) is tried
// again after a pause, a few times, before it is reported.
constexpr int retryPauseMs = 5000;
constexpr int attemptsBeforeReport = 3;
} // namespace

struct GameWatcher::Target {
    QPointer<UsbDeviceZudWheelBase> device;
    // The switch the rules ask for and that has not run yet.
    bool pending = false;
    QString profile;
    QString game;
    bool waitAnnounced = false;
    int attempts = 0;
    QDeadlineTimer retryAt{0};
    std::unique_ptr<ProfileSwitcher> switcher;
    // What the switch under way was started for (the rules may have chosen
    // something else meanwhile).
    QString switchingTo;
    QString switchingFor;
    QTimer stepClock;
};

GameWatcher::GameWatcher(UsbManager &manager, ProcessSource *source, QObject *parent)
    : QObject(parent), manager_(manager), source_(source), rulesPath_(gameRulesPath()),
      lockPath_(DeviceLock::lockDirectory() + QStringLiteral("/game-watcher.lock"))
{
    if (!source_) {
        ownSource_ = systemProcessSource();
        source_ = ownSource_.get();
    }
    pollTimer_.setInterval(1000);
    connect(&pollTimer_, &QTimer::timeout, this, &GameWatcher::poll);
    connect(&manager_, &UsbManager::onDeviceConnected, this, &GameWatcher::deviceConnected);
    connect(&manager_, &UsbManager::onDeviceDisconnected, this, &GameWatcher::deviceDisconnected);
}

GameWatcher::~GameWatcher()
{
    stop();
}

void GameWatcher::setPollIntervalMs(int ms)
{
    pollTimer_.setInterval(ms);
}

bool GameWatcher::isPending(const UsbDeviceZudWheelBase &wheelBase) const
{
    for (const auto &target : targets_)
        if (target->device == &wheelBase)
            return target->pending || target->switcher;
    return false;
}

void GameWatcher::start()
{
    if (running_)
        return;
    running_ = true;
    firstLook_ = true;
    standingBy_ = false;
    for (UsbDevice *device : manager_.getDevices())
        deviceConnected(device);
    poll();
    pollTimer_.start();
}

void GameWatcher::stop()
{
    if (!running_)
        return;
    running_ = false;
    pollTimer_.stop();
    // Destroying a switcher cuts it off from the wheel base; what it sent
    // last is answered to nobody.
    targets_.clear();
    if (lock_)
        lock_->unlock();
    lock_.reset();
    if (standingBy_) {
        standingBy_ = false;
        otherWatcher_.clear();
    }
}

bool GameWatcher::wanted(UsbDevice *device) const
{
    return qobject_cast<UsbDeviceZudWheelBase *>(device) &&
           (devicePath_.isEmpty() || device->getId() == devicePath_);
}

void GameWatcher::deviceConnected(UsbDevice *device)
{
    if (!running_ || !wanted(device))
        return;
    auto *wheelBase = static_cast<UsbDeviceZudWheelBase *>(device);
    for (const auto &target : targets_)
        if (target->device == wheelBase)
            return;
    track(wheelBase);
}

void GameWatcher::track(UsbDeviceZudWheelBase *wheelBase)
{
    auto target = std::make_unique<Target>();
    target->device = wheelBase;
    target->stepClock.setSingleShot(true);
    target->stepClock.setInterval(stepTimeoutMs_);
    Target *raw = target.get();
    connect(&target->stepClock, &QTimer::timeout, this, [this, raw] {
        if (raw->switcher)
            raw->switcher->abort(
                tr("the wheel base did not answer within %1 s").arg(stepTimeoutMs_ / 1000.0));
    });
    // A wheel base that arrives while a listed game runs gets its profile,
    // at the next look: the program may be busy with the newcomer first.
    if (!firstLook_ && choice_.switches && !choice_.game.isEmpty()) {
        target->pending = true;
        target->profile = choice_.profile;
        target->game = choice_.game;
    }
    targets_.push_back(std::move(target));
}

void GameWatcher::deviceDisconnected(UsbDevice *device)
{
    for (auto it = targets_.begin(); it != targets_.end(); ++it) {
        if ((*it)->device == device) {
            targets_.erase(it);
            return;
        }
    }
}

bool GameWatcher::takeLock()
{
    if (!lock_)
        lock_ = std::make_unique<DeviceLock>(lockPath_);
    if (lock_->isLocked())
        return true;
    if (lock_->tryLock(tr("switches profiles"))) {
        if (standingBy_) {
            standingBy_ = false;
            otherWatcher_.clear();
            firstLook_ = true;
            emit standbyChanged(false, QString());
        }
        return true;
    }
    // Where no lock can be written, no other watcher can hold one either.
    if (!lock_->error().isEmpty())
        return true;
    const QString holder = lock_->holder();
    if (!standingBy_ || holder != otherWatcher_) {
        standingBy_ = true;
        otherWatcher_ = holder;
        emit standbyChanged(true, holder);
    }
    return false;
}

void GameWatcher::reloadRules()
{
    const GameRulesStamp stamp = GameRulesStamp::of(rulesPath_);
    if (rulesStamp_ && *rulesStamp_ == stamp)
        return;
    rulesStamp_ = stamp;
    if (!stamp.exists) {
        rules_ = GameRules();
        emit rulesLoaded();
        return;
    }
    GameRules rules;
    QString error;
    if (!readGameRulesFile(rulesPath_, rules, error)) {
        emit rulesRefused(error);
        return;
    }
    rules_ = rules;
    emit rulesLoaded();
}

void GameWatcher::poll()
{
    if (!running_ || !takeLock())
        return;
    reloadRules();
    GameChoice choice;
    // Nothing to look for: the processes are not read.
    if (rules_.enabled && source_ && (!rules_.games.isEmpty() || !rules_.defaultProfile.isEmpty()))
        choice = chooseProfile(rules_, source_->processes());
    const bool changed = firstLook_ || choice.switches != choice_.switches ||
                         choice.profile != choice_.profile || choice.game != choice_.game;
    if (changed) {
        const bool first = firstLook_;
        firstLook_ = false;
        choice_ = choice;
        for (const auto &target : targets_) {
            target->pending = choice.switches && (!first || !choice.game.isEmpty());
            target->profile = choice.profile;
            target->game = choice.game;
            target->waitAnnounced = false;
            target->attempts = 0;
            target->retryAt = QDeadlineTimer(0);
        }
    }
    recheck();
}

void GameWatcher::recheck()
{
    if (!running_ || standingBy_)
        return;
    for (const auto &target : targets_)
        schedule(*target);
}

void GameWatcher::schedule(Target &target)
{
    if (!target.pending || target.switcher || !target.device || !target.retryAt.hasExpired())
        return;
    UsbDeviceZudWheelBase &wheelBase = *target.device;
    if (hold_ && hold_(wheelBase)) {
        if (!target.waitAnnounced) {
            target.waitAnnounced = true;
            emit switchWaiting(&wheelBase, target.profile, target.game);
        }
        return;
    }
    // This program talks with the wheel base now; the next look tries again.
    if (wheelBase.holdsTurn() || wheelBase.isWaitingForTurn())
        return;
    startSwitch(target);
}

void GameWatcher::startSwitch(Target &target)
{
    target.pending = false;
    target.switchingTo = target.profile;
    target.switchingFor = target.game;
    target.switcher = std::make_unique<ProfileSwitcher>();
    target.switcher->setBackupStore(backups_);
    Target *raw = &target;
    connect(target.switcher.get(), &ProfileSwitcher::stepStarted, &target.stepClock,
            qOverload<>(&QTimer::start));
    // finished comes from inside the wheel base's signal: the outcome is
    // handled, and the switcher dropped, once that call has returned.
    // The switcher is the context, so that a switch dropped with its wheel
    // base is not handled after all.
    connect(
        target.switcher.get(), &ProfileSwitcher::finished, target.switcher.get(),
        [this, raw] { switchEnded(*raw); }, Qt::QueuedConnection);
    target.switcher->start(target.device, target.profile);
}

void GameWatcher::switchEnded(Target &target)
{
    target.stepClock.stop();
    if (!target.switcher || target.switcher->isRunning())
        return;
    // This runs in a call to the switcher: it goes once that has returned.
    ProfileSwitcher *switcher = target.switcher.release();
    switcher->deleteLater();
    if (!target.device)
        return;
    UsbDeviceZudWheelBase *wheelBase = target.device;
    switch (switcher->outcome()) {
    case ProfileSwitcher::Outcome::Switched:
        emit switched(wheelBase, target.switchingTo, target.switchingFor);
        break;
    case ProfileSwitcher::Outcome::AlreadyCurrent:
        break;
    case ProfileSwitcher::Outcome::UnknownName:
        emit switchFailed(wheelBase, target.switchingTo, target.switchingFor,
                          tr("The wheel base has no profile named \"%1\"; the rule is skipped.")
                              .arg(target.switchingTo));
        break;
    case ProfileSwitcher::Outcome::ReadBackDiffers:
        emit switchFailed(wheelBase, target.switchingTo, target.switchingFor, switcher->message());
        break;
    case ProfileSwitcher::Outcome::Failed:
        // Busy with another program, or no answer: again after a pause,
        // unless the rules have chosen something else meanwhile.
        if (target.pending) {
            // Something else is asked for by now.
        } else if (++target.attempts < attemptsBeforeReport) {
            target.pending = true;
            target.retryAt = QDeadlineTimer(retryPauseMs);
        } else {
            emit switchFailed(
                wheelBase, target.switchingTo, target.switchingFor,
                tr("%1 (tried %2 times).").arg(switcher->message()).arg(attemptsBeforeReport));
        }
        break;
    }
}
