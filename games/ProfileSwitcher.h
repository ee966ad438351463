// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the profile named NAME current on a wheel base: it loads the table,
// changes only currentProfile, saves the table and reads it back to verify.
// It switches only when another profile is current, and sends nothing for a
// name that is not on the device. The table goes back as it was read, so no
// backup is written, except when the read-back differs: then the table read
// before the switch is kept as a backup with the reason "switch".
//
// Asynchronous: start() returns at once and finished() tells the outcome
// from the event loop. The device object may leave at any time; the switch
// then ends as failed.
#pragma once

#include "profiles/ProfileBackupStore.h"
#include "profiles/ProfileFile.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class UsbDevice;
class UsbDeviceZudWheelBase;

class ProfileSwitcher : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Switched,       // saved and verified
        AlreadyCurrent, // nothing was sent
        UnknownName,    // nothing was sent; names() lists the device's
        Failed,         // message() says at which step and why
        ReadBackDiffers // message() lists the differences and the backup
    };
    Q_ENUM(Outcome)

    explicit ProfileSwitcher(QObject *parent = nullptr);

    // Where a backup goes when the read-back differs; the user's data folder
    // by default.
    void setBackupStore(const ProfileBackupStore &store) { backups_ = store; }

    void start(UsbDeviceZudWheelBase *wheelBase, const QString &profileName);
    // The same by the profile's place in the table (the profile that was
    // current before a switch, when several share its name).
    void startAt(UsbDeviceZudWheelBase *wheelBase, int index);
    bool isRunning() const { return step_ != Step::Idle; }
    // Ends a switch under way as failed, with reason (the caller's time for
    // it ran out) after the step's name; finished() follows at once.
    void abort(const QString &reason);

    Outcome outcome() const { return outcome_; }
    QString message() const { return message_; }
    QStringList names() const { return names_; }          // the profile names on the device
    QString previousProfile() const { return previous_; } // current before the switch
    int previousIndex() const { return previousIndex_; }
    QString backupPath() const { return backupPath_; }

signals:
    // A new exchange with the device began (for a caller's reply clock).
    void stepStarted();
    void finished();

private:
    enum class Step { Idle, Loading, Saving, ReadingBack };
    void loaded(UsbDevice *device);
    void saved(UsbDevice *device);
    void refused(UsbDevice *device, const QString &text);
    void readBack();
    void finish(Outcome outcome, const QString &message = QString());
    QString stepName() const;

    QPointer<UsbDeviceZudWheelBase> device_;
    ProfileBackupStore backups_;
    void begin(UsbDeviceZudWheelBase *wheelBase);
    QString target_;
    int targetIndex_ = -1;
    int previousIndex_ = -1;
    Step step_ = Step::Idle;
    ProfileTable before_;
    ProfileTable sent_;
    int retryPolls_ = 0;
    Outcome outcome_ = Outcome::Failed;
    QString message_;
    QStringList names_;
    QString previous_;
    QString backupPath_;
    QList<QMetaObject::Connection> connections_;
};
