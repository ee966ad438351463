// SPDX-License-Identifier: GPL-3.0-or-later
// The running processes as the game rules look at them, from a source that
// tests replace with a list of their own.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <memory>

struct ProcessInfo {
    qint64 pid = 0;
    // When the process started, in a unit of the source's own that only
    // orders processes (later starts are larger).
    quint64 startTime = 0;
    QString firstArgument; // argv[0] as the process shows it; may be empty
    QString executable;    // the program file's path or name; may be empty
};

class ProcessSource {
public:
    virtual ~ProcessSource() = default;
    virtual QVector<ProcessInfo> processes() = 0;
};

#ifdef Q_OS_LINUX
// Reads /proc: argv[0] from cmdline, the start time from stat, the program
// from the exe link (only readable for the user's own processes; the name in
// stat otherwise). Processes that end while being read are left out. A
// process whose argv[0] has not changed since the last call is not read
// again beyond its cmdline, which keeps a look every second cheap.
class ProcProcessSource : public ProcessSource {
public:
    explicit ProcProcessSource(QString procRoot = QStringLiteral("/proc"));
    QVector<ProcessInfo> processes() override;

private:
    struct Known {
        QByteArray first;
        ProcessInfo info;
        quint64 seen = 0; // the call that saw it last
    };
    QString root_;
    QHash<qint64, Known> known_;
    quint64 pass_ = 0;
};
#endif

#ifdef Q_OS_WIN
// A Toolhelp snapshot of every process: the pid, the program's full path (its
// file name alone where the process cannot be opened) as executable, no
// first argument (another process's command line lies in that process's own
// memory), and the creation time as the start time. A process that cannot be
// opened has the start time 0, so it counts as started before all others;
// the list is in pid order, so among those the matching's tie goes to the
// lowest pid. When no snapshot can be taken the last list is given again:
// an empty one would read as every game having ended.
class ToolhelpProcessSource : public ProcessSource {
public:
    QVector<ProcessInfo> processes() override;

private:
    QVector<ProcessInfo> last_;
};
#endif

// The processes of the system this runs on; null where there is no source
// for it.
std::unique_ptr<ProcessSource> systemProcessSource();
