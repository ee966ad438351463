// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/ProfileBackupStore.h"

#include "usb/UsbDevice.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

namespace {

const char *const timeFormat = "yyyy-MM-dd-hh-mm-ss";
constexpr int numberDigits = 6;

// <n>-<time>-<reason>.json
const QRegularExpression &numberedName()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{6,18})-(\\d{4}-\\d{2}-\\d{2}-\\d{2}-\\d{2}-\\d{2})-([a-z0-9-]+)\\.json$"));
    return pattern;
}

// <time>-<reason>[.<k>].json, as earlier versions named backups.
const QRegularExpression &unnumberedName()
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

// A serial number that is a safe name already is its own folder name;
// another one is made safe and told apart from every other serial number by
// a hash of it (no longer than safeName's limit either).
QString serialFolder(const QString &serial)
{
    const QString safe = safeName(serial);
    if (safe == serial)
        return safe;
    const QByteArray hash =
        QCryptographicHash::hash(serial.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return safe.left(111) + QLatin1Char('-') + QString::fromLatin1(hash);
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
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
    int sameSecond = 1; // the ".<k>" of an unnumbered name
    QDateTime modified;
};

// Newest first: numbered backups by number, then the unnumbered ones by the
// time in their names and, within a second, by when they were written.
bool newerThan(const Entry &a, const Entry &b)
{
    if ((a.backup.number > 0) != (b.backup.number > 0))
        return a.backup.number > 0;
    if (a.backup.number != b.backup.number)
        return a.backup.number > b.backup.number;
    if (a.backup.time != b.backup.time)
        return a.backup.time > b.backup.time;
    if (a.modified != b.modified)
        return a.modified > b.modified;
    if (a.sameSecond != b.sameSecond)
        return a.sameSecond > b.sameSecond;
    return a.backup.path > b.backup.path;
}

// The backups in one folder; with their profile counts when readCounts.
QVector<Entry> scan(const QString &folder, bool readCounts)
{
    QVector<Entry> entries;
    const QFileInfoList files = QDir(folder).entryInfoList(
        QStringList() << QStringLiteral("*.json"), QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        Entry entry;
        QString time;
        const QRegularExpressionMatch numbered = numberedName().match(info.fileName());
        if (numbered.hasMatch()) {
            entry.backup.number = numbered.captured(1).toLongLong();
            time = numbered.captured(2);
            entry.backup.reason = numbered.captured(3);
        } else {
            const QRegularExpressionMatch match = unnumberedName().match(info.fileName());
            if (!match.hasMatch())
                continue;
            time = match.captured(1);
            entry.backup.reason = match.captured(2);
            entry.sameSecond = match.captured(3).isEmpty() ? 1 : match.captured(3).toInt();
        }
        entry.backup.path = info.absoluteFilePath();
        entry.backup.time = QDateTime::fromString(time, QLatin1String(timeFormat));
        entry.modified = info.lastModified();
        if (readCounts) {
            ProfileTable table;
            QString error;
            entry.backup.profileCount =
                readProfileFile(entry.backup.path, table, error) ? table.profiles.size() : -1;
        }
        entries.append(entry);
    }
    return entries;
}

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

QString ProfileBackupStore::folderPath(const QString &deviceFolder) const
{
    return root_ + QLatin1Char('/') + safeName(deviceFolder);
}

QString ProfileBackupStore::deviceFolder(const UsbDevice &device)
{
    return deviceFolder(device.getSerialNumber(), device.getVendorId(), device.getProductId(),
                        device.getProductString());
}

QString ProfileBackupStore::deviceFolder(const QString &serial, quint16 vendorId, quint16 productId,
                                         const QString &product)
{
    const QString trimmed = serial.trimmed();
    if (!trimmed.isEmpty())
        return serialFolder(trimmed);
    return hex4(vendorId) + QLatin1Char('-') + hex4(productId) + QLatin1Char('-') +
           safeName(product).left(110);
}

QStringList ProfileBackupStore::formerFolders(const UsbDevice &device) const
{
    return formerFolders(device.getSerialNumber(), device.getProductString());
}

QStringList ProfileBackupStore::formerFolders(const QString &serial, const QString &product) const
{
    const QString trimmed = serial.trimmed();
    if (!trimmed.isEmpty()) {
        const QString former = safeName(trimmed);
        return former == serialFolder(trimmed) ? QStringList() : QStringList{former};
    }
    // The interface path that was part of the name may have been any port's.
    const QString prefix = safeName(product + QLatin1Char('-'));
    QStringList folders;
    const QStringList names = QDir(root_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        if (name.startsWith(prefix))
            folders << name;
    return folders;
}

QString ProfileBackupStore::write(const QString &deviceFolder, const ProfileTable &table,
                                  const QString &reason, QString &error)
{
    const QString folder = folderPath(deviceFolder);
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("Cannot create the backup folder \"%1\".")
                    .arg(QDir::toNativeSeparators(folder));
        return QString();
    }
    const QString stem = QLatin1Char('-') + clock_().toString(QLatin1String(timeFormat)) +
                         QLatin1Char('-') + safeReason(reason) + QStringLiteral(".json");
    qint64 number = 1;
    for (const Entry &entry : scan(folder, false))
        number = qMax(number, entry.backup.number + 1);

    // The name is taken by creating the file exclusively; a program that
    // took it first keeps it, and this backup takes the next number.
    QString path;
    for (int attempt = 0;; ++attempt, ++number) {
        path = folder + QLatin1Char('/') +
               QStringLiteral("%1").arg(number, numberDigits, 10, QLatin1Char('0')) + stem;
        QFile claim(path);
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        const QFileInfo taken(path);
        if (!(taken.exists() || taken.isSymLink()) || attempt == 100) {
            error = QStringLiteral("Cannot write \"%1\": %2.")
                        .arg(QDir::toNativeSeparators(path), claim.errorString());
            return QString();
        }
    }
    // The table replaces the empty file whole, or the name is given back.
    if (!writeProfileFile(path, table, error)) {
        QFile::remove(path);
        return QString();
    }

    QVector<Entry> entries = scan(folder, false);
    std::sort(entries.begin(), entries.end(), newerThan);
    const QString written = QFileInfo(path).absoluteFilePath();
    for (int i = keptPerDevice; i < entries.size(); ++i)
        if (entries[i].backup.path != written)
            QFile::remove(entries[i].backup.path);
    return path;
}

QList<ProfileBackup> ProfileBackupStore::list(const QString &deviceFolder,
                                              const QStringList &formerFolders) const
{
    const QString folder = folderPath(deviceFolder);
    QVector<Entry> entries = scan(folder, true);
    for (const QString &former : formerFolders)
        if (folderPath(former) != folder)
            entries += scan(folderPath(former), true);
    std::sort(entries.begin(), entries.end(), newerThan);
    QList<ProfileBackup> backups;
    for (const Entry &entry : entries)
        backups.append(entry.backup);
    return backups;
}
