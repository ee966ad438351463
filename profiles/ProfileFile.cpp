// SPDX-License-Identifier: GPL-3.0-or-later
#include "profiles/ProfileFile.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <QSet>
#include <cmath>
#include <cstring>

namespace {

const char *const formatName = "zud-wheel-profiles";
constexpr int formatVersion = 1;

enum class Kind { Index, Name, Float, Integer, Enumeration };

// One field of the 43-byte record: where it lies, how wide it is, and what
// a file may put there.
struct Field {
    const char *key;
    Kind kind;
    int offset;
    int size;
    bool isSigned;
    qint64 min;
    qint64 max;
    const QStringList *texts;
};

const QStringList &encoderTexts()
{
    static const QStringList texts = {QStringLiteral("Incremental"),
                                      QStringLiteral("Incremental (Rev)"), QStringLiteral("BISS-C"),
                                      QStringLiteral("BISS-C (Rev)")};
    return texts;
}

const QStringList &effectTexts()
{
    static const QStringList texts = {QStringLiteral("Device Effect Only"),
                                      QStringLiteral("Game Effect Only"),
                                      QStringLiteral("Device and Game Effects")};
    return texts;
}

#define ZUD_FIELD(name, kind, isSigned, min, max, texts)                                           \
    Field                                                                                          \
    {                                                                                              \
#name, kind, int(offsetof(ZudUsbWheelBaseProfile, name)),                                  \
            int(sizeof(ZudUsbWheelBaseProfile::name)), isSigned, min, max, texts                   \
    }

// Every byte of the record belongs to exactly one field. The ranges are
// those the editor's controls accept; an enumeration may also be any byte
// as a number, which is how a value without a combo item is written.
const QVector<Field> &fields()
{
    static const QVector<Field> list = {
        ZUD_FIELD(index, Kind::Index, false, 0, maxProfiles - 1, nullptr),
        ZUD_FIELD(name, Kind::Name, false, 0, 0, nullptr),
        ZUD_FIELD(centerOffset, Kind::Float, true, 0, 0, nullptr),
        ZUD_FIELD(rotationDegrees, Kind::Integer, true, 0, 9999, nullptr),
        ZUD_FIELD(encoderType, Kind::Enumeration, false, 0, 255, &encoderTexts()),
        ZUD_FIELD(encoderResolution, Kind::Integer, true, 0, 999999999, nullptr),
        ZUD_FIELD(maxForce, Kind::Integer, true, 0, 100, nullptr),
        ZUD_FIELD(smoothing, Kind::Integer, true, 0, 4, nullptr),
        ZUD_FIELD(damping, Kind::Integer, true, 0, 100, nullptr),
        ZUD_FIELD(friction, Kind::Integer, true, 0, 100, nullptr),
        ZUD_FIELD(inertia, Kind::Integer, true, 0, 100, nullptr),
        ZUD_FIELD(spring, Kind::Integer, true, 0, 100, nullptr),
        ZUD_FIELD(dampingEffect, Kind::Enumeration, false, 0, 255, &effectTexts()),
        ZUD_FIELD(frictionEffect, Kind::Enumeration, false, 0, 255, &effectTexts()),
        ZUD_FIELD(inertiaEffect, Kind::Enumeration, false, 0, 255, &effectTexts()),
        ZUD_FIELD(springEffect, Kind::Enumeration, false, 0, 255, &effectTexts()),
    };
    return list;
}

#undef ZUD_FIELD

const uint8_t *bytesOf(const ZudUsbWheelBaseProfile &p)
{
    return reinterpret_cast<const uint8_t *>(&p);
}

uint8_t *bytesOf(ZudUsbWheelBaseProfile &p)
{
    return reinterpret_cast<uint8_t *>(&p);
}

qint64 integerOf(const ZudUsbWheelBaseProfile &p, const Field &f)
{
    const uint8_t *b = bytesOf(p) + f.offset;
    quint32 u = 0;
    for (int i = 0; i < f.size; ++i)
        u |= quint32(b[i]) << (8 * i);
    if (!f.isSigned)
        return qint64(u);
    const int bits = 8 * f.size;
    if (bits < 32 && (u & (1u << (bits - 1))))
        return qint64(u) - (qint64(1) << bits);
    return qint64(qint32(u));
}

void setInteger(ZudUsbWheelBaseProfile &p, const Field &f, qint64 value)
{
    uint8_t *b = bytesOf(p) + f.offset;
    const quint32 u = quint32(value);
    for (int i = 0; i < f.size; ++i)
        b[i] = uint8_t(u >> (8 * i));
}

quint32 floatBits(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QByteArray storedName(const ZudUsbWheelBaseProfile &p)
{
    const char *name = reinterpret_cast<const char *>(p.name);
    return QByteArray(name, int(qstrnlen(name, zudProfileNameBytes)));
}

// UTF-8 decoding replaces every malformed sequence, so bytes that survive
// the round trip unchanged are well-formed UTF-8.
bool isUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Whether the name's 16 bytes are exactly its UTF-8 text, zero-filled:
// then "name" alone carries it.
bool nameIsPlainText(const ZudUsbWheelBaseProfile &p)
{
    const QByteArray text = storedName(p);
    for (int i = text.size(); i < zudProfileNameBytes; ++i)
        if (p.name[i] != 0)
            return false;
    return isUtf8(text);
}

// A float that a JSON number carries exactly is written as one; NaN, the
// infinities and negative zero as their bit pattern.
bool floatNeedsBits(float value)
{
    return !std::isfinite(value) || (value == 0.0f && std::signbit(value));
}

QString floatBitsText(float value)
{
    return QStringLiteral("0x%1").arg(floatBits(value), 8, 16, QLatin1Char('0'));
}

QString floatText(float value)
{
    if (floatNeedsBits(value))
        return floatBitsText(value);
    return QString::number(double(value), 'g', QLocale::FloatingPointShortest);
}

// A JSON string literal with JSON's escaping.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonValueText(const ZudUsbWheelBaseProfile &p, const Field &f)
{
    switch (f.kind) {
    case Kind::Name:
        return jsonString(profileDisplayName(p));
    case Kind::Float: {
        const float value = p.centerOffset;
        return floatNeedsBits(value) ? jsonString(floatBitsText(value))
                                     : floatText(value).toLatin1();
    }
    case Kind::Enumeration: {
        const qint64 value = integerOf(p, f);
        if (value < f.texts->size())
            return jsonString(f.texts->at(int(value)));
        return QByteArray::number(value);
    }
    case Kind::Index:
    case Kind::Integer:
        break;
    }
    return QByteArray::number(integerOf(p, f));
}

// A value as a difference line shows it.
QString valueText(const ZudUsbWheelBaseProfile &p, const Field &f)
{
    switch (f.kind) {
    case Kind::Name: {
        QString text = QLatin1Char('"') + profileDisplayName(p) + QLatin1Char('"');
        if (!nameIsPlainText(p))
            text += QStringLiteral(" (bytes %1)")
                        .arg(QString::fromLatin1(
                            QByteArray(reinterpret_cast<const char *>(p.name), zudProfileNameBytes)
                                .toHex()));
        return text;
    }
    case Kind::Float:
        return floatText(p.centerOffset);
    case Kind::Enumeration: {
        const qint64 value = integerOf(p, f);
        if (value < f.texts->size())
            return QLatin1Char('"') + f.texts->at(int(value)) + QLatin1Char('"');
        return QString::number(value);
    }
    case Kind::Index:
    case Kind::Integer:
        break;
    }
    return QString::number(integerOf(p, f));
}

bool fieldEqual(const ZudUsbWheelBaseProfile &a, const ZudUsbWheelBaseProfile &b, const Field &f)
{
    return std::memcmp(bytesOf(a) + f.offset, bytesOf(b) + f.offset, size_t(f.size)) == 0;
}

QString jsonTypeName(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("missing");
}

QString shown(const QJsonValue &v)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d == std::floor(d) && std::fabs(d) < 1e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    if (v.isString())
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    return jsonTypeName(v);
}

// Reads one profile object; on failure error says what is wrong with which
// field, without the profile prefix.
bool readProfile(const QJsonObject &o, ZudUsbWheelBaseProfile &p, QString &error)
{
    p = ZudUsbWheelBaseProfile{};
    for (const Field &f : fields()) {
        const QString key = QString::fromLatin1(f.key);
        const QJsonValue v = o.value(key);
        const QString quoted = QLatin1Char('"') + key + QLatin1Char('"');
        if (v.isUndefined()) {
            error = QStringLiteral("%1 is missing.").arg(quoted);
            return false;
        }
        switch (f.kind) {
        case Kind::Name: {
            if (!v.isString()) {
                error = QStringLiteral("%1 is %2, expected a string.").arg(quoted, jsonTypeName(v));
                return false;
            }
            const QString text = v.toString();
            const QJsonValue raw = o.value(QStringLiteral("nameBytes"));
            if (!raw.isUndefined()) {
                const QString hex = raw.toString();
                const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
                if (!raw.isString() || hex.size() != 2 * zudProfileNameBytes ||
                    bytes.size() != zudProfileNameBytes ||
                    bytes.toHex() != hex.toLower().toLatin1()) {
                    error = QStringLiteral("\"nameBytes\" is %1, expected %2 hexadecimal digits.")
                                .arg(shown(raw), QString::number(2 * zudProfileNameBytes));
                    return false;
                }
                std::memcpy(p.name, bytes.constData(), zudProfileNameBytes);
                if (profileDisplayName(p) != text) {
                    error = QStringLiteral("%1 is \"%2\", but \"nameBytes\" holds \"%3\"; remove "
                                           "\"nameBytes\" to use the edited name.")
                                .arg(quoted, text, profileDisplayName(p));
                    return false;
                }
                break;
            }
            const QByteArray bytes = text.toUtf8();
            if (bytes.contains('\0')) {
                error = QStringLiteral("%1 contains a zero character.").arg(quoted);
                return false;
            }
            if (bytes.size() > zudProfileNameBytes) {
                error = QStringLiteral("%1 is \"%2\", %3 bytes in UTF-8, longer than %4.")
                            .arg(quoted, text, QString::number(bytes.size()),
                                 QString::number(zudProfileNameBytes));
                return false;
            }
            std::memcpy(p.name, bytes.constData(), size_t(bytes.size()));
            break;
        }
        case Kind::Float: {
            float value = 0.0f;
            if (v.isString()) {
                const QString text = v.toString();
                bool ok = false;
                const quint32 bits = text.mid(2).toUInt(&ok, 16);
                if (!text.startsWith(QLatin1String("0x")) || text.size() != 10 || !ok) {
                    error = QStringLiteral("%1 is %2, expected a number or a bit pattern such as "
                                           "\"0x7fc00000\".")
                                .arg(quoted, shown(v));
                    return false;
                }
                std::memcpy(&value, &bits, sizeof value);
            } else if (v.isDouble()) {
                const double d = v.toDouble();
                value = float(d);
                if (!std::isfinite(value)) {
                    error = QStringLiteral("%1 is %2, outside the range of a 32-bit float.")
                                .arg(quoted, shown(v));
                    return false;
                }
            } else {
                error = QStringLiteral("%1 is %2, expected a number.").arg(quoted, jsonTypeName(v));
                return false;
            }
            p.centerOffset = value;
            break;
        }
        case Kind::Enumeration:
            if (v.isString()) {
                const int value = f.texts->indexOf(v.toString());
                if (value < 0) {
                    error = QStringLiteral("%1 is %2, expected one of \"%3\" or a number.")
                                .arg(quoted, shown(v), f.texts->join(QStringLiteral("\", \"")));
                    return false;
                }
                setInteger(p, f, value);
                break;
            }
            Q_FALLTHROUGH();
        case Kind::Index:
        case Kind::Integer: {
            if (!v.isDouble()) {
                error = QStringLiteral("%1 is %2, expected a number.").arg(quoted, jsonTypeName(v));
                return false;
            }
            const double d = v.toDouble();
            if (d != std::floor(d)) {
                error = QStringLiteral("%1 is %2, expected a whole number.").arg(quoted, shown(v));
                return false;
            }
            if (d < double(f.min) || d > double(f.max)) {
                error = QStringLiteral("%1 is %2, outside %3 to %4.")
                            .arg(quoted, shown(v), QString::number(f.min), QString::number(f.max));
                return false;
            }
            setInteger(p, f, qint64(d));
            break;
        }
        }
    }
    return true;
}

// A string literal's text, its quotes excluded; false when it is not one.
bool decodedString(const QByteArray &literal, QString &text)
{
    if (!literal.contains('\\')) {
        text = QString::fromUtf8(literal);
        return true;
    }
    QJsonParseError parseError;
    const QJsonDocument single =
        QJsonDocument::fromJson('[' + ('"' + literal + '"') + ']', &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return false;
    text = single.array().at(0).toString();
    return true;
}

// Finds a key that appears twice in one object of a JSON text. Qt's parser
// keeps the last of them without a word (and in Qt 5 never frees a list or
// object it drops that way), so the reader refuses such a document before
// it parses it. What is not JSON is left to the parser to report.
bool findRepeatedKey(const QByteArray &json, QString &repeated)
{
    struct Level {
        bool object;
        bool expectKey;
        QSet<QString> keys;
    };
    // Deeper documents are refused by the parser, which stops at 1024.
    constexpr int deepest = 1100;
    QVector<Level> levels;
    const char *p = json.constData();
    const char *const end = p + json.size();
    while (p < end) {
        const char c = *p++;
        switch (c) {
        case '"': {
            const char *const start = p;
            while (p < end && *p != '"')
                p += *p == '\\' && p + 1 < end ? 2 : 1;
            if (p >= end)
                return false;
            const QByteArray literal(start, int(p - start));
            ++p;
            if (levels.isEmpty() || !levels.last().object || !levels.last().expectKey)
                break;
            QString key;
            if (!decodedString(literal, key))
                return false;
            Level &level = levels.last();
            level.expectKey = false;
            if (level.keys.contains(key)) {
                repeated = key;
                return true;
            }
            level.keys.insert(key);
            break;
        }
        case '{':
        case '[':
            if (levels.size() == deepest)
                return false;
            levels.append(Level{c == '{', c == '{', {}});
            break;
        case '}':
        case ']':
            if (!levels.isEmpty())
                levels.removeLast();
            break;
        case ',':
            if (!levels.isEmpty() && levels.last().object)
                levels.last().expectKey = true;
            break;
        default:
            break;
        }
    }
    return false;
}

QString profileLabel(int position, const QJsonObject &o)
{
    const QJsonValue name = o.value(QStringLiteral("name"));
    if (name.isString())
        return QStringLiteral("Profile %1 \"%2\"").arg(position).arg(name.toString());
    return QStringLiteral("Profile %1").arg(position);
}

QString profileLabel(int position, const ZudUsbWheelBaseProfile &p)
{
    return QStringLiteral("Profile %1 \"%2\"").arg(position).arg(profileDisplayName(p));
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

bool readJsonObjectDocument(const QByteArray &json, const QString &kind, QJsonObject &root,
                            QString &error)
{
    QString repeated;
    if (findRepeatedKey(json, repeated)) {
        error = QStringLiteral("\"%1\" appears twice in one object; each name may appear once.")
                    .arg(repeated);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("This is not a JSON document: %1 at byte %2.")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("This is not a %1: the document is not a JSON object.").arg(kind);
        return false;
    }
    root = document.object();
    return true;
}

bool operator==(const ProfileTable &a, const ProfileTable &b)
{
    if (a.currentProfile != b.currentProfile || a.profiles.size() != b.profiles.size())
        return false;
    return a.profiles.isEmpty() ||
           std::memcmp(a.profiles.constData(), b.profiles.constData(),
                       size_t(a.profiles.size()) * sizeof(ZudUsbWheelBaseProfile)) == 0;
}

bool operator!=(const ProfileTable &a, const ProfileTable &b)
{
    return !(a == b);
}

ProfileTable profileTableOf(const UsbDeviceZudWheelBase &wheelBase)
{
    ProfileTable table;
    table.currentProfile = wheelBase.currentProfile;
    const int count = qMin(int(wheelBase.profileCount), maxProfiles);
    table.profiles.reserve(count);
    for (int i = 0; i < count; ++i)
        table.profiles.append(wheelBase.profiles[i]);
    return table;
}

void applyProfileTable(const ProfileTable &table, UsbDeviceZudWheelBase &wheelBase)
{
    const int count = qMin(table.profiles.size(), maxProfiles);
    for (int i = 0; i < maxProfiles; ++i)
        wheelBase.profiles[i] = i < count ? table.profiles[i] : ZudUsbWheelBaseProfile{};
    wheelBase.profileCount = uint8_t(count);
    wheelBase.currentProfile = uint8_t(table.currentProfile);
}

QString profileDisplayName(const ZudUsbWheelBaseProfile &profile)
{
    const QByteArray bytes = storedName(profile);
    return isUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QStringList encoderTypeTexts()
{
    return encoderTexts();
}

QStringList effectSourceTexts()
{
    return effectTexts();
}

QByteArray profileTableToJson(const ProfileTable &table)
{
    return profileTableToJson(table, ProfileFileScope::Table);
}

QByteArray profileTableToJson(const ProfileTable &table, ProfileFileScope scope)
{
    // Written by hand so that the fields keep the record's order, which a
    // person editing the file expects; strings use Qt's JSON escaping.
    QByteArray out;
    out += "{\n";
    out += "    \"format\": " + jsonString(QString::fromLatin1(formatName)) + ",\n";
    out += "    \"version\": " + QByteArray::number(formatVersion) + ",\n";
    if (scope == ProfileFileScope::Profile)
        out += "    \"scope\": \"profile\",\n";
    out += "    \"currentProfile\": " + QByteArray::number(table.currentProfile) + ",\n";
    out += "    \"profiles\": [";
    for (int i = 0; i < table.profiles.size(); ++i) {
        const ZudUsbWheelBaseProfile &p = table.profiles[i];
        out += i == 0 ? "\n        {\n" : ",\n        {\n";
        const QVector<Field> &list = fields();
        for (int k = 0; k < list.size(); ++k) {
            const Field &f = list[k];
            out += "            \"" + QByteArray(f.key) + "\": " + jsonValueText(p, f);
            if (f.kind == Kind::Name && !nameIsPlainText(p))
                out += ",\n            \"nameBytes\": \"" +
                       QByteArray(reinterpret_cast<const char *>(p.name), zudProfileNameBytes)
                           .toHex() +
                       "\"";
            out += k + 1 < list.size() ? ",\n" : "\n";
        }
        out += "        }";
    }
    out += table.profiles.isEmpty() ? "]\n" : "\n    ]\n";
    out += "}\n";
    return out;
}

bool profileTableFromJson(const QByteArray &json, ProfileTable &table, QString &error)
{
    ProfileFileScope scope;
    return profileTableFromJson(json, table, error, scope);
}

bool profileTableFromJson(const QByteArray &json, ProfileTable &table, QString &error,
                          ProfileFileScope &scope)
{
    QJsonObject root;
    if (!readJsonObjectDocument(json, QStringLiteral("profile file"), root, error))
        return false;
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (format.toString() != QLatin1String(formatName)) {
        error = QStringLiteral("This is not a profile file: \"format\" is %1, expected \"%2\".")
                    .arg(shown(format), QLatin1String(formatName));
        return false;
    }
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) ||
        version.toDouble() < 1) {
        error = QStringLiteral("\"version\" is %1, expected a whole number from 1.")
                    .arg(shown(version));
        return false;
    }
    if (version.toDouble() > formatVersion) {
        error = QStringLiteral("\"version\" is %1: the file was written by a newer tool, which "
                               "this one cannot read (it reads version %2).")
                    .arg(shown(version), QString::number(formatVersion));
        return false;
    }
    ProfileFileScope readScope = ProfileFileScope::Table;
    const QJsonValue scopeValue = root.value(QStringLiteral("scope"));
    if (!scopeValue.isUndefined()) {
        if (scopeValue.toString() == QLatin1String("profile")) {
            readScope = ProfileFileScope::Profile;
        } else if (scopeValue.toString() != QLatin1String("table")) {
            error = QStringLiteral("\"scope\" is %1, expected \"table\" or \"profile\".")
                        .arg(shown(scopeValue));
            return false;
        }
    }
    const QJsonValue profilesValue = root.value(QStringLiteral("profiles"));
    if (!profilesValue.isArray()) {
        error =
            QStringLiteral("\"profiles\" is %1, expected a list.").arg(jsonTypeName(profilesValue));
        return false;
    }
    const QJsonArray profiles = profilesValue.toArray();
    const int highest = readScope == ProfileFileScope::Profile ? 1 : maxProfiles;
    if (profiles.isEmpty() || profiles.size() > highest) {
        error = readScope == ProfileFileScope::Profile
                    ? QStringLiteral("\"profiles\" holds %1 profiles; a single-profile file holds "
                                     "exactly 1.")
                          .arg(profiles.size())
                    : QStringLiteral("\"profiles\" holds %1 profiles; a wheel base holds 1 to %2.")
                          .arg(profiles.size())
                          .arg(maxProfiles);
        return false;
    }
    const QJsonValue current = root.value(QStringLiteral("currentProfile"));
    if (!current.isDouble() || current.toDouble() != std::floor(current.toDouble()) ||
        current.toDouble() < 0 || current.toDouble() >= profiles.size()) {
        error = QStringLiteral("\"currentProfile\" is %1, expected a profile number from 0 to %2.")
                    .arg(shown(current), QString::number(profiles.size() - 1));
        return false;
    }

    ProfileTable read;
    read.currentProfile = int(current.toDouble());
    read.profiles.resize(profiles.size());
    for (int i = 0; i < profiles.size(); ++i) {
        const QJsonValue value = profiles.at(i);
        if (!value.isObject()) {
            error = QStringLiteral("Profile %1 is %2, expected an object.")
                        .arg(i)
                        .arg(jsonTypeName(value));
            return false;
        }
        const QJsonObject object = value.toObject();
        QString problem;
        if (!readProfile(object, read.profiles[i], problem)) {
            error = profileLabel(i, object) + QStringLiteral(": ") + problem;
            return false;
        }
        // A table's slot i holds the profile numbered i; the device files
        // each written profile under its number.
        if (readScope == ProfileFileScope::Table && read.profiles[i].index != i) {
            error = profileLabel(i, object) +
                    QStringLiteral(": \"index\" is %1, expected %2 (its place in the list).")
                        .arg(read.profiles[i].index)
                        .arg(i);
            return false;
        }
    }
    table = read;
    scope = readScope;
    return true;
}

bool writeProfileFile(const QString &path, const ProfileTable &table, QString &error)
{
    return writeProfileFile(path, table, ProfileFileScope::Table, error);
}

bool writeProfileFile(const QString &path, const ProfileTable &table, ProfileFileScope scope,
                      QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error =
            QStringLiteral("Cannot write \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    const QByteArray bytes = profileTableToJson(table, scope);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        error =
            QStringLiteral("Cannot write \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    return true;
}

bool readProfileFile(const QString &path, ProfileTable &table, QString &error)
{
    ProfileFileScope scope;
    return readProfileFile(path, table, error, scope);
}

bool readProfileFile(const QString &path, ProfileTable &table, QString &error,
                     ProfileFileScope &scope)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot read \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    // Read one byte past the limit to tell a file at the limit from a larger
    // one, also where the size is not known in advance.
    const QByteArray bytes = file.read(maxProfileFileBytes + 1);
    if (bytes.size() > maxProfileFileBytes) {
        error = QStringLiteral("Cannot read \"%1\": it is larger than %2 bytes, too large for a "
                               "profile file.")
                    .arg(nativePath(path), QString::number(maxProfileFileBytes));
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Cannot read \"%1\": %2.").arg(nativePath(path), file.errorString());
        return false;
    }
    QString problem;
    if (!profileTableFromJson(bytes, table, problem, scope)) {
        error = QStringLiteral("\"%1\": %2").arg(nativePath(path), problem);
        return false;
    }
    return true;
}

QStringList profileTableDifferences(const ProfileTable &expected, const ProfileTable &actual)
{
    QStringList lines;
    if (expected.profiles.size() != actual.profiles.size())
        lines << QStringLiteral("The device holds %1 profiles, expected %2.")
                     .arg(actual.profiles.size())
                     .arg(expected.profiles.size());
    if (expected.currentProfile != actual.currentProfile)
        lines << QStringLiteral("The current profile is %1, expected %2.")
                     .arg(actual.currentProfile)
                     .arg(expected.currentProfile);
    const int common = qMin(expected.profiles.size(), actual.profiles.size());
    for (int i = 0; i < common; ++i) {
        const ZudUsbWheelBaseProfile &e = expected.profiles[i];
        const ZudUsbWheelBaseProfile &a = actual.profiles[i];
        for (const Field &f : fields()) {
            if (fieldEqual(e, a, f))
                continue;
            lines << QStringLiteral("%1: \"%2\" is %3, expected %4.")
                         .arg(profileLabel(i, e), QLatin1String(f.key), valueText(a, f),
                              valueText(e, f));
        }
    }
    return lines;
}
