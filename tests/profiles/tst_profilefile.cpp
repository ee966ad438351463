// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files and backups: byte-exact round trips, the refusal of every
// kind of bad document, save verification lines, and the backup store.
#include "ProfileSupport.h"
#include "profiles/ProfileBackupStore.h"
#include "profiles/ProfileFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>

Q_DECLARE_METATYPE(ProfileTable)

namespace {

using testing::makeProfile;

ProfileTable makeTable(int count, int current = 0)
{
    ProfileTable table;
    table.currentProfile = current;
    for (int i = 0; i < count; ++i)
        table.profiles.append(makeProfile(i, "Profile " + QByteArray::number(i)));
    return table;
}

float floatFromBits(quint32 bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Sets (or, with an undefined value, removes) the value at a path such as
// "profiles/1/maxForce" in a JSON document.
QJsonValue changed(const QJsonValue &node, QStringList path, const QJsonValue &value)
{
    const QString key = path.takeFirst();
    if (node.isArray()) {
        QJsonArray array = node.toArray();
        const int i = key.toInt();
        if (path.isEmpty())
            array[i] = value;
        else
            array[i] = changed(array[i], path, value);
        return array;
    }
    QJsonObject object = node.toObject();
    if (path.isEmpty() && value.isUndefined())
        object.remove(key);
    else if (path.isEmpty())
        object[key] = value;
    else
        object[key] = changed(object[key], path, value);
    return object;
}

} // namespace

class TestProfileFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void roundTrip_data()
    {
        QTest::addColumn<ProfileTable>("table");
        QTest::newRow("one profile") << makeTable(1);
        QTest::newRow("100 profiles") << makeTable(100, 57);

        ProfileTable names = makeTable(8, 7);
        const QByteArray odd[] = {
            QByteArray("\xff\xfe Latin \xe9", 11),           // not UTF-8
            QByteArray("Sixteen bytes!!!"),                  // no terminating zero
            QByteArray("\xc3\xa9t\xc3\xa9 \xe2\x82\xac", 9), // UTF-8
            QByteArray("A\0junk after", 12),                 // bytes after the zero
            QByteArray("\"quote\\ \t\n", 10),                // JSON escapes
            QByteArray(),                                    // empty
            QByteArray("\xed\xa0\x80surrogate", 12),         // encoded surrogate
            QByteArray("\xe2\x82", 2),                       // cut character
        };
        for (int i = 0; i < 8; ++i) {
            std::memset(names.profiles[i].name, 0, zudProfileNameBytes);
            std::memcpy(names.profiles[i].name, odd[i].constData(), size_t(odd[i].size()));
        }
        QTest::newRow("odd names") << names;

        ProfileTable floats = makeTable(9);
        const float extreme[] = {std::numeric_limits<float>::quiet_NaN(),
                                 floatFromBits(0xffc01234), // negative NaN with a payload
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 -0.0f,
                                 std::numeric_limits<float>::denorm_min(),
                                 -std::numeric_limits<float>::max(),
                                 1.0f / 3.0f,
                                 std::numeric_limits<float>::min()};
        for (int i = 0; i < 9; ++i)
            floats.profiles[i].centerOffset = extreme[i];
        QTest::newRow("extreme floats") << floats;

        // Enumeration bytes without a combo text are written as numbers.
        ProfileTable enums = makeTable(2);
        enums.profiles[1].encoderType = 200;
        enums.profiles[1].springEffect = 3;
        QTest::newRow("enumerations without a text") << enums;
    }

    void roundTrip()
    {
        QFETCH(ProfileTable, table);
        ProfileTable read;
        QString error;
        QVERIFY2(profileTableFromJson(profileTableToJson(table), read, error), qPrintable(error));
        QVERIFY(read == table);

        QTemporaryDir dir;
        const QString path = dir.filePath("table.json");
        QVERIFY2(writeProfileFile(path, table, error), qPrintable(error));
        ProfileTable fromFile;
        QVERIFY2(readProfileFile(path, fromFile, error), qPrintable(error));
        QVERIFY(fromFile == table);
        QVERIFY(profileTableDifferences(table, fromFile).isEmpty());
    }

