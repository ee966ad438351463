// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles that follow the game: the rules file, the matching against a
// process list of the test's own, and the switch on an emulated wheel base.
#include "DeviceRig.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "games/GameMatcher.h"
#include "games/GameRules.h"
#include "games/GameWatcher.h"
#include "games/ProfileSwitcher.h"
#include "simulator/WheelBaseEmulator.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstddef>
#include <cstring>

Q_DECLARE_METATYPE(ProcessInfo)

namespace {

const QByteArray goodRules = R"({
    "format": "zud-wheel-games",
    "version": 1,
    "enabled": true,
    "defaultProfile": "Road",
    "games": [
        { "name": "Endurance Racer", "executable": "EnduranceRacer-Win64-Shipping.exe", "profile": "GT3" },
        { "name": "Rally Stages", "executable": "rallystages", "profile": "Rally" }
    ]
})";

QByteArray withGame(const QByteArray &game)
{
    return R"({"format": "zud-wheel-games", "version": 1, "enabled": true, "games": [
        { "name": "Endurance Racer", "executable": "er.exe", "profile": "GT3" }, )" +
           game + "]}";
}

GameRules sampleRules()
{
    GameRules rules;
    QString error;
    if (!gameRulesFromJson(goodRules, rules, error))
        qFatal("%s", qPrintable(error));
    return rules;
}

struct FakeProcesses : ProcessSource {
    QVector<ProcessInfo> list;
    QVector<ProcessInfo> processes() override { return list; }
};

using Rig = DeviceRig<emu::WheelBaseEmulator, UsbDeviceZudWheelBase>;

std::vector<ZudUsbWheelBaseProfile> namedProfiles(const QList<QByteArray> &names)
{
    std::vector<ZudUsbWheelBaseProfile> profiles;
    for (int i = 0; i < names.size(); ++i) {
        ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(i);
        std::memset(p.name, 0, sizeof p.name);
        std::memcpy(p.name, names.at(i).constData(), size_t(names.at(i).size()));
        profiles.push_back(p);
    }
    return profiles;
}

size_t writesTo(const emu::WheelBaseEmulator &emulator)
{
    size_t writes = 0;
    for (const vhid::Report &report : emulator.commands())
        if (report.size() > 1 && (report[1] == uint8_t(ZudUsbCommand::SaveSettings) ||
                                  report[1] == uint8_t(ZudUsbCommand::WriteProfile)))
            ++writes;
    return writes;
}

// A watcher over a rig's manager with rules of the test's own, looking only
// when told to.
struct WatchedRig {
    explicit WatchedRig(int current = 0)
    {
        rig.emulator->setProfiles(namedProfiles({"Road", "GT3", "Rally"}), current);
        writeRules(goodRules);
    }
    void writeRules(const QByteArray &json)
    {
        GameRules rules;
        QString error;
        if (!gameRulesFromJson(json, rules, error) ||
            !writeGameRulesFile(dir.filePath("games.json"), rules, error))
            qFatal("%s", qPrintable(error));
    }
    std::unique_ptr<GameWatcher> watcher(const QString &lock = QString())
    {
        auto w = std::make_unique<GameWatcher>(rig.manager, &source);
        w->setRulesPath(dir.filePath("games.json"));
        w->setLockPath(lock.isEmpty() ? dir.filePath("watcher.lock") : lock);
        w->setPollIntervalMs(60 * 60 * 1000);
        return w;
    }
    Rig rig{{}, Rig::ReaderThread, 0xA355};
    QTemporaryDir dir;
    FakeProcesses source;
};

const ProcessInfo wineGame{30, 200, "Z:\\games\\EnduranceRacer-Win64-Shipping.exe",
                           "/usr/bin/wine"};
const ProcessInfo nativeGame{20, 300, "/opt/rally/rallystages", "/opt/rally/rallystages"};

} // namespace

class TestGames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qRegisterMetaType<UsbDeviceZudWheelBase *>();
    }
    void cleanup() { vhid::unplugAll(); }

    void rulesFile_data();
    void rulesFile();
    void rulesRoundTrip();
    void matching_data();
    void matching();
    void switcher_data();
    void switcher();
    void watcher();
    void watcherStandsByAndTakesOver();
#ifdef Q_OS_LINUX
    void procSourceFindsThisProcess();
    void procSourceReadsATree();
#endif
};

