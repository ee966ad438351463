// SPDX-License-Identifier: GPL-3.0-or-later
// A rules file for the demos, so that profiles that follow the game can be
// tried without a game: the emulated wheel base switches while a process
// named DemoRacer.exe runs (a copy of sleep will do).
#pragma once

#include <QString>

namespace emu {

// The rule's process, game and profiles (the emulated rig's factory table).
extern const char *const demoGameExecutable; // "DemoRacer.exe"
extern const char *const demoGameName;       // "Demo Racer"
extern const char *const demoGameProfile;    // while it runs
extern const char *const demoDefaultProfile; // after it ends

// Writes the demo's rule to the user's rules file when there is none yet
// and sets message to what the demo should tell; leaves an existing file
// alone (message empty). False, with the reason in message, when the file
// could not be written.
bool writeDemoGameRulesIfAbsent(QString &message);

} // namespace emu
