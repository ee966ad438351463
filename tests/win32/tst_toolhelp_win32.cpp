// SPDX-License-Identifier: GPL-3.0-or-later
// The Toolhelp process list (games/ToolhelpSnapshotWin32.cpp) run for real,
// under Wine or on Windows: plain C++, no Qt, linked statically. The program
// finds itself in the list, and a copy of itself that it starts (run with the
// argument "child", which only sleeps) as started later, until it ends.
#include "games/ToolhelpSnapshotWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;
bool caseFailed = false;
const char *currentCase = "";

bool check(bool ok, const char *what, int line)
{
    if (!ok) {
        std::printf("FAIL!  %s: %s (line %d)\n", currentCase, what, line);
        caseFailed = true;
    }
    return ok;
}
#define CHECK(cond) check((cond), #cond, __LINE__)

template <typename F> void run(const char *name, F &&body)
{
    currentCase = name;
    caseFailed = false;
    body();
    if (caseFailed) {
        ++failed;
    } else {
        ++passed;
        std::printf("PASS   %s\n", name);
    }
    std::fflush(stdout);
}

// What follows the last '\' or '/', as the game rules compare it.
std::wstring baseName(const std::wstring &path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool sameName(const std::wstring &a, const std::wstring &b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring ownPath()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, &path[0], DWORD(path.size())));
    return path;
}

const toolhelp::Process *find(const std::vector<toolhelp::Process> &list, unsigned long pid)
{
    for (const toolhelp::Process &process : list)
        if (process.pid == pid)
            return &process;
    return nullptr;
}

void listsItself()
{
    std::vector<toolhelp::Process> list;
    if (!CHECK(toolhelp::snapshot(list)))
        return;
    const toolhelp::Process *self = find(list, GetCurrentProcessId());
    if (!CHECK(self != nullptr))
        return;
    // The full path, not the snapshot's file name alone.
    CHECK(self->executable.find(L'\\') != std::wstring::npos);
    CHECK(sameName(baseName(self->executable), baseName(ownPath())));
    CHECK(sameName(baseName(self->executable), L"tst_toolhelp_win32.exe"));
    FILETIME created, exited, kernel, user;
    CHECK(GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user));
    CHECK(self->creationTime == ((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                                 created.dwLowDateTime));
    for (size_t i = 1; i < list.size(); ++i)
        CHECK(list[i - 1].pid < list[i].pid);
}

void childStartedLaterUntilItEnds()
{
    std::wstring commandLine = L"\"" + ownPath() + L"\" child";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CHECK(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &child)))
        return;
    std::vector<toolhelp::Process> list;
    CHECK(toolhelp::snapshot(list));
    const toolhelp::Process *self = find(list, GetCurrentProcessId());
    const toolhelp::Process *started = find(list, child.dwProcessId);
    if (CHECK(self != nullptr) && CHECK(started != nullptr)) {
        CHECK(sameName(baseName(started->executable), L"tst_toolhelp_win32.exe"));
        CHECK(started->creationTime > self->creationTime);
    }
    TerminateProcess(child.hProcess, 0);
    CHECK(WaitForSingleObject(child.hProcess, 10000) == WAIT_OBJECT_0);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CHECK(toolhelp::snapshot(list));
    CHECK(find(list, child.dwProcessId) == nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "child") == 0) {
        Sleep(60000);
        return 0;
    }
    std::printf("Toolhelp process list, %d-bit\n", int(sizeof(void *) * 8));
    run("lists itself with its full path and creation time, in pid order", listsItself);
    run("a child is listed as started later until it ends", childStartedLaterUntilItEnds);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
