// SPDX-License-Identifier: GPL-3.0-or-later
// The running processes of Windows from a Toolhelp snapshot, in plain C++
// (no Qt), so that the Windows cross build compiles it and runs its test
// under Wine. ToolhelpProcessSource (games/ProcessSource.h) turns the list
// into the game rules' process list.
#pragma once

#include <string>
#include <vector>

namespace toolhelp {

struct Process {
    unsigned long pid = 0;
    // The creation time (100 ns units since 1601), or 0 where the process
    // cannot be opened: another user's or a protected process.
    unsigned long long creationTime = 0;
    // The program's full path where the process can be opened, the file
    // name alone from the snapshot otherwise.
    std::wstring executable;
};

// Every process of the system, in increasing pid order. The command lines
// are not read: that would mean reading each process's memory. false (and
// an empty list) when no snapshot could be taken.
bool snapshot(std::vector<Process> &processes);

} // namespace toolhelp