    // The document as a person sees it; the README shows the same.
    void readableDocument()
    {
        ProfileTable table;
        table.profiles.append(makeProfile(0, "Rally"));
        table.profiles[0].centerOffset = 0.25f;
        const QByteArray expected = R"({
    "format": "zud-wheel-profiles",
    "version": 1,
    "currentProfile": 0,
    "profiles": [
        {
            "index": 0,
            "name": "Rally",
            "centerOffset": 0.25,
            "rotationDegrees": 0,
            "encoderType": "Incremental",
            "encoderResolution": 4194304,
            "maxForce": 0,
            "smoothing": 0,
            "damping": 0,
            "friction": 55,
            "inertia": 0,
            "spring": 100,
            "dampingEffect": "Device Effect Only",
            "frictionEffect": "Device and Game Effects",
            "inertiaEffect": "Device Effect Only",
            "springEffect": "Game Effect Only"
        }
    ]
}
)";
        QCOMPARE(profileTableToJson(table), expected);

        // One profile on its own says so, and reads back as such.
        ProfileTable read;
        QString error;
        ProfileFileScope scope = ProfileFileScope::Table;
        table.profiles[0].index = 7;
        QVERIFY(profileTableFromJson(profileTableToJson(table, ProfileFileScope::Profile), read,
                                     error, scope));
        QCOMPARE(int(scope), int(ProfileFileScope::Profile));
        QVERIFY(read == table);
    }

    void badDocument_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QString>("message");
        const QJsonValue none(QJsonValue::Undefined);
        const QString b = QStringLiteral("Profile 1 \"Profile 1\": ");
        QTest::newRow("other format") << "format" << QJsonValue("csv")
                                      << "\"format\" is \"csv\", expected \"zud-wheel-profiles\".";
        QTest::newRow("newer version")
            << "version" << QJsonValue(2) << "\"version\" is 2: the file";
        QTest::newRow("version as text") << "version" << QJsonValue("1") << "\"version\" is \"1\"";
        QTest::newRow("no profiles")
            << "profiles" << QJsonValue(QJsonArray()) << "\"profiles\" holds 0 profiles";
        QTest::newRow("profiles not a list")
            << "profiles" << QJsonValue(3) << "\"profiles\" is a number, expected a list.";
        QTest::newRow("current beyond") << "currentProfile" << QJsonValue(2)
                                        << "\"currentProfile\" is 2, expected a profile number";
        QTest::newRow("unknown scope") << "scope" << QJsonValue("all") << "\"scope\" is \"all\"";
        QTest::newRow("profile not object") << "profiles/1" << QJsonValue(true)
                                            << "Profile 1 is true or false, expected an object.";
        QTest::newRow("field missing")
            << "profiles/1/maxForce" << none << b + "\"maxForce\" is missing.";
        QTest::newRow("above range") << "profiles/1/maxForce" << QJsonValue(250)
                                     << b + "\"maxForce\" is 250, outside 0 to 100.";
        QTest::newRow("below range") << "profiles/1/damping" << QJsonValue(-10)
                                     << b + "\"damping\" is -10, outside 0 to 100.";
        QTest::newRow("smoothing")
            << "profiles/1/smoothing" << QJsonValue(5) << b + "\"smoothing\" is 5, outside 0 to 4.";
        QTest::newRow("rotation") << "profiles/1/rotationDegrees" << QJsonValue(10000)
                                  << b + "\"rotationDegrees\" is 10000, outside 0 to 9999.";
        QTest::newRow("resolution") << "profiles/1/encoderResolution" << QJsonValue(1e9)
                                    << b + "\"encoderResolution\" is 1000000000, outside";
        QTest::newRow("number as text") << "profiles/1/maxForce" << QJsonValue("50")
                                        << b + "\"maxForce\" is a string, expected a number.";
        QTest::newRow("fraction") << "profiles/1/spring" << QJsonValue(50.5)
                                  << b + "\"spring\" is 50.5, expected a whole number.";
        QTest::newRow("unknown text") << "profiles/1/encoderType" << QJsonValue("Optical")
                                      << b + "\"encoderType\" is \"Optical\", expected one of";
        QTest::newRow("enum beyond a byte") << "profiles/1/springEffect" << QJsonValue(256)
                                            << b + "\"springEffect\" is 256, outside 0 to 255.";
        QTest::newRow("index elsewhere")
            << "profiles/1/index" << QJsonValue(7) << b + "\"index\" is 7, expected 1";
        QTest::newRow("name too long")
            << "profiles/1/name" << QJsonValue(QString::fromUtf8("Seventeen \xe2\x82\xac bytes"))
            << "\"name\" is \"Seventeen \xe2\x82\xac bytes\", 19 bytes in UTF-8, longer than 16.";
        QTest::newRow("name not text") << "profiles/1/name" << QJsonValue(5)
                                       << "Profile 1: \"name\" is a number, expected a string.";
        QTest::newRow("name bytes malformed") << "profiles/1/nameBytes" << QJsonValue("zz")
                                              << b + "\"nameBytes\" is \"zz\", expected 32";
        QTest::newRow("name bytes disagree")
            << "profiles/1/nameBytes" << QJsonValue("41000000000000000000000000000000")
            << b + "\"name\" is \"Profile 1\", but \"nameBytes\" holds \"A\"";
        QTest::newRow("float as word") << "profiles/1/centerOffset" << QJsonValue("nan")
                                       << b + "\"centerOffset\" is \"nan\", expected a number";
        QTest::newRow("float overflow") << "profiles/1/centerOffset" << QJsonValue(1e39)
                                        << b + "\"centerOffset\" is 1e+39, outside the range";
        // Text from the file holding "%1" is shown as it stands, and the
        // message's own values still fill their places.
        QTest::newRow("current as %1")
            << "currentProfile" << QJsonValue("%1")
            << "\"currentProfile\" is \"%1\", expected a profile number from 0 to 1.";
        QTest::newRow("name bytes %1") << "profiles/1/nameBytes" << QJsonValue("%1")
                                       << b + "\"nameBytes\" is \"%1\", expected 32 hexadecimal";
        QTest::newRow("long name %0")
            << "profiles/1/name" << QJsonValue("%0 is seventeen b")
            << "\"name\" is \"%0 is seventeen b\", 17 bytes in UTF-8, longer than 16.";
    }

    void badDocument()
    {
        QFETCH(QString, path);
        QFETCH(QJsonValue, value);
        QFETCH(QString, message);
        const QJsonValue good = QJsonDocument::fromJson(profileTableToJson(makeTable(2))).object();
        const QByteArray json =
            QJsonDocument(changed(good, path.split('/'), value).toObject()).toJson();

        ProfileTable table = makeTable(3, 2);
        const ProfileTable before = table;
        QString error;
        QVERIFY(!profileTableFromJson(json, table, error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(table == before);
    }

    void badFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray() << "Cannot read";
        QTest::newRow("not JSON") << QByteArray("{\"format\": ") << "is not a JSON document";
        QTest::newRow("array") << QByteArray("[]") << "the document is not a JSON object";
        QTest::newRow("name twice")
            << QByteArray(
                   "{\"format\": \"zud-wheel-profiles\", \"version\": 1, \"currentProfile\": 0, "
                   "\"profiles\": [{\"index\": 0}], \"profiles\": [{\"index\": 1}]}")
            << "\"profiles\" appears twice in one object; each name may appear once.";
        QTest::newRow("escaped name twice")
            << QByteArray("{\"profiles\": [{\"maxForce\": 1, \"max\\u0046orce\": 2}]}")
            << "\"maxForce\" appears twice";
        QTest::newRow("too large")
            << QByteArray(int(maxProfileFileBytes) + 1, ' ') << "too large for a profile file";
        QJsonObject many = QJsonDocument::fromJson(profileTableToJson(makeTable(1))).object();
        QJsonArray list = many["profiles"].toArray();
        while (list.size() <= maxProfiles)
            list.append(list.first());
        many["profiles"] = list;
        QTest::newRow("101 profiles")
            << QJsonDocument(many).toJson() << "holds 101 profiles; a wheel base holds 1 to 100.";
    }

    void badFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.json");
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ProfileTable table = makeTable(1);
        QString error;
        QVERIFY(!readProfileFile(path, table, error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QVERIFY(table == makeTable(1));

        // A file that cannot be created is reported and leaves nothing.
        const QString unwritable = dir.filePath("no/such/folder/x.json");
        QVERIFY(!writeProfileFile(unwritable, table, error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(unwritable)), qPrintable(error));
    }

    void differences_data()
    {
        QTest::addColumn<ProfileTable>("actual");
        QTest::addColumn<QStringList>("lines");
        ProfileTable damping = makeTable(3, 1);
        damping.profiles[2].damping = 30;
        QTest::newRow("one field") << damping
                                   << QStringList{"Profile 2 \"Profile 2\": \"damping\" is 30, "
                                                  "expected 20."};
        ProfileTable two = makeTable(3, 1);
        two.profiles[0].encoderType = 3;
        std::memcpy(two.profiles[1].name, "Wet\0", 4);
        QTest::newRow("enumeration and name")
            << two
            << QStringList{"Profile 0 \"Profile 0\": \"encoderType\" is \"BISS-C (Rev)\", "
                           "expected \"Incremental\".",
                           "Profile 1 \"Profile 1\": \"name\" is \"Wet\" (bytes "
                           "57657400696c65203100000000000000), expected \"Profile 1\"."};
        ProfileTable shorter = makeTable(2, 0);
        QTest::newRow("count and current")
            << shorter
            << QStringList{"The device holds 2 profiles, expected 3.",
                           "The current profile is 0, expected 1."};
        ProfileTable nan = makeTable(3, 1);
        nan.profiles[0].centerOffset = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("float") << nan
                               << QStringList{"Profile 0 \"Profile 0\": \"centerOffset\" is "
                                              "0x7fc00000, expected -0.5."};
    }

    void differences()
    {
        QFETCH(ProfileTable, actual);
        QFETCH(QStringList, lines);
        QCOMPARE(profileTableDifferences(makeTable(3, 1), actual), lines);
    }

    // A folder stays the device's across ports and replugs: the serial
    // number, or without one the vendor id, product id and product string.
    void backupFolders_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("folder");
        QTest::newRow("serial") << "ZWB-0001"
                                << "ZUD Wheel Base"
                                << "ZWB-0001";
        QTest::newRow("serial, other product") << " ZWB-0001 "
                                               << "Other"
                                               << "ZWB-0001";
        QTest::newRow("no serial") << ""
                                   << "ZUD Wheel Base"
                                   << "0483-a355-ZUD_Wheel_Base";
        QTest::newRow("serial made safe") << QString::fromUtf8("\xc3\x84-1") << "ZUD Wheel Base"
                                          << "_-1-67ee58ee";
        QTest::newRow("blank serial") << "  "
                                      << "ZUD Wheel Base"
                                      << "0483-a355-ZUD_Wheel_Base";
    }

    void backupFolders()
    {
        QFETCH(QString, serial);
        QFETCH(QString, product);
        QFETCH(QString, folder);
        QCOMPARE(ProfileBackupStore::deviceFolder(serial, 0x0483, 0xA355, product), folder);
    }

    // Serial numbers that read alike once made safe keep folders of their
    // own, each a plain name.
    void distinctFolders_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("non-ASCII, same length")
            << QString::fromUtf8("\xc3\x84-1") << QString::fromUtf8("\xc3\x96-1");
        QTest::newRow("space and underscore") << "a b"
                                              << "a_b";
        QTest::newRow("dots") << "../a b"
                              << "_._a_b";
        QTest::newRow("long, differing at the end")
            << QString(130, 'x') + "1" << QString(130, 'x') + "2";
    }

    void distinctFolders()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        const QString folderA = ProfileBackupStore::deviceFolder(a, 0x0483, 0xA355, "P");
        const QString folderB = ProfileBackupStore::deviceFolder(b, 0x0483, 0xA355, "P");
        QVERIFY2(folderA != folderB, qPrintable(folderA));
        const QRegularExpression plain("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,119}$");
        QVERIFY2(plain.match(folderA).hasMatch(), qPrintable(folderA));
        QVERIFY2(plain.match(folderB).hasMatch(), qPrintable(folderB));
    }

    void backups()
    {
        // The default root follows the data folder (test mode keeps it out
        // of the real home).
        QVERIFY(ProfileBackupStore().root().endsWith("/backups"));
        QVERIFY(ProfileBackupStore().root().startsWith(
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));

        QTemporaryDir dir;
        ProfileBackupStore store(dir.filePath("backups"));
        QDateTime now(QDate(2026, 12, 7), QTime(14, 7, 9));
        store.setClock([&now] { return now; });
        QString error;
        const QString first = store.write("ZWB-0001", makeTable(3), "save", error);
        QCOMPARE(first, dir.filePath("backups/ZWB-0001/000001-2026-12-07-14-07-09-save.json"));
        // The same second again gets its own name, numbered in order.
        const QString second = store.write("ZWB-0001", makeTable(5), "factory-defaults", error);
        QCOMPARE(QFileInfo(second).fileName(),
                 QString("000002-2026-12-07-14-07-09-factory-defaults.json"));
        const QString third = store.write("ZWB-0001", makeTable(1), "save", error);
        QCOMPARE(QFileInfo(third).fileName(), QString("000003-2026-12-07-14-07-09-save.json"));
        QList<ProfileBackup> list = store.list("ZWB-0001");
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].path, third);
        QCOMPARE(list[0].reason, QString("save"));
        QCOMPARE(list[0].profileCount, 1);
        QCOMPARE(list[0].time, now);
        QCOMPARE(list[2].path, first);
        QCOMPARE(list[1].reason, QString("factory-defaults"));
        QCOMPARE(list[1].profileCount, 5);
        ProfileTable read;
        QVERIFY(readProfileFile(first, read, error));
        QVERIFY(read == makeTable(3));

        // The 51st backup removes the oldest.
        for (int i = 0; i < 47; ++i) {
            now = now.addSecs(1);
            QVERIFY(!store.write("ZWB-0001", makeTable(2), "import", error).isEmpty());
        }
        QCOMPARE(store.list("ZWB-0001").size(), 50);
        QVERIFY(QFileInfo::exists(first));
        now = now.addSecs(1);
        const QString newest = store.write("ZWB-0001", makeTable(2), "unsaved", error);
        list = store.list("ZWB-0001");
        QCOMPARE(list.size(), 50);
        QCOMPARE(list.first().path, newest);
        QVERIFY(!QFileInfo::exists(first));
        QVERIFY(QFileInfo::exists(second));
        QVERIFY(store.list("another device").isEmpty());

        // A folder that cannot be created: no path, and why.
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ProfileBackupStore blocked(dir.filePath("file"));
        error.clear();
        QVERIFY(blocked.write("ZWB-0001", makeTable(1), "save", error).isEmpty());
        QVERIFY2(error.contains("Cannot create the backup folder"), qPrintable(error));
    }

    // Neither a clock set back nor names of earlier versions dated ahead
    // make a new backup look the oldest: the two written last stay, with
    // the newest 48 of those before them.
    void rotationAfterClockSetBack_data()
    {
        QTest::addColumn<bool>("unnumbered");
        QTest::newRow("numbered backups dated ahead") << false;
        QTest::newRow("unnumbered names dated ahead") << true;
    }

    void rotationAfterClockSetBack()
    {
        QFETCH(bool, unnumbered);
        QTemporaryDir dir;
        ProfileBackupStore store(dir.filePath("backups"));
        const QDateTime ahead(QDate(2027, 6, 1), QTime(12, 0, 0));
        QString error;
        QStringList before; // oldest first
        for (int i = 0; i < ProfileBackupStore::keptPerDevice; ++i) {
            const QDateTime time = ahead.addSecs(i);
            if (unnumbered) {
                before << dir.filePath("backups/ZWB-0001/" + time.toString("yyyy-MM-dd-hh-mm-ss") +
                                       "-save.json");
                QVERIFY(QDir().mkpath(dir.filePath("backups/ZWB-0001")));
                QVERIFY(writeProfileFile(before.last(), makeTable(2), error));
            } else {
                store.setClock([time] { return time; });
                before << store.write("ZWB-0001", makeTable(2), "save", error);
            }
        }
        store.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)); });
        const QString a = store.write("ZWB-0001", makeTable(3), "save", error);
        const QString b = store.write("ZWB-0001", makeTable(4), "save", error);
        const QList<ProfileBackup> list = store.list("ZWB-0001");
        QCOMPARE(list.size(), ProfileBackupStore::keptPerDevice);
        QCOMPARE(list[0].path, b);
        QCOMPARE(list[1].path, a);
        QCOMPARE(list[1].profileCount, 3);
        QVERIFY(!QFileInfo::exists(before[0]) && !QFileInfo::exists(before[1]));
        for (int i = 2; i < before.size(); ++i)
            QCOMPARE(list[2 + before.size() - 1 - i].path, before[i]);
    }

    // Names without a number are read and count as older than every
    // numbered one; within them the time and the ".<k>" of a second order.
    void unnumberedNames()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("backups/ZWB-0001/");
        QVERIFY(QDir().mkpath(folder));
        QString error;
        const QStringList names = {"2026-12-07-14-07-10-import.json",
                                   "2026-12-07-14-07-09-save.2.json",
                                   "2026-12-07-14-07-09-save.json"};
        for (int i = names.size() - 1; i >= 0; --i) // in the order written
            QVERIFY(writeProfileFile(folder + names[i], makeTable(2), error));
        ProfileBackupStore store(dir.filePath("backups"));
        store.setClock([] { return QDateTime(QDate(2020, 1, 1), QTime(0, 0, 0)); });
        const QString written = store.write("ZWB-0001", makeTable(1), "save", error);
        QCOMPARE(QFileInfo(written).fileName(), QString("000001-2020-01-01-00-00-00-save.json"));
        const QList<ProfileBackup> list = store.list("ZWB-0001");
        QCOMPARE(list.size(), 4);
        QCOMPARE(list[0].path, written);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(QFileInfo(list[i + 1].path).fileName(), names[i]);
        QCOMPARE(list[1].reason, QString("import"));
        QCOMPARE(list[1].time, QDateTime(QDate(2026, 12, 7), QTime(14, 7, 10)));
        QCOMPARE(list[1].profileCount, 2);
    }

    // A name that is taken in any form, even one a check for an existing
    // file misses (a link to nowhere), is left as it is: the backup takes
    // the next number.
    void takenNameIsNotReplaced()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("backups/ZWB-0001/");
        QVERIFY(QDir().mkpath(folder));
        const QString taken = folder + "000001-2026-12-07-14-07-09-save.json";
        QVERIFY(QFile::link(dir.filePath("nowhere"), taken));
        ProfileBackupStore store(dir.filePath("backups"));
        store.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 7, 9)); });
        QString error;
        const QString written = store.write("ZWB-0001", makeTable(2), "save", error);
        QCOMPARE(QFileInfo(written).fileName(), QString("000002-2026-12-07-14-07-09-save.json"));
        QVERIFY(QFileInfo(taken).isSymLink());
        QCOMPARE(QFileInfo(taken).symLinkTarget(), dir.filePath("nowhere"));
    }

    // Backups in the folders that earlier versions named are listed with
    // the device's: the serial number made safe without its hash, and
    // "<product>-<interface path>" of any port for a device without one.
    void formerFolders_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QStringList>("former");
        QTest::addColumn<QStringList>("others");
        QTest::newRow("non-ASCII serial") << QString::fromUtf8("\xc3\x84-1") << QStringList{"_-1"}
                                          << QStringList{"0483-a355-ZUD_Wheel_Base"};
        QTest::newRow("no serial")
            << QString()
            << QStringList{"ZUD_Wheel_Base-_dev_hidraw3", "ZUD_Wheel_Base-_dev_hidraw7"}
            << QStringList{"Other-_dev_hidraw3", "_-1"};
        QTest::newRow("plain serial")
            << "ZWB-0001" << QStringList() << QStringList{"ZUD_Wheel_Base-_dev_hidraw3"};
    }

    void formerFolders()
    {
        QFETCH(QString, serial);
        QFETCH(QStringList, former);
        QFETCH(QStringList, others);
        QTemporaryDir dir;
        ProfileBackupStore store(dir.filePath("backups"));
        QString error;
        for (const QString &folder : former + others) {
            QVERIFY(QDir().mkpath(store.root() + "/" + folder));
            QVERIFY(writeProfileFile(store.root() + "/" + folder + "/2026-12-07-14-07-09-save.json",
                                     makeTable(1), error));
        }
        const QString folder =
            ProfileBackupStore::deviceFolder(serial, 0x0483, 0xA355, "ZUD Wheel Base");
        store.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(1, 0, 0)); });
        const QString written = store.write(folder, makeTable(2), "save", error);
        QCOMPARE(store.formerFolders(serial, "ZUD Wheel Base"), former);
        const QList<ProfileBackup> list =
            store.list(folder, store.formerFolders(serial, "ZUD Wheel Base"));
        QCOMPARE(list.size(), 1 + former.size());
        QCOMPARE(list[0].path, written);
        for (int i = 1; i < list.size(); ++i)
            QVERIFY2(former.contains(QFileInfo(list[i].path).dir().dirName()),
                     qPrintable(list[i].path));
    }
};

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
