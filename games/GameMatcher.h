// SPDX-License-Identifier: GPL-3.0-or-later
// Which profile the game rules ask for, given the running processes.
#pragma once

#include "games/GameRules.h"
#include "games/ProcessSource.h"

// The base name a rule's executable is compared with: what follows the last
// '/' or '\' of the first argument, or of the executable where the first
// argument is empty. Wine and Proton show the Windows path of the game's
// .exe there.
QString processBaseName(const ProcessInfo &process);

struct GameChoice {
    bool switches = false; // false: leave the profile as it is
    QString profile;
    QString game; // the game's name; empty when the default profile applies
};

// The listed game that started last decides; with none running, the default
// profile (if any). Rules that are not enabled switch nothing.
GameChoice chooseProfile(const GameRules &rules, const QVector<ProcessInfo> &processes);
