// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/DemoGameRules.h"

#include "games/GameRules.h"

#include <QFileInfo>

namespace emu {

const char *const demoGameExecutable = "DemoRacer.exe";
const char *const demoGameName = "Demo Racer";
const char *const demoGameProfile = "Factory 2";
const char *const demoDefaultProfile = "Factory 0";

bool writeDemoGameRulesIfAbsent(QString &message)
{
    message.clear();
    const QString path = gameRulesPath();
    if (QFileInfo::exists(path))
        return true;
    GameRules rules;
    rules.defaultProfile = QString::fromLatin1(demoDefaultProfile);
    rules.games.append({QString::fromLatin1(demoGameName), QString::fromLatin1(demoGameExecutable),
                        QString::fromLatin1(demoGameProfile)});
    QString error;
    if (!writeGameRulesFile(path, rules, error)) {
        message = QStringLiteral("The demo's game rule was not written: %1").arg(error);
        return false;
    }
    message =
        QStringLiteral("No game rules were found, so the demo wrote %1: the wheel base "
                       "switches to \"%2\" while a process named %3 runs (try cp /bin/sleep "
                       "/tmp/%3 && /tmp/%3 30) and back to \"%4\" when it ends.")
            .arg(path, QString::fromLatin1(demoGameProfile),
                 QString::fromLatin1(demoGameExecutable), QString::fromLatin1(demoDefaultProfile));
    return true;
}

} // namespace emu
