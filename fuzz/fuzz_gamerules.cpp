// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary game rules documents, as a person edits games.json by hand. A
// document that is refused leaves the rules untouched and says why, with
// every placeholder of its message filled. One that is read holds only games
// with a name, a profile and an executable without a folder; it writes to a
// document that reads back as the same rules, and writing those again gives
// the same bytes. Each listed game, started last under a Windows path, is
// the game the matching chooses (the first rule with that executable).
#include "FuzzSupport.h"
#include "games/GameMatcher.h"
#include "games/GameRules.h"

#include <QByteArray>

using fuzzing::checkMessage;
using fuzzing::fail;

namespace {

GameRules sentinel()
{
    GameRules rules;
    rules.enabled = false;
    rules.defaultProfile = QStringLiteral("kept");
    rules.games.append(
        {QStringLiteral("kept"), QStringLiteral("kept.exe"), QStringLiteral("kept")});
    return rules;
}

bool blank(const QString &text)
{
    return text.trimmed().isEmpty();
}

void checkMatching(const GameRules &rules)
{
    for (const GameRule &game : rules.games) {
        const GameRule *first = nullptr;
        for (const GameRule &rule : rules.games) {
            if (rule.executable.compare(game.executable, Qt::CaseInsensitive) == 0) {
                first = &rule;
                break;
            }
        }
        ProcessInfo earlier;
        earlier.pid = 10;
        earlier.startTime = 1;
        earlier.firstArgument = QStringLiteral("/usr/bin/unrelated");
        ProcessInfo started;
        started.pid = 20;
        started.startTime = 2;
        started.firstArgument = QStringLiteral("C:\\Games\\") + game.executable;
        const GameChoice choice = chooseProfile(rules, {earlier, started});
        if (!rules.enabled) {
            if (choice.switches)
                fail("rules that are not enabled chose a profile");
            continue;
        }
        if (!choice.switches || choice.profile != first->profile || choice.game != first->name)
            fail("a running listed game was not the one chosen");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzing::ensureApplication();
    const QByteArray document(reinterpret_cast<const char *>(data), int(size));

    const GameRules untouched = sentinel();
    GameRules rules = untouched;
    QString error;
    if (!gameRulesFromJson(document, rules, error)) {
        if (rules != untouched)
            fail("a refused document changed the rules");
        checkMessage(error, document);
        return 0;
    }
    if (!rules.defaultProfile.isEmpty() && blank(rules.defaultProfile))
        fail("a blank default profile was read");
    for (const GameRule &game : rules.games) {
        if (blank(game.name) || blank(game.executable) || blank(game.profile))
            fail("a game with a blank field was read");
        if (game.executable.contains(QLatin1Char('/')) ||
            game.executable.contains(QLatin1Char('\\')))
            fail("an executable with a folder was read");
    }

    const QByteArray written = gameRulesToJson(rules);
    GameRules again;
    QString againError;
    if (!gameRulesFromJson(written, again, againError))
        fail("rules that were read cannot be read back from their own document");
    if (again != rules)
        fail("rules changed on their way through a document");
    if (gameRulesToJson(again) != written)
        fail("writing the rules twice gave two documents");

    checkMatching(rules);
    return 0;
}
