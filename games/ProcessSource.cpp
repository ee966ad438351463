// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/ProcessSource.h"

std::unique_ptr<ProcessSource> systemProcessSource()
{
#ifdef Q_OS_LINUX
    return std::make_unique<ProcProcessSource>();
#else
    return nullptr;
#endif
}

#ifdef Q_OS_LINUX

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray readSmall(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(64 * 1024);
}

} // namespace

ProcProcessSource::ProcProcessSource(QString procRoot) : root_(std::move(procRoot)) {}

QVector<ProcessInfo> ProcProcessSource::processes()
{
    QVector<ProcessInfo> result;
    const QStringList entries = QDir(root_).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString folder = root_ + QLatin1Char('/') + entry;
        // stat: "pid (comm) state ..." where comm may hold spaces and
        // parentheses; the fields after the last ')' are plain numbers, the
        // start time being the 20th of them (field 22 of the line).
        const QByteArray stat = readSmall(folder + QStringLiteral("/stat"));
        const int open = stat.indexOf('(');
        const int close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 20)
            continue;
        ProcessInfo info;
        info.pid = pid;
        info.startTime = fields.at(19).toULongLong();
        const QByteArray cmdline = readSmall(folder + QStringLiteral("/cmdline"));
        info.firstArgument = QString::fromLocal8Bit(cmdline.left(cmdline.indexOf('\0')));
        info.executable = QFileInfo(folder + QStringLiteral("/exe")).symLinkTarget();
        if (info.executable.isEmpty())
            info.executable = QString::fromLocal8Bit(stat.mid(open + 1, close - open - 1));
        result.append(info);
    }
    return result;
}

#endif
