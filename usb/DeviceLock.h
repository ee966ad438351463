// SPDX-License-Identifier: GPL-3.0-or-later
// The lock that lets the programs of this tool (the window, zud-wheel, a game
// watcher) take turns with one device: every program reads every reply of a
// device it has open, so two exchanges at once would mix. One lock file per
// device under $XDG_RUNTIME_DIR/zud-wheel-tool/ (the temporary folder where
// that is unset, %TEMP% on Windows), held for one exchange only. A lock left
// by a program that died is taken over.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

class DeviceLock {
public:
    // The lock of the device known by this serial number, or, when it has
    // none, by its vendor id, product id and interface path.
    DeviceLock(const QString &serialNumber, int vendorId, int productId, const QString &path);
    // A lock of the same kind named by its file, for something other than a
    // device (the game watcher's, which one program of a user holds while it
    // switches profiles).
    explicit DeviceLock(QString filePath) : path_(std::move(filePath)) {}

    static QString lockDirectory();
    // A file name that stands for one device and nothing else.
    static QString lockName(const QString &serialNumber, int vendorId, int productId,
                            const QString &path);

    // Takes the lock without waiting; `activity` ("is saving its profiles")
    // tells another program what the holder does. False when another holder
    // has it or the folder cannot be written.
    bool tryLock(const QString &activity);
    void unlock();
    bool isLocked() const { return lock_ && lock_->isLocked(); }

    // "ZUD_wheel_tool (pid 4242) is saving its profiles", as far as the
    // holder is known.
    QString holder() const;
    // Why the last tryLock failed other than by a holder, or empty.
    QString error() const { return error_; }
    QString filePath() const { return path_; }

private:
    QString path_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
};