void TestGames::rulesFile_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("issue example") << goodRules << QString();
    QTest::newRow("default null") << QByteArray(R"({"format": "zud-wheel-games", "version": 1,
        "enabled": false, "defaultProfile": null, "games": []})")
                                  << QString();
    QTest::newRow("default absent")
        << withGame(R"({"name": "B", "executable": "b", "profile": "X"})") << QString();
    QTest::newRow("other format")
        << QByteArray(
               R"({"format": "zud-wheel-profiles", "version": 1, "enabled": true, "games": []})")
        << "\"format\" must be \"zud-wheel-games\"";
    QTest::newRow("other version")
        << QByteArray(
               R"({"format": "zud-wheel-games", "version": 2, "enabled": true, "games": []})")
        << "\"version\" must be 1";
    QTest::newRow("enabled not bool")
        << QByteArray(R"({"format": "zud-wheel-games", "version": 1, "enabled": 1, "games": []})")
        << "\"enabled\" must be true or false";
    QTest::newRow("default not text") << QByteArray(R"({"format": "zud-wheel-games", "version": 1,
        "enabled": true, "defaultProfile": 3, "games": []})")
                                      << "\"defaultProfile\" must be";
    QTest::newRow("no profile") << withGame(R"({"name": "Rally Stages", "executable": "rs"})")
                                << "Game 2 \"Rally Stages\": \"profile\" is missing.";
    QTest::newRow("empty executable")
        << withGame(R"({"name": "Rally Stages", "executable": " ", "profile": "R"})")
        << "Game 2 \"Rally Stages\": \"executable\" must be a text that is not empty.";
    QTest::newRow("executable with folder")
        << withGame(R"({"name": "Rally Stages", "executable": "bin/rs", "profile": "R"})")
        << "Game 2 \"Rally Stages\": \"executable\" must be a file name";
    QTest::newRow("unknown field")
        << withGame(R"({"name": "Rally Stages", "executable": "rs", "profile": "R", "x": 1})")
        << "Game 2 \"Rally Stages\": \"x\" is not a field of a game.";
    QTest::newRow("name not text") << withGame(R"({"name": 5, "executable": "rs", "profile": "R"})")
                                   << "Game 2: \"name\" must be a text";
    QTest::newRow("game not object") << withGame("[]") << "Game 2 is not a JSON object.";
    QTest::newRow("repeated key")
        << withGame(R"({"name": "A", "executable": "a", "executable": "b", "profile": "R"})")
        << "\"executable\" appears twice";
    QTest::newRow("not json") << QByteArray("{") << "This is not a JSON document";
}

void TestGames::rulesFile()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    GameRules rules;
    rules.games.append({"kept", "kept", "kept"});
    QString message;
    const bool accepted = gameRulesFromJson(json, rules, message);
    QVERIFY2(accepted == error.isEmpty(), qPrintable(message));
    if (accepted)
        return;
    QVERIFY2(message.contains(error), qPrintable(message));
    // A refused document leaves the rules as they were.
    QCOMPARE(rules.games.size(), 1);
}

void TestGames::rulesRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/games.json");
    GameRules rules = sampleRules();
    QString error;
    QVERIFY2(writeGameRulesFile(path, rules, error), qPrintable(error));
    GameRules read;
    QVERIFY2(readGameRulesFile(path, read, error), qPrintable(error));
    QCOMPARE(read.defaultProfile, QStringLiteral("Road"));
    QCOMPARE(read.games.size(), 2);
    QCOMPARE(read.games.at(0).executable, QStringLiteral("EnduranceRacer-Win64-Shipping.exe"));
    // No default profile is written as null and read back as none.
    rules.defaultProfile.clear();
    QVERIFY(writeGameRulesFile(path, rules, error));
    QVERIFY(readGameRulesFile(path, read, error));
    QVERIFY(read.defaultProfile.isEmpty());
    QVERIFY(QFile::resize(path, maxGameRulesFileBytes + 1));
    QVERIFY(!readGameRulesFile(path, read, error));
    QVERIFY2(error.contains("too large"), qPrintable(error));
    QVERIFY(gameRulesPath().endsWith("/games.json"));
}

