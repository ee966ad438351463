// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/GameMatcher.h"

QString processBaseName(const ProcessInfo &process)
{
    const QString &path =
        process.firstArgument.isEmpty() ? process.executable : process.firstArgument;
    const int slash = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(slash + 1);
}

GameChoice chooseProfile(const GameRules &rules, const QVector<ProcessInfo> &processes)
{
    GameChoice choice;
    if (!rules.enabled)
        return choice;
    const ProcessInfo *latest = nullptr;
    const GameRule *latestRule = nullptr;
    for (const ProcessInfo &process : processes) {
        const QString name = processBaseName(process);
        if (name.isEmpty())
            continue;
        for (const GameRule &rule : rules.games) {
            if (name.compare(rule.executable, Qt::CaseInsensitive) != 0)
                continue;
            if (!latest || process.startTime > latest->startTime) {
                latest = &process;
                latestRule = &rule;
            }
            break;
        }
    }
    if (latestRule) {
        choice.switches = true;
        choice.profile = latestRule->profile;
        choice.game = latestRule->name;
    } else if (!rules.defaultProfile.isEmpty()) {
        choice.switches = true;
        choice.profile = rules.defaultProfile;
    }
    return choice;
}
