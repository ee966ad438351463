// SPDX-License-Identifier: GPL-3.0-or-later
// Safety copies of wheel base profile tables, taken before anything that
// overwrites or drops them, kept per device in the user's data folder.
#pragma once

#include "profiles/ProfileFile.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class UsbDevice;

struct ProfileBackup {
    QString path;          // the backup file
    QDateTime time;        // local time from its name
    QString reason;        // "save", "factory-defaults", "bootloader", "import", "unsaved", ...
    int profileCount = -1; // -1 when the file cannot be read
    qint64 number = 0;     // its place in the order written; 0 for a name without one
};

// Backups live under <root>/<device folder>/<n>-<yyyy-MM-dd-hh-mm-ss>-<reason>.json,
// n being one more than the highest number in the folder (six digits at
// least). The number, not the time, orders them, so that a clock set back
// never makes the newest backup look the oldest. Names without a number,
// <yyyy-MM-dd-hh-mm-ss>-<reason>[.<k>].json as earlier versions wrote them,
// are still listed, ordered by their time, and count as older than every
// numbered one. The newest 50 are kept per device. root defaults to the
// application's data folder + "/backups".
class ProfileBackupStore {
public:
    static constexpr int keptPerDevice = 50;

    explicit ProfileBackupStore(QString root = QString());
    QString root() const;

    // A device's folder name: its HID serial number when it has one,
    // otherwise its vendor id, product id and product string
    // ("0483-a355-ZUD_Wheel_Base"), which stay the same on another port.
    // Characters that do not belong in a file name become '_'; a serial
    // number changed that way (or shortened) gets a hash of itself added,
    // so that two serial numbers never share a folder.
    static QString deviceFolder(const UsbDevice &device);
    static QString deviceFolder(const QString &serial, quint16 vendorId, quint16 productId,
                                const QString &product);
    // The folders that earlier versions kept the device's backups in, where
    // they differ from deviceFolder: the serial number made safe without the
    // hash, or, without a serial number, every "<product>-<interface path>"
    // folder of the product string. They are listed, never written to.
    QStringList formerFolders(const UsbDevice &device) const;
    QStringList formerFolders(const QString &serial, const QString &product) const;

    // Writes one backup under a name no other backup has (never replacing a
    // file, also one that another program creates at the same moment), then
    // removes the oldest beyond the newest 50, never the one just written;
    // returns its path, or an empty string and error.
    QString write(const QString &deviceFolder, const ProfileTable &table, const QString &reason,
                  QString &error);
    // The device's backups, newest first; with those of formerFolders after
    // the numbered ones.
    QList<ProfileBackup> list(const QString &deviceFolder,
                              const QStringList &formerFolders = QStringList()) const;

    // The clock that names backups (local time); for tests.
    void setClock(std::function<QDateTime()> clock);

private:
    QString folderPath(const QString &deviceFolder) const;

    QString root_;
    std::function<QDateTime()> clock_;
};
