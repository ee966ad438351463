// SPDX-License-Identifier: GPL-3.0-or-later
// Applies the game rules to the wheel bases a UsbManager has: every second it
// looks at the running processes (and rereads the rules file when it has
// changed), and when the rules choose another profile (a listed game starts
// or ends) it switches each wheel base with a ProfileSwitcher. A wheel base
// that arrives while a listed game runs gets that game's profile; at start,
// with no listed game running, the profiles are left as they are.
//
// Only one watcher switches at a time for a user: the first to take the
// watcher lock switches, another one stands by (standbyChanged tells who
// switches) and takes over when the lock comes free.
//
// A switch waits while the hold function says so (the window's unsaved
// edits) and while the wheel base has an exchange of this program under
// way. Shared by the window and the command line; Qt Core only.
#pragma once

#include "games/GameMatcher.h"
#include "games/GameRules.h"
#include "profiles/ProfileBackupStore.h"
#include "usb/DeviceLock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ProcessSource;
class ProfileSwitcher;
class UsbDevice;
class UsbDeviceZudWheelBase;
class UsbManager;

class GameWatcher : public QObject {
    Q_OBJECT

public:
    // source may be null: the running system's processes then (/proc, or a
    // Toolhelp snapshot on Windows). The watcher does not own source.
    explicit GameWatcher(UsbManager &manager, ProcessSource *source = nullptr,
                         QObject *parent = nullptr);
    ~GameWatcher() override;

    // Before start(). The rules file (gameRulesPath() by default), how often
    // the processes are looked at (1000 ms), the one wheel base to switch
    // (its interface path; all of them when empty), where a backup goes when
    // a read-back differs, and where the watcher lock lives (the device lock
    // folder by default).
    void setRulesPath(const QString &path) { rulesPath_ = path; }
    void setPollIntervalMs(int ms);
    void setDevicePath(const QString &path) { devicePath_ = path; }
    void setBackupStore(const ProfileBackupStore &store) { backups_ = store; }
    void setLockPath(const QString &path) { lockPath_ = path; }
    // How long one step of a switch may wait for the wheel base (25 s).
    void setStepTimeoutMs(int ms) { stepTimeoutMs_ = ms; }

    // true: this wheel base must not be switched now; the switch waits
    // (switchWaiting tells once) and runs when hold says false again, at the
    // next look or at recheck().
    void setHold(std::function<bool(const UsbDeviceZudWheelBase &)> hold)
    {
        hold_ = std::move(hold);
    }

    // Takes the watcher lock if it can, reads the rules and looks at once.
    void start();
    void stop();
    bool isRunning() const { return running_; }
    // Running, but another program holds the watcher lock.
    bool isStandingBy() const { return running_ && standingBy_; }
    QString otherWatcher() const { return otherWatcher_; }

    const GameRules &rules() const { return rules_; }
    // What the rules chose at the last look.
    GameChoice choice() const { return choice_; }
    // A wheel base with a switch waiting or under way.
    bool isPending(const UsbDeviceZudWheelBase &wheelBase) const;

public slots:
    // Looks at the rules file and the processes now.
    void poll();
    // Runs the switches that wait, now that a hold may have ended.
    void recheck();

signals:
    // The wheel base's current profile is now profile, saved and verified.
    // game is the game's name, empty when the default profile was applied.
    // The pointers in these signals are for the receiver's use during the
    // call only.
    void switched(UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game);
    // The switch did not happen (no profile of that name on the wheel base,
    // the wheel base did not answer, the read-back differed); message says
    // why and what became of the table.
    void switchFailed(UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game,
                      const QString &message);
    // A switch waits for the hold to end.
    void switchWaiting(UsbDeviceZudWheelBase *wheelBase, const QString &profile,
                       const QString &game);
    // The rules file was read again (rulesRefused: it is not valid; the rules
    // read before stay in force).
    void rulesLoaded();
    void rulesRefused(const QString &error);
    // standingBy: another program (holder, "zud-wheel (pid 4242)") switches;
    // false again once this watcher has taken over.
    void standbyChanged(bool standingBy, const QString &holder);

private:
    struct Target;
    void deviceConnected(UsbDevice *device);
    void deviceDisconnected(UsbDevice *device);
    bool wanted(UsbDevice *device) const;
    void track(UsbDeviceZudWheelBase *wheelBase);
    bool takeLock();
    void reloadRules();
    void schedule(Target &target);
    void startSwitch(Target &target);
    void switchEnded(Target &target);

    UsbManager &manager_;
    ProcessSource *source_ = nullptr;
    std::unique_ptr<ProcessSource> ownSource_;
    QString rulesPath_;
    QString devicePath_;
    QString lockPath_;
    ProfileBackupStore backups_;
    std::function<bool(const UsbDeviceZudWheelBase &)> hold_;
    std::unique_ptr<DeviceLock> lock_;
    bool standingBy_ = false;
    QString otherWatcher_;
    QTimer pollTimer_;
    int stepTimeoutMs_ = 25000;
    bool running_ = false;
    // The first look after start (or after taking over from another
    // watcher) switches only for a listed game that runs.
    bool firstLook_ = true;

    GameRules rules_;
    // Unset until the first look has read the file (or found none).
    std::optional<GameRulesStamp> rulesStamp_;
    GameChoice choice_;

    std::vector<std::unique_ptr<Target>> targets_;
};
