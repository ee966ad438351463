// Safety copies of wheel base profile tables, taken before anything that
// overwrites or drops them, kept per device in the user's data folder.
#pragma once

#include "profiles/ProfileFile.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>

class UsbDevice;

struct ProfileBackup {
    QString path;          // the backup file
    QDateTime time;        // local time from its name
    QString reason;        // "save", "factory-defaults", "bootloader", "import", "unsaved", ...
    int profileCount = -1; // -1 when the file cannot be read
};

// Backups live under <root>/<device folder>/<yyyy-MM-dd-hh-mm-ss>-<reason>.json
// (a second backup with the same name in the same second gets ".2", ".3", ...
// before ".json"); the newest 50 are kept per device. root defaults to
// the application's data folder + "/backups".
class ProfileBackupStore {
public:
    static constexpr int keptPerDevice = 50;

    explicit ProfileBackupStore(QString root = QString());
    QString root() const;

    // A device's folder name: its HID serial number when it has one,
    // otherwise its product string and interface path, made safe as a file
    // name.
    static QString deviceFolder(const UsbDevice &device);
    static QString deviceFolder(const QString &serial, const QString &product, const QString &path);

    // Writes one backup and removes the oldest beyond the newest 50; returns
    // its path, or an empty string and error.
    QString write(const QString &deviceFolder, const ProfileTable &table, const QString &reason,
                  QString &error);
    // The device's backups, newest first.
    QList<ProfileBackup> list(const QString &deviceFolder) const;

    // The clock that names backups (local time); for tests.
    void setClock(std::function<QDateTime()> clock);

private:
    QString root_;
    std::function<QDateTime()> clock_;
};
