// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/DeviceLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

// What the holder does, beside the lock file: QLockFile keeps only its
// process id and program name.
QString activityPath(const QString &lockPath)
{
    return lockPath + QStringLiteral(".activity");
}

// Letters, digits, '-', '_' and '.' stay; everything else, '%' included, is
// written as %XX, so that two different texts never give the same name.
QString fileSafe(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArray(), QByteArrayLiteral("~")));
}

} // namespace

DeviceLock::DeviceLock(const QString &serialNumber, int vendorId, int productId,
                       const QString &path)
    : path_(lockDirectory() + QLatin1Char('/') + lockName(serialNumber, vendorId, productId, path))
{
}

QString DeviceLock::lockDirectory()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir(base).exists())
        base = QDir::tempPath();
    return base + QStringLiteral("/zud-wheel-tool");
}

QString DeviceLock::lockName(const QString &serialNumber, int vendorId, int productId,
                             const QString &path)
{
    QString name = serialNumber.isEmpty() ? QStringLiteral("%1-%2-%3")
                                                .arg(vendorId, 4, 16, QLatin1Char('0'))
                                                .arg(productId, 4, 16, QLatin1Char('0'))
                                                .arg(fileSafe(path))
                                          : QStringLiteral("serial-") + fileSafe(serialNumber);
    // File systems allow 255 bytes a name; an overlong path keeps its end,
    // where interface paths differ.
    constexpr int longest = 200;
    if (name.size() > longest)
        name = name.right(longest);
    return name + QStringLiteral(".lock");
}

bool DeviceLock::tryLock(const QString &activity)
{
    error_.clear();
    if (isLocked())
        return true;
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        error_ = QStringLiteral("cannot create the folder %1").arg(QFileInfo(path_).absolutePath());
        return false;
    }
    lock_ = std::make_unique<QLockFile>(path_);
    // Only a holder that is gone gives its lock up; an exchange may take
    // longer than any fixed age (a firmware transfer).
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        if (lock_->error() == QLockFile::PermissionError ||
            lock_->error() == QLockFile::UnknownError)
            error_ = QStringLiteral("cannot write the lock file %1").arg(path_);
        lock_.reset();
        return false;
    }
    QFile info(activityPath(path_));
    if (info.open(QIODevice::WriteOnly | QIODevice::Truncate))
        info.write(activity.toUtf8());
    return true;
}

void DeviceLock::unlock()
{
    if (!isLocked())
        return;
    QFile::remove(activityPath(path_));
    lock_->unlock();
    lock_.reset();
}

QString DeviceLock::holder() const
{
    QLockFile probe(path_);
    qint64 pid = 0;
    QString hostName;
    QString program;
    if (!probe.getLockInfo(&pid, &hostName, &program))
        return QStringLiteral("another program");
    if (program.isEmpty())
        program = QStringLiteral("another program");
    QString text = QStringLiteral("%1 (pid %2)").arg(program).arg(pid);
    QFile info(activityPath(path_));
    if (info.open(QIODevice::ReadOnly)) {
        const QString activity = QString::fromUtf8(info.read(200)).simplified();
        if (!activity.isEmpty())
            text += QLatin1Char(' ') + activity;
    }
    return text;
}
