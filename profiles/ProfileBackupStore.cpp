#include "profiles/ProfileBackupStore.h"

#include "usb/UsbDevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

namespace {

const char *const timeFormat = "yyyy-MM-dd-hh-mm-ss";

// <time>-<reason>[.<n>].json
const QRegularExpression &backupName()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{2})-([a-z0-9-]+?)(?:\\.(\\d+))?\\.json$"));
    return pattern;
}

// Letters, digits, '-', '_' and '.' stay; everything else becomes '_'.
QString safeName(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.');
        safe += plain ? c : QLatin1Char('_');
    }
    // Never "", "." or ".." (or a hidden name), and short enough for any
    // file system.
    while (safe.startsWith(QLatin1Char('.')))
        safe[0] = QLatin1Char('_');
    if (safe.isEmpty())
        safe = QStringLiteral("unknown-device");
    return safe.left(120);
}

QString safeReason(const QString &reason)
{
    QString safe;
    for (const QChar c : reason.toLower())
        safe += (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                    ? c
                    : QLatin1Char('-');
    return safe.isEmpty() ? QStringLiteral("backup") : safe.left(40);
}

struct Entry {
    ProfileBackup backup;
    int sequence = 1;
    QDateTime modified;
};

} // namespace

ProfileBackupStore::ProfileBackupStore(QString root)
    : root_(root.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                                 QStringLiteral("/backups")
                           : std::move(root)),
      clock_([] { return QDateTime::currentDateTime(); })
{
}

QString ProfileBackupStore::root() const
{
    return root_;
}

void ProfileBackupStore::setClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

QString ProfileBackupStore::deviceFolder(const UsbDevice &device)
{
    return deviceFolder(device.getSerialNumber(), device.getProductString(), device.getId());
}

QString ProfileBackupStore::deviceFolder(const QString &serial, const QString &product,
                                         const QString &path)
{
    if (!serial.trimmed().isEmpty())
        return safeName(serial.trimmed());
    return safeName(product + QLatin1Char('-') + path);
}

QString ProfileBackupStore::write(const QString &deviceFolder, const ProfileTable &table,
                                  const QString &reason, QString &error)
{
    const QString folder = root_ + QLatin1Char('/') + safeName(deviceFolder);
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("Cannot create the backup folder \"%1\".")
                    .arg(QDir::toNativeSeparators(folder));
        return QString();
    }
    const QString stamp = clock_().toString(QLatin1String(timeFormat));
    const QString stem = stamp + QLatin1Char('-') + safeReason(reason);
    QString path = folder + QLatin1Char('/') + stem + QStringLiteral(".json");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder + QLatin1Char('/') + stem + QStringLiteral(".%1.json").arg(n);
    // Backups of the same second are told apart by their modification times.
    // The file system's clock is coarse (a few milliseconds), so two backups
    // written in a row may get the same time: the newest is then dated just
    // after the one before it, so that the order of the list and the choice
    // of the oldest to remove stay exact.
    QDateTime newestOfSecond;
    const QFileInfoList sameSecond =
        QDir(folder).entryInfoList(QStringList() << stamp + QStringLiteral("-*.json"), QDir::Files);
    for (const QFileInfo &info : sameSecond)
        if (!newestOfSecond.isValid() || info.lastModified() > newestOfSecond)
            newestOfSecond = info.lastModified();
    if (!writeProfileFile(path, table, error))
        return QString();
    if (newestOfSecond.isValid() && QFileInfo(path).lastModified() <= newestOfSecond) {
        QFile written(path);
        if (written.open(QIODevice::ReadWrite))
            written.setFileTime(newestOfSecond.addMSecs(1), QFileDevice::FileModificationTime);
    }

    const QList<ProfileBackup> backups = list(deviceFolder);
    for (int i = keptPerDevice; i < backups.size(); ++i)
        if (backups[i].path != path)
            QFile::remove(backups[i].path);
    return path;
}

QList<ProfileBackup> ProfileBackupStore::list(const QString &deviceFolder) const
{
    const QDir dir(root_ + QLatin1Char('/') + safeName(deviceFolder));
    QVector<Entry> entries;
    const QFileInfoList files =
        dir.entryInfoList(QStringList() << QStringLiteral("*.json"), QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        const QRegularExpressionMatch match = backupName().match(info.fileName());
        if (!match.hasMatch())
            continue;
        Entry entry;
        entry.backup.path = info.absoluteFilePath();
        entry.backup.time = QDateTime::fromString(match.captured(1), QLatin1String(timeFormat));
        entry.backup.reason = match.captured(2);
        entry.sequence = match.captured(3).isEmpty() ? 1 : match.captured(3).toInt();
        entry.modified = info.lastModified();
        ProfileTable table;
        QString error;
        entry.backup.profileCount =
            readProfileFile(entry.backup.path, table, error) ? table.profiles.size() : -1;
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.backup.time != b.backup.time)
            return a.backup.time > b.backup.time;
        if (a.modified != b.modified)
            return a.modified > b.modified;
        if (a.sequence != b.sequence)
            return a.sequence > b.sequence;
        return a.backup.path > b.backup.path;
    });
    QList<ProfileBackup> backups;
    for (const Entry &entry : entries)
        backups.append(entry.backup);
    return backups;
}