void TestGames::matching_data()
{
    QTest::addColumn<QVector<ProcessInfo>>("processes");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("withDefault");
    QTest::addColumn<QString>("profile"); // empty: no switch

    const ProcessInfo shell{10, 5, "/bin/bash", "/usr/bin/bash"};
    const ProcessInfo native{20, 100, "/opt/rally/rallystages", "/opt/rally/rallystages"};
    const ProcessInfo wine{30, 200, "Z:\\games\\EnduranceRacer-Win64-Shipping.exe",
                           "/usr/bin/wine64-preloader"};
    const ProcessInfo proton{31, 50,
                             "C:\\Program Files\\Endurance\\ENDURANCERACER-win64-shipping.EXE",
                             "/home/u/.steam/proton/files/bin/wine64-preloader"};
    const ProcessInfo noArgument{40, 300, "", "/opt/rally/rallystages"};
    const ProcessInfo suffixed{41, 400, "C:\\rally\\rallystages.exe", ""};
    const ProcessInfo prefixed{42, 400, "/usr/bin/rallystages-launcher", ""};

    QTest::newRow("nothing listed runs, default")
        << QVector<ProcessInfo>{shell} << true << true << "Road";
    QTest::newRow("nothing listed runs, no default")
        << QVector<ProcessInfo>{shell} << true << false << QString();
    QTest::newRow("native") << QVector<ProcessInfo>{shell, native} << true << true << "Rally";
    QTest::newRow("wine") << QVector<ProcessInfo>{wine, shell} << true << true << "GT3";
    QTest::newRow("proton, case") << QVector<ProcessInfo>{proton} << true << false << "GT3";
    QTest::newRow("executable where no argument")
        << QVector<ProcessInfo>{noArgument} << true << false << "Rally";
    QTest::newRow("whole base name only")
        << QVector<ProcessInfo>{suffixed, prefixed} << true << false << QString();
    QTest::newRow("later start decides")
        << QVector<ProcessInfo>{wine, native} << true << true << "GT3";
    QTest::newRow("later start decides, other order")
        << QVector<ProcessInfo>{proton, native} << true << true << "Rally";
    QTest::newRow("disabled") << QVector<ProcessInfo>{native} << false << true << QString();
}

void TestGames::matching()
{
    QFETCH(QVector<ProcessInfo>, processes);
    QFETCH(bool, enabled);
    QFETCH(bool, withDefault);
    QFETCH(QString, profile);
    GameRules rules = sampleRules();
    rules.enabled = enabled;
    if (!withDefault)
        rules.defaultProfile.clear();
    FakeProcesses source;
    source.list = processes;
    const GameChoice choice = chooseProfile(rules, source.processes());
    QCOMPARE(choice.switches, !profile.isEmpty());
    QCOMPARE(choice.profile, profile);
}

void TestGames::switcher_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("storeDifferently");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("current"); // on the device afterwards

    using O = ProfileSwitcher::Outcome;
    QTest::newRow("switches") << "Rally" << false << int(O::Switched) << 2;
    QTest::newRow("already current") << "GT3" << false << int(O::AlreadyCurrent) << 1;
    QTest::newRow("unknown name") << "rally" << false << int(O::UnknownName) << 1;
    QTest::newRow("read-back differs") << "Road" << true << int(O::ReadBackDiffers) << 0;
}

void TestGames::switcher()
{
    QFETCH(QString, name);
    QFETCH(bool, storeDifferently);
    QFETCH(int, outcome);
    QFETCH(int, current);
    Rig rig({}, Rig::ReaderThread, 0xA355);
    QVERIFY(rig.device);
    rig.emulator->setProfiles(namedProfiles({"Road", "GT3", "Rally"}), 1);
    if (storeDifferently)
        rig.emulator->storeByteDifferently(2, int(offsetof(ZudUsbWheelBaseProfile, damping)), 77);
    rig.emulator->clearCommands();
    QTemporaryDir backups;
    ProfileSwitcher switcher;
    switcher.setBackupStore(ProfileBackupStore(backups.path()));
    QSignalSpy finished(&switcher, &ProfileSwitcher::finished);
    switcher.start(rig.device, name);
    QVERIFY(finished.wait(20000));
    QCOMPARE(int(switcher.outcome()), outcome);
    QCOMPARE(rig.emulator->currentProfile(), current);
    QCOMPARE(switcher.previousProfile(), QStringLiteral("GT3"));
    if (outcome == int(ProfileSwitcher::Outcome::Switched) ||
        outcome == int(ProfileSwitcher::Outcome::ReadBackDiffers))
        QVERIFY(writesTo(*rig.emulator) > 0);
    else
        QCOMPARE(writesTo(*rig.emulator), size_t(0));
    if (outcome == int(ProfileSwitcher::Outcome::UnknownName))
        QCOMPARE(switcher.names(), QStringList({"Road", "GT3", "Rally"}));
    // A backup only when the device holds something else than was sent,
    // and it is the table before the switch.
    const QList<ProfileBackup> written =
        ProfileBackupStore(backups.path()).list(ProfileBackupStore::deviceFolder(*rig.device));
    QCOMPARE(written.size(), storeDifferently ? 1 : 0);
    if (storeDifferently) {
        QCOMPARE(written.first().reason, QStringLiteral("switch"));
        QVERIFY2(switcher.message().contains(written.first().path), qPrintable(switcher.message()));
        ProfileTable backedUp;
        QString error;
        QVERIFY(readProfileFile(written.first().path, backedUp, error));
        QCOMPARE(backedUp.currentProfile, 1);
    }
}

