// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/ProcessSource.h"

#include <QFile>

std::unique_ptr<ProcessSource> systemProcessSource()
{
#if defined(Q_OS_LINUX)
    return std::make_unique<ProcProcessSource>();
#elif defined(Q_OS_WIN)
    return std::make_unique<ToolhelpProcessSource>();
#else
    return nullptr;
#endif
}

#ifdef Q_OS_LINUX

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The first bytes of a small /proc file, read with plain system calls: the
// watcher reads three of them per process every second.
ssize_t readSmall(int folder, const char *name, char *buffer, size_t size)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t length = ::read(fd, buffer, size);
    ::close(fd);
    return length;
}

} // namespace

ProcProcessSource::ProcProcessSource(QString procRoot) : root_(std::move(procRoot)) {}

QVector<ProcessInfo> ProcProcessSource::processes()
{
    QVector<ProcessInfo> result;
    DIR *proc = ::opendir(QFile::encodeName(root_).constData());
    if (!proc)
        return result;
    ++pass_;
    char stat[1024];
    char cmdline[4096];
    char exe[4096];
    char path[64];
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid <= 0)
            continue;
        // "<pid>/stat" and so on, opened from /proc itself: fewer system
        // calls than opening each process's folder first.
        const int folder = ::dirfd(proc);
        const size_t nameLength = std::strlen(entry->d_name);
        if (nameLength + sizeof "/cmdline" > sizeof path)
            continue;
        std::memcpy(path, entry->d_name, nameLength);
        const auto file = [&](const char *name) {
            std::strcpy(path + nameLength, name);
            return path;
        };
        const ssize_t cmdLength = readSmall(folder, file("/cmdline"), cmdline, sizeof cmdline - 1);
        if (cmdLength < 0)
            continue; // ended meanwhile
        cmdline[cmdLength] = '\0';
        const QByteArray first(cmdline, int(std::strlen(cmdline)));
        // A process seen before with the same first argument is the same
        // process as far as the rules go: its stat and program are not read
        // again. A process that sets another name (Wine shows the game's
        // .exe once it has started it) is read anew.
        Known &known = known_[pid];
        if (known.seen != 0 && known.first == first) {
            known.seen = pass_;
            result.append(known.info);
            continue;
        }
        // stat: "pid (comm) state ..." where comm may hold spaces and
        // parentheses; the fields after the last ')' are plain numbers, the
        // start time being the 20th of them (field 22 of the line).
        const ssize_t statLength = readSmall(folder, file("/stat"), stat, sizeof stat - 1);
        const char *open = nullptr;
        const char *close = nullptr;
        if (statLength > 0) {
            stat[statLength] = '\0';
            open = std::strchr(stat, '(');
            close = std::strrchr(stat, ')');
        }
        const char *field = close && open && close > open ? close + 1 : nullptr;
        for (int i = 0; field && i < 19; ++i)
            field = std::strchr(field + 1, ' ');
        if (!field) {
            known_.remove(pid);
            continue;
        }
        ProcessInfo info;
        info.pid = pid;
        info.startTime = std::strtoull(field + 1, nullptr, 10);
        info.firstArgument = QString::fromLocal8Bit(first);
        // Only readable for the user's own processes; the name in stat
        // otherwise.
        const ssize_t exeLength = ::readlinkat(folder, file("/exe"), exe, sizeof exe);
        if (exeLength > 0 && size_t(exeLength) < sizeof exe)
            info.executable = QString::fromLocal8Bit(exe, int(exeLength));
        else
            info.executable = QString::fromLocal8Bit(open + 1, int(close - open - 1));
        known = Known{first, info, pass_};
        result.append(info);
    }
    ::closedir(proc);
    // Forget the processes that have ended.
    for (auto it = known_.begin(); it != known_.end();)
        it = it->seen == pass_ ? std::next(it) : known_.erase(it);
    return result;
}

#endif
