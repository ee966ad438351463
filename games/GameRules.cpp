// SPDX-License-Identifier: GPL-3.0-or-later
#include "games/GameRules.h"

#include "profiles/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString formatName = QStringLiteral("zud-wheel-games");
constexpr int formatVersion = 1;

QString gameLabel(int position, const QJsonObject &o)
{
    const QJsonValue name = o.value(QStringLiteral("name"));
    if (name.isString())
        return QStringLiteral("Game %1 \"%2\"").arg(position).arg(name.toString());
    return QStringLiteral("Game %1").arg(position);
}

// A field that must be a string with something in it other than spaces.
bool readText(const QJsonObject &o, const QString &field, const QString &label, QString &text,
              QString &error)
{
    const QJsonValue value = o.value(field);
    if (value.isUndefined()) {
        error = QStringLiteral("%1: \"%2\" is missing.").arg(label, field);
        return false;
    }
    if (!value.isString() || value.toString().trimmed().isEmpty()) {
        error = QStringLiteral("%1: \"%2\" must be a text that is not empty.").arg(label, field);
        return false;
    }
    text = value.toString();
    return true;
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QString gameRulesPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/games.json");
}

QByteArray gameRulesToJson(const GameRules &rules)
{
    QJsonArray games;
    for (const GameRule &game : rules.games)
        games.append(QJsonObject{{QStringLiteral("name"), game.name},
                                 {QStringLiteral("executable"), game.executable},
                                 {QStringLiteral("profile"), game.profile}});
    QJsonObject root{{QStringLiteral("format"), formatName},
                     {QStringLiteral("version"), formatVersion},
                     {QStringLiteral("enabled"), rules.enabled},
                     {QStringLiteral("games"), games}};
    root.insert(QStringLiteral("defaultProfile"), rules.defaultProfile.isEmpty()
                                                      ? QJsonValue(QJsonValue::Null)
                                                      : QJsonValue(rules.defaultProfile));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool gameRulesFromJson(const QByteArray &json, GameRules &rules, QString &error)
{
    QJsonObject root;
    if (!readJsonObjectDocument(json, QStringLiteral("games file"), root, error))
        return false;
    if (root.value(QStringLiteral("format")) != QJsonValue(formatName)) {
        error =
            QStringLiteral("This is not a games file: \"format\" must be \"%1\".").arg(formatName);
        return false;
    }
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != formatVersion) {
        error = QStringLiteral("\"version\" must be %1; this file is of another version.")
                    .arg(formatVersion);
        return false;
    }
    GameRules read;
    const QJsonValue enabled = root.value(QStringLiteral("enabled"));
    if (!enabled.isBool()) {
        error = QStringLiteral("\"enabled\" must be true or false.");
        return false;
    }
    read.enabled = enabled.toBool();
    const QJsonValue defaultProfile = root.value(QStringLiteral("defaultProfile"));
    if (!defaultProfile.isUndefined() && !defaultProfile.isNull()) {
        if (!defaultProfile.isString() || defaultProfile.toString().trimmed().isEmpty()) {
            error = QStringLiteral("\"defaultProfile\" must be a profile's name or null.");
            return false;
        }
        read.defaultProfile = defaultProfile.toString();
    }
    const QJsonValue games = root.value(QStringLiteral("games"));
    if (!games.isArray()) {
        error = QStringLiteral("\"games\" must be a list of games.");
        return false;
    }
    const QJsonArray list = games.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const int position = i + 1;
        if (!list.at(i).isObject()) {
            error = QStringLiteral("Game %1 is not a JSON object.").arg(position);
            return false;
        }
        const QJsonObject o = list.at(i).toObject();
        const QString label = gameLabel(position, o);
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (it.key() != QLatin1String("name") && it.key() != QLatin1String("executable") &&
                it.key() != QLatin1String("profile")) {
                error = QStringLiteral("%1: \"%2\" is not a field of a game.").arg(label, it.key());
                return false;
            }
        }
        GameRule game;
        if (!readText(o, QStringLiteral("name"), label, game.name, error) ||
            !readText(o, QStringLiteral("executable"), label, game.executable, error) ||
            !readText(o, QStringLiteral("profile"), label, game.profile, error))
            return false;
        if (game.executable.contains(QLatin1Char('/')) ||
            game.executable.contains(QLatin1Char('\\'))) {
            error = QStringLiteral("%1: \"executable\" must be a file name without a folder.")
                        .arg(label);
            return false;
        }
        read.games.append(game);
    }
    rules = read;
    return true;
}

bool writeGameRulesFile(const QString &path, const GameRules &rules, QString &error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray bytes = gameRulesToJson(rules);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error =
            QStringLiteral("Cannot write \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    return true;
}

bool readGameRulesFile(const QString &path, GameRules &rules, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot read \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(maxGameRulesFileBytes + 1);
    if (bytes.size() > maxGameRulesFileBytes) {
        error = QStringLiteral("Cannot read \"%1\": it is larger than %2 bytes, too large for a "
                               "games file.")
                    .arg(nativePath(path), QString::number(maxGameRulesFileBytes));
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Cannot read \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    QString problem;
    if (!gameRulesFromJson(bytes, rules, problem)) {
        error = QStringLiteral("\"%1\": %2").arg(nativePath(path), problem);
        return false;
    }
    return true;
}

GameRulesStamp GameRulesStamp::of(const QString &path)
{
    const QFileInfo info(path);
    GameRulesStamp stamp;
    stamp.exists = info.exists();
    if (stamp.exists) {
        stamp.modified = info.lastModified();
        stamp.size = info.size();
    }
    return stamp;
}
