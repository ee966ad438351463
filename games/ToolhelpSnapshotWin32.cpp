// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/ToolhelpSnapshotWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>

namespace toolhelp {

namespace {

// A snapshot may fail with ERROR_BAD_LENGTH while processes come and go;
// taking it again is the documented remedy.
HANDLE takeSnapshot()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH)
            return snap;
    }
    return INVALID_HANDLE_VALUE;
}

// The creation time and full path of one process; left as they are where it
// cannot be opened (PROCESS_QUERY_LIMITED_INFORMATION is granted for most
// processes of other users too, but not for protected ones).
void readDetails(Process &process, std::wstring &buffer)
{
    const HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.pid);
    if (!handle)
        return;
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(handle, &created, &exited, &kernel, &user))
        process.creationTime =
            (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    DWORD length = static_cast<DWORD>(buffer.size());
    if (QueryFullProcessImageNameW(handle, 0, &buffer[0], &length) && length > 0)
        process.executable.assign(buffer.data(), length);
    CloseHandle(handle);
}

} // namespace

bool snapshot(std::vector<Process> &processes)
{
    processes.clear();
    const HANDLE snap = takeSnapshot();
    if (snap == INVALID_HANDLE_VALUE)
        return false;
    std::wstring buffer(32768, L'\0'); // the longest path Windows has
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        Process process;
        process.pid = entry.th32ProcessID;
        process.executable = entry.szExeFile;
        readDetails(process, buffer);
        processes.push_back(std::move(process));
    }
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    CloseHandle(snap);
    if (!complete) {
        processes.clear();
        return false;
    }
    std::sort(processes.begin(), processes.end(),
              [](const Process &a, const Process &b) { return a.pid < b.pid; });
    return true;
}

} // namespace toolhelp