// One watcher through a game's start and end, a second game, a hold, a
// rules file changed under it and a rule naming a profile the wheel base
// does not have.
void TestGames::watcher()
{
    WatchedRig rig;
    std::unique_ptr<GameWatcher> watcher = rig.watcher();
    bool held = false;
    watcher->setHold([&](const UsbDeviceZudWheelBase &) { return held; });
    QSignalSpy switched(watcher.get(), &GameWatcher::switched);
    QSignalSpy waiting(watcher.get(), &GameWatcher::switchWaiting);
    QSignalSpy failed(watcher.get(), &GameWatcher::switchFailed);
    const auto step = [&](QVector<ProcessInfo> processes, const QString &profile,
                          const QString &game) {
        rig.source.list = processes;
        const int before = switched.size();
        watcher->poll();
        if (!switched.wait(20000) && switched.size() == before)
            return false;
        const QList<QVariant> last = switched.last();
        return last.at(1).toString() == profile && last.at(2).toString() == game &&
               rig.rig.emulator->currentProfile() ==
                   QStringList({"Road", "GT3", "Rally"}).indexOf(profile);
    };

    // At start, with no listed game running, nothing is sent.
    rig.rig.emulator->clearCommands();
    watcher->start();
    QVERIFY(!watcher->isStandingBy());
    QVERIFY(!switched.wait(300));
    QCOMPARE(writesTo(*rig.rig.emulator), size_t(0));

    QVERIFY(step({wineGame}, "GT3", "Endurance Racer"));
    QVERIFY(step({wineGame, nativeGame}, "Rally", "Rally Stages"));
    QVERIFY(step({}, "Road", ""));

    held = true;
    rig.source.list = {wineGame};
    watcher->poll();
    watcher->poll();
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting.last().at(1).toString(), QStringLiteral("GT3"));
    QVERIFY(watcher->isPending(*rig.rig.device));
    QVERIFY(!switched.wait(300));
    held = false;
    watcher->recheck();
    QVERIFY(switched.wait(20000));
    QCOMPARE(rig.rig.emulator->currentProfile(), 1);

    // Switched off in the file: the end of the game switches nothing.
    rig.writeRules(QByteArray(goodRules).replace("\"enabled\": true", "\"enabled\": false"));
    rig.source.list = {};
    watcher->poll();
    QVERIFY(!switched.wait(300));
    QCOMPARE(rig.rig.emulator->currentProfile(), 1);

    // A broken file keeps the rules read before; a rule for a profile the
    // wheel base lacks is reported and skipped.
    QSignalSpy refused(watcher.get(), &GameWatcher::rulesRefused);
    QFile broken(rig.dir.filePath("games.json"));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("{ not json");
    broken.close();
    watcher->poll();
    QCOMPARE(refused.size(), 1);
    QVERIFY(!watcher->rules().enabled);
    rig.writeRules(QByteArray(goodRules).replace("\"Rally\" }", "\"Gravel\" }"));
    rig.source.list = {nativeGame};
    watcher->poll();
    QVERIFY(failed.wait(20000));
    QVERIFY2(failed.last().at(3).toString().contains("no profile named \"Gravel\""),
             qPrintable(failed.last().at(3).toString()));
    QCOMPARE(rig.rig.emulator->currentProfile(), 1);
}

