// SPDX-License-Identifier: GPL-3.0-or-later
// The rules that name a wheel base profile per game: the file
// games.json in the user's configuration folder, its strict reader and its
// writer.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

struct GameRule {
    QString name;       // as a person calls the game
    QString executable; // the base name its process shows
    QString profile;    // the wheel base profile's name
};

inline bool operator==(const GameRule &a, const GameRule &b)
{
    return a.name == b.name && a.executable == b.executable && a.profile == b.profile;
}

struct GameRules {
    bool enabled = true;
    // Applied when no listed game runs; empty (null in the file) leaves the
    // profile as it is.
    QString defaultProfile;
    QVector<GameRule> games;
};

inline bool operator==(const GameRules &a, const GameRules &b)
{
    return a.enabled == b.enabled && a.defaultProfile == b.defaultProfile && a.games == b.games;
}
inline bool operator!=(const GameRules &a, const GameRules &b)
{
    return !(a == b);
}

// $XDG_CONFIG_HOME/zud-wheel-tool/games.json (the application's
// configuration folder).
QString gameRulesPath();

// {"format": "zud-wheel-games", "version": 1, "enabled": ..., "defaultProfile":
// ... or null, "games": [{"name", "executable", "profile"}, ...]}.
QByteArray gameRulesToJson(const GameRules &rules);
// Validates the whole document before it touches rules: false and a message
// that names the game and the field when anything is wrong.
bool gameRulesFromJson(const QByteArray &json, GameRules &rules, QString &error);

// Written whole or not at all; read with a size limit. false and a message
// naming the file and the reason on any failure.
bool writeGameRulesFile(const QString &path, const GameRules &rules, QString &error);
bool readGameRulesFile(const QString &path, GameRules &rules, QString &error);
constexpr qint64 maxGameRulesFileBytes = 1024 * 1024;

// What tells that a rules file has changed since it was last read: whether
// it exists, its time and its size. Taken once a second by whatever shows
// or applies the rules; reading the file itself is left for a change.
struct GameRulesStamp {
    bool exists = false;
    QDateTime modified;
    qint64 size = -1;

    static GameRulesStamp of(const QString &path);
    bool operator==(const GameRulesStamp &other) const
    {
        return exists == other.exists && modified == other.modified && size == other.size;
    }
    bool operator!=(const GameRulesStamp &other) const { return !(*this == other); }
};
