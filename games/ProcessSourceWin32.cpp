// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/ProcessSource.h"

#include "games/ToolhelpSnapshotWin32.h"

QVector<ProcessInfo> ToolhelpProcessSource::processes()
{
    std::vector<toolhelp::Process> list;
    if (!toolhelp::snapshot(list))
        return last_;
    QVector<ProcessInfo> result;
    result.reserve(int(list.size()));
    for (const toolhelp::Process &process : list) {
        ProcessInfo info;
        info.pid = qint64(process.pid);
        info.startTime = process.creationTime;
        info.executable = QString::fromStdWString(process.executable);
        result.append(info);
    }
    last_ = result;
    return result;
}