// A second watcher of the same user stands by and names the first; it
// takes over when the first stops, and then gives the running game's
// profile to the wheel base, as it does to a wheel base that arrives.
void TestGames::watcherStandsByAndTakesOver()
{
    WatchedRig rig;
    std::unique_ptr<GameWatcher> first = rig.watcher();
    std::unique_ptr<GameWatcher> second = rig.watcher();
    QSignalSpy standby(second.get(), &GameWatcher::standbyChanged);
    QSignalSpy switched(second.get(), &GameWatcher::switched);
    first->start();
    second->start();
    QVERIFY(second->isStandingBy());
    QCOMPARE(standby.size(), 1);
    const QString holder = standby.first().at(1).toString();
    QVERIFY2(holder.contains(QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid())),
             qPrintable(holder));

    rig.source.list = {wineGame};
    second->poll();
    QVERIFY(!switched.wait(300));
    first->stop();
    second->poll();
    QCOMPARE(standby.size(), 2);
    QVERIFY(!second->isStandingBy());
    QVERIFY(switched.wait(20000));
    QCOMPARE(rig.rig.emulator->currentProfile(), 1);

    // A wheel base that arrives while the game runs gets its profile.
    rig.rig.emulator->unplug();
    QVERIFY(QTest::qWaitFor([&] { return rig.rig.manager.getDevices().isEmpty(); }, 20000));
    emu::WheelBaseEmulator::Config config;
    config.factoryProfileCount = 3;
    auto again = emu::WheelBaseEmulator::plug(config);
    again->setProfiles(namedProfiles({"Road", "GT3", "Rally"}), 0);
    QVERIFY(QTest::qWaitFor([&] { return !rig.rig.manager.getDevices().isEmpty(); }, 20000));
    second->poll();
    QVERIFY(switched.wait(20000));
    QCOMPARE(again->currentProfile(), 1);
}

#ifdef Q_OS_LINUX
void TestGames::procSourceFindsThisProcess()
{
    ProcProcessSource source;
    const QVector<ProcessInfo> processes = source.processes();
    const auto self = std::find_if(processes.begin(), processes.end(), [](const ProcessInfo &p) {
        return p.pid == QCoreApplication::applicationPid();
    });
    QVERIFY(self != processes.end());
    QCOMPARE(processBaseName(*self), QStringLiteral("tst_games"));
    QVERIFY(self->executable.endsWith("/tst_games"));
    QVERIFY(self->startTime > 0);
}

// A /proc of the test's own: the start time is field 22 of stat (the name
// before it may hold spaces and parentheses), a process that renames itself
// as Wine does is seen under its new name, and ended processes are gone.
void TestGames::procSourceReadsATree()
{
    QTemporaryDir proc;
    const auto process = [&](int pid, const QByteArray &comm, const QByteArray &cmdline) {
        QDir(proc.path()).mkpath(QString::number(pid));
        const QString folder = proc.filePath(QString::number(pid));
        QFile stat(folder + "/stat");
        QFile args(folder + "/cmdline");
        if (!stat.open(QIODevice::WriteOnly) || !args.open(QIODevice::WriteOnly))
            return false;
        stat.write(QByteArray::number(pid) + " (" + comm +
                   ") S 1 1 1 0 -1 4194560 100 0 0 0 0 0 0 0 20 0 1 0 " +
                   QByteArray::number(pid * 10) + " 1000 100\n");
        args.write(cmdline);
        return true;
    };
    QVERIFY(process(7, "wine64-preload", QByteArray("wine64-preloader\0game.exe\0", 26)));
    QVERIFY(process(8, "odd ) name (x", ""));
    ProcProcessSource source(proc.path());
    QVector<ProcessInfo> seen = source.processes();
    std::sort(seen.begin(), seen.end(),
              [](const ProcessInfo &a, const ProcessInfo &b) { return a.pid < b.pid; });
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.at(0).startTime, quint64(70));
    QCOMPARE(seen.at(0).firstArgument, QStringLiteral("wine64-preloader"));
    QCOMPARE(seen.at(1).startTime, quint64(80));
    QCOMPARE(seen.at(1).executable, QStringLiteral("odd ) name (x"));

    QVERIFY(process(7, "wine64-preload", QByteArray("Z:\\games\\Game.exe\0", 19)));
    QVERIFY(QDir(proc.filePath("8")).removeRecursively());
    seen = source.processes();
    QCOMPARE(seen.size(), 1);
    QCOMPARE(processBaseName(seen.at(0)), QStringLiteral("Game.exe"));
}
#endif

QTEST_MAIN(TestGames)
#include "tst_games.moc"
