// SPDX-License-Identifier: GPL-3.0-or-later
// zud-wheel end to end: every command run in-process through its entry
// function against the emulators on the virtual bus, with standard output
// and standard error captured.
#include "CliRun.h"
#include "TestSupport.h"
#include "cli/CliProgress.h"
#include "cli/ZudWheelMain.h"
#include "devices/ZudDeviceFactory.h"
#include "games/GameWatcher.h"
#include "profiles/ProfileBackupStore.h"
#include "profiles/ProfileFile.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/WheelBaseEmulator.h"
#include "usb/UsbManager.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// Runs a command and raises signal once standard error shows trigger.
CliRun runCliInterrupted(const QStringList &arguments, const QByteArray &trigger, int signal)
{
    QList<QByteArray> bytes{QByteArrayLiteral("zud-wheel")};
    for (const QString &argument : arguments)
        bytes.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    bool sent = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!sent && err.data().contains(trigger)) {
            sent = true;
            std::raise(signal);
        }
    });
    poll.start(5);
    CliRun run;
    run.status = zudWheelMain(int(argv.size()), argv.data(), out, err, false);
    run.out = QString::fromUtf8(out.data());
    run.err = QString::fromUtf8(err.data());
    return run;
}

// Device commands wait this long in the tests instead of 15 s.
const QString shortWait = QStringLiteral("--wait-ms=3000");

using testing::randomBytes;

QString pathOf(const vhid::DevicePtr &device)
{
    return QString::fromStdString(device->path());
}

std::vector<ZudUsbWheelBaseProfile> sampleProfiles(int count)
{
    std::vector<ZudUsbWheelBaseProfile> profiles;
    for (int i = 0; i < count; ++i) {
        ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(i);
        const QByteArray name = "Rally " + QByteArray::number(i);
        std::memset(p.name, 0, sizeof p.name);
        std::memcpy(p.name, name.constData(), size_t(name.size()));
        p.maxForce = 40 + i;
        p.damping = int8_t(5 + i);
        p.centerOffset = 0.1f * float(i) - 0.3f;
        profiles.push_back(p);
    }
    return profiles;
}

// A wheel base that goes into its bootloader and back, as the real one does;
// the bootloader is kept so that the test sees the image it received. With
// keepTable false the wheel base comes back with its factory table.
struct WheelBaseRig {
    std::shared_ptr<emu::WheelBaseEmulator> wheelBase;
    std::shared_ptr<emu::WheelBaseEmulator> returned;
    std::shared_ptr<emu::BootloaderEmulator> bootloader;

    // settingsVersion: the layout of the firmware before the update; the
    // new one speaks the tool's.
    explicit WheelBaseRig(bool keepTable, uint8_t settingsVersion = 3)
    {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 0;
        config.settingsVersion = settingsVersion;
        config.device.serialNumber = L"CLI-TEST-1";
        config.onEnterBootloader = [this, keepTable, config] {
            const auto profiles = wheelBase->profiles();
            const int current = wheelBase->currentProfile();
            emu::BootloaderEmulator::Config boot;
            boot.restartApplication = [this, keepTable, config, profiles, current] {
                auto again = config;
                again.onEnterBootloader = nullptr;
                again.settingsVersion = 3;
                returned = emu::WheelBaseEmulator::plug(again);
                if (keepTable)
                    returned->setProfiles(profiles, current);
            };
            bootloader = emu::BootloaderEmulator::plug(boot);
        };
        wheelBase = emu::WheelBaseEmulator::plug(config);
        wheelBase->setProfiles(sampleProfiles(4), 2);
    }
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void selectProfile_data();
    void selectProfile();
    void runWithProfile_data();
    void runWithProfile();
    void watch_data();
    void watch();
    void demoWatch();

    void usage_data();
    void usage();
    void list_json();
    void outputFails_data();
    void outputFails();
    void listShowsDeviceStrings_data();
    void listShowsDeviceStrings();
    void deviceChoice_data();
    void deviceChoice();
    void badFiles_data();
    void badFiles();
    void exportThenImportVerifies();
    void updateFirmware_data();
    void updateFirmware();
    void firmwareFailures_data();
    void firmwareFailures();
    void ctrlC_data();
    void ctrlC();
    void interrupts_data();
    void interrupts();
    void log_data();
    void log();
    void centerAndFactoryDefaults();
    void writeFaults_data();
    void writeFaults();
    void progressBar_data();
    void progressBar();
    void readmeExamples_data();
    void readmeExamples();

private:
    // A new folder for every test function and row.
    std::unique_ptr<QTemporaryDir> dir;
    QString file(const QString &name) const { return QDir(dir->path()).absoluteFilePath(name); }
};

void TestCli::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    // Backups go to a folder of the test's own.
    qputenv("XDG_DATA_HOME", file(QStringLiteral("data")).toUtf8());
}

void TestCli::cleanup()
{
    vhid::unplugAll();
}

void TestCli::selectProfile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("current"); // on the device afterwards
    QTest::addColumn<QString>("text");

    QTest::newRow("switches") << "Rally 3" << 0 << 3 << "Profile \"Rally 3\" is now current";
    QTest::newRow("already current") << "Rally 1" << 0 << 1 << "already current";
    QTest::newRow("no such name") << "Rally 9" << 2 << 1
                                  << "no profile named \"Rally 9\"; nothing was sent. Its "
                                     "profiles:\nRally 0\nRally 1\nRally 2\nRally 3\n";
}

void TestCli::selectProfile()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    QFETCH(int, current);
    QFETCH(QString, text);
    auto wheelBase = emu::WheelBaseEmulator::plug();
    wheelBase->setProfiles(sampleProfiles(4), 1);
    const CliRun run =
        runCli({"select-profile", name, "--device", pathOf(wheelBase->device()), shortWait});
    QCOMPARE(run.status, status);
    QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
    QCOMPARE(wheelBase->currentProfile(), current);
    QCOMPARE(wheelBase->profiles().size(), size_t(4));
    QCOMPARE(wheelBase->profile(2).damping, sampleProfiles(4).at(2).damping);
}

void TestCli::runWithProfile_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("status");

    // The command waits (boundedly) for the test to see its profile current
    // on the device, and ends with 7 only if it did.
    const QString waitForSwitch = QStringLiteral(
        "i=0; while [ ! -e \"$0\" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done; "
        "[ -e \"$0\" ] && exit 7; exit 99");
    QTest::newRow("switches, runs, switches back")
        << "Rally 3" << QStringList{"sh", "-c", waitForSwitch, "<flag>"} << 7;
    QTest::newRow("command not found")
        << "Rally 3" << QStringList{"/nonexistent/racer-game"} << 127;
    QTest::newRow("no such profile: nothing runs")
        << "Rally 9" << QStringList{"sh", "-c", "touch \"$0\"", "<flag>"} << 2;
}

void TestCli::runWithProfile()
{
    QFETCH(QString, profile);
    QFETCH(QStringList, command);
    QFETCH(int, status);
    // Slot 2, current before, shares its name with slot 0: the switch back
    // finds it by its place.
    std::vector<ZudUsbWheelBaseProfile> profiles = sampleProfiles(4);
    std::memcpy(profiles[2].name, profiles[0].name, sizeof profiles[2].name);
    auto wheelBase = emu::WheelBaseEmulator::plug();
    wheelBase->setProfiles(profiles, 2);
    const QString flag = file("switched");
    command.replaceInStrings("<flag>", flag);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QFile seen(flag);
        if (wheelBase->currentProfile() == 3 && !seen.exists())
            seen.open(QIODevice::WriteOnly);
    });
    poll.start(5);
    const CliRun run = runCli(QStringList{"run", "--profile", profile, shortWait, "--"} + command);
    QVERIFY2(run.status == status, qPrintable(run.out + run.err));
    QCOMPARE(wheelBase->currentProfile(), 2);
    if (status == 2)
        QVERIFY(!QFile::exists(flag));
}

namespace {

// A copy of sleep under a game's executable name, so that the process list
// of the system shows that name as its first argument.
QString copySleepAs(const QString &path)
{
    const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    if (sleep.isEmpty() || !QFile::copy(sleep, path))
        return QString();
    return path;
}

// Reads a child's output until it holds text, or the child ends or stays
// silent for 30 s.
bool readUntil(QProcess &process, QProcess::ProcessChannel channel, QByteArray &seen,
               const QByteArray &text)
{
    process.setReadChannel(channel);
    for (;;) {
        seen += process.readAll();
        if (seen.contains(text))
            return true;
        if (!process.waitForReadyRead(30000))
            return false;
    }
}

} // namespace

void TestCli::watch_data()
{
    QTest::addColumn<QByteArray>("rules");  // games.json; empty: no file
    QTest::addColumn<bool>("otherWatcher"); // another watcher switches at first
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("out"); // the lines of standard output
    QTest::addColumn<QString>("err");
    QTest::addColumn<int>("current"); // on the device at the end

    const QByteArray rules = R"({"format": "zud-wheel-games", "version": 1, "enabled": true,
        "defaultProfile": "Rally 0", "games": [
        {"name": "Endurance Racer", "executable": "EnduranceRacer-Win64-Shipping.exe",
         "profile": "Rally 3"},
        {"name": "Rally Stages", "executable": "rallystages", "profile": "Rally 2"}]})";
    const QStringList both{"Switched <path> to \"Rally 3\" for Endurance Racer.",
                           "Switched <path> to \"Rally 0\": no listed game runs."};
    QTest::newRow("game starts and ends, SIGTERM")
        << rules << false << SIGTERM << both << "Stopped by SIGTERM." << 0;
    QTest::newRow("another watcher first, then this one")
        << rules << true << SIGINT << both
        << "no longer switches the profiles; this watch switches them now." << 0;
    // The profile is left as it is without a (valid) rules file.
    QTest::newRow("no rules file, SIGHUP")
        << QByteArray() << false << SIGHUP << QStringList()
        << "There is no rules file at <config>/zud-wheel-tool/games.json yet" << 1;
    QByteArray refused = rules;
    refused.replace(R"("profile": "Rally 3")", R"("profile": "")");
    QTest::newRow("refused rules file, Ctrl-C")
        << refused << false << SIGINT << QStringList()
        << "Game 1 \"Endurance Racer\": \"profile\" must be a text that is not empty." << 1;
    QByteArray unknown = rules;
    unknown.replace(R"("profile": "Rally 3")", R"("profile": "Rally 9")");
    QTest::newRow("no such profile on the device, SIGTERM")
        << unknown << false << SIGTERM << QStringList()
        << "Switching <path> to \"Rally 9\" for Endurance Racer failed: The wheel base has "
           "no profile named \"Rally 9\"; the rule is skipped."
        << 1;
}

// zud-wheel watch against the real process list: a copy of sleep named as a
// game starts once the watch runs and is ended once its profile is current;
// the signal comes once the default profile is back, or, where nothing is to
// switch, once standard error shows err. With another watcher first, the
// game starts while that one switches and this watch stands by; that one
// then stops.
void TestCli::watch()
{
    QFETCH(QByteArray, rules);
    QFETCH(bool, otherWatcher);
    QFETCH(int, signal);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    QFETCH(int, current);
    qputenv("XDG_CONFIG_HOME", file("config").toUtf8());
    const QString rulesPath = file("config/zud-wheel-tool/games.json");
    if (!rules.isEmpty()) {
        QVERIFY(QDir().mkpath(file("config/zud-wheel-tool")));
        QFile rulesFile(rulesPath);
        QVERIFY(rulesFile.open(QIODevice::WriteOnly) && rulesFile.write(rules) == rules.size());
    }
    const QString game = copySleepAs(file("EnduranceRacer-Win64-Shipping.exe"));
    QVERIFY(!game.isEmpty());
    auto wheelBase = emu::WheelBaseEmulator::plug();
    wheelBase->setProfiles(sampleProfiles(4), 1);
    const QString path = pathOf(wheelBase->device());

    // The other watcher has no wheel base of its own to switch.
    UsbManager otherManager{createZudDevice};
    GameWatcher other(otherManager);
    other.setRulesPath(rulesPath);
    other.setDevicePath(QStringLiteral("no such wheel base"));
    if (otherWatcher)
        other.start();

    err.replace("<config>", file("config")).replace("<path>", path);
    QList<QByteArray> bytes{"zud-wheel", "watch", "--device", path.toLocal8Bit(),
                            shortWait.toLocal8Bit()};
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    QBuffer outBuffer, errBuffer;
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    QProcess process;
    bool sent = false;
    QString outWhileStandingBy = QStringLiteral("<not standing by>");
    const auto stop = [&] {
        if (!sent)
            std::raise(signal);
        sent = true;
    };
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        const QByteArray text = outBuffer.data();
        const QByteArray messages = errBuffer.data();
        if (!messages.contains("Watching for the listed games"))
            return;
        if (out.isEmpty() && messages.contains(err.toUtf8()))
            return stop();
        if (process.state() == QProcess::NotRunning && !text.contains("for Endurance Racer.")) {
            process.start(game, {"60"});
            process.waitForStarted();
        } else if (other.isRunning() && other.choice().game == "Endurance Racer") {
            // That watcher has seen the game, and this one must not have
            // switched for it.
            outWhileStandingBy = QString::fromUtf8(text);
            other.stop();
        } else if (text.contains("for Endurance Racer.") &&
                   process.state() != QProcess::NotRunning) {
            process.kill();
        } else if (text.contains("no listed game runs.")) {
            stop();
        }
    });
    step.start(5);
    // A bound on a watch that never gets that far, so that it fails
    // instead of hanging.
    QTimer::singleShot(60000, stop);
    const int status = zudWheelMain(int(argv.size()), argv.data(), outBuffer, errBuffer, false);
    step.stop();
    process.kill();
    process.waitForFinished();

    const QString outText = QString::fromUtf8(outBuffer.data());
    const QString errText = QString::fromUtf8(errBuffer.data());
    const QString all = outText + errText;
    QCOMPARE(status, 0);
    QStringList expected = out.replaceInStrings("<path>", path);
    QCOMPARE(outText.split('\n', Qt::SkipEmptyParts), expected);
    QVERIFY2(errText.contains(err), qPrintable(all));
    QVERIFY2(errText.contains(QStringLiteral("Stopped by %1.")
                                  .arg(signal == SIGINT    ? "Ctrl-C"
                                       : signal == SIGTERM ? "SIGTERM"
                                                           : "SIGHUP")),
             qPrintable(all));
    QCOMPARE(wheelBase->currentProfile(), current);
    if (otherWatcher) {
        QCOMPARE(outWhileStandingBy, QString());
        QVERIFY2(errText.contains(QStringLiteral("(pid %1) already switches the profiles; this "
                                                 "watch switches nothing")
                                      .arg(QCoreApplication::applicationPid())),
                 qPrintable(all));
    }
}

// zud-wheel-demo watch writes its rule for DemoRacer.exe when there is no
// rules file and switches the emulated wheel base when that process starts.
void TestCli::demoWatch()
{
    const QString game = copySleepAs(file("DemoRacer.exe"));
    QVERIFY(!game.isEmpty());
    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", file("config"));
    demo.setProcessEnvironment(environment);
    demo.start(ZUD_WHEEL_DEMO, {"watch"});
    QVERIFY(demo.waitForStarted());
    QByteArray out, err;
    QVERIFY2(readUntil(demo, QProcess::StandardError, err, "Watching for the listed games"),
             err.constData());
    QVERIFY2(QFile::exists(file("config/zud-wheel-tool/games.json")), err.constData());
    QProcess racer;
    racer.start(game, {"60"});
    QVERIFY(racer.waitForStarted());
    const bool switched = readUntil(demo, QProcess::StandardOutput, out, "for Demo Racer.\n");
    racer.kill();
    racer.waitForFinished();
    demo.terminate();
    QVERIFY(demo.waitForFinished(30000));
    QVERIFY2(switched && out.startsWith("Switched "),
             (out + err + demo.readAllStandardError()).constData());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
}

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("nothing") << QStringList{} << 2 << ""
                             << "Usage: zud-wheel COMMAND";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "update-firmware FILE"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "zud-wheel 1."
                             << "";
    QTest::newRow("help command") << QStringList{"help", "log"} << 0
                                  << "Usage: zud-wheel log FILE --seconds N"
                                  << "";
    QTest::newRow("command --help")
        << QStringList{"import-profiles", "--help"} << 0 << "--device <PATH>"
        << "";
    QTest::newRow("unknown command") << QStringList{"flash"} << 2 << ""
                                     << "No such command: flash";
    QTest::newRow("unknown option") << QStringList{"list", "--fast"} << 2 << ""
                                    << "Unknown option 'fast'";
    QTest::newRow("missing file") << QStringList{"export-profiles"} << 2 << ""
                                  << "export-profiles needs FILE";
    QTest::newRow("extra argument") << QStringList{"center", "now"} << 2 << ""
                                    << "Unexpected argument: now";
    QTest::newRow("log without seconds") << QStringList{"log", "x.csv"} << 2 << ""
                                         << "log needs --seconds N";
    QTest::newRow("log with zero seconds")
        << QStringList{"log", "x.csv", "--seconds", "0"} << 2 << ""
        << "log needs --seconds N";
    QTest::newRow("factory defaults unconfirmed") << QStringList{"factory-defaults"} << 2 << ""
                                                  << "run it again with --yes";
}

void TestCli::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    auto wheelBase = emu::WheelBaseEmulator::plug();
    const CliRun run = runCli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    // Usage errors never reach a device.
    QCOMPARE(wheelBase->commandCount(), size_t(0));
}

void TestCli::list_json()
{
    emu::WheelBaseEmulator::Config wheelConfig;
    wheelConfig.device.serialNumber = L"WB-42";
    auto wheelBase = emu::WheelBaseEmulator::plug(wheelConfig);
    auto pedals = emu::PedalsEmulator::plug();
    emu::BootloaderEmulator::Config bootConfig;
    bootConfig.productId = 0x5C05;
    auto bootloader = emu::BootloaderEmulator::plug(bootConfig);

    const CliRun run = runCli({"list", "--json"});
    QCOMPARE(run.status, 0);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QVERIFY(document.isArray());
    QMap<QString, QJsonObject> byKind;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        QCOMPARE(object.keys().size(), 6);
        byKind.insert(object.value("kind").toString(), object);
    }
    QCOMPARE(byKind.keys(), (QStringList{"bootloader", "pedals", "wheel base"}));
    const QJsonObject wheel = byKind.value("wheel base");
    QCOMPARE(wheel.value("product").toString(), QStringLiteral("ZUD Wheel Base"));
    QCOMPARE(wheel.value("path").toString(), pathOf(wheelBase->device()));
    QCOMPARE(wheel.value("serial").toString(), QStringLiteral("WB-42"));
    QCOMPARE(wheel.value("vendorId").toInt(), 0x0483);
    QCOMPARE(wheel.value("productId").toInt(), 0xA355);
    QCOMPARE(byKind.value("pedals").value("productId").toInt(), 0xA112);
    QCOMPARE(byKind.value("bootloader").value("productId").toInt(), 0x5C05);
    QCOMPARE(byKind.value("bootloader").value("path").toString(), pathOf(bootloader->device()));

    // The text form: one device a line.
    const CliRun text = runCli({"list"});
    QCOMPARE(text.status, 0);
    QCOMPARE(text.out.count('\n'), 3);
    QVERIFY(text.out.contains("wheel base\tZUD Wheel Base\t" + pathOf(wheelBase->device()) +
                              "\tWB-42\t0483:a355\n"));
}

// A device's strings cannot fake a line, reach the terminal or be taken for
// place markers in the text; JSON keeps them exactly.
void TestCli::listShowsDeviceStrings_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("productShown");
    QTest::addColumn<QString>("serialShown");
    QTest::newRow("line break and tab") << "ZUD Wheel Base\r\nwheel base\tFAKE"
                                        << "S1"
                                        << "ZUD Wheel Base\\r\\nwheel base\\tFAKE"
                                        << "S1";
    QTest::newRow("escape sequences") << "ZUD Wheel Base\x1b[2J\u009b1m"
                                      << "S\x7f"
                                      << "ZUD Wheel Base\\x1b[2J\\x9b1m"
                                      << "S\\x7f";
    QTest::newRow("place markers") << "ZUD Wheel Base %2"
                                   << "AB%1CD"
                                   << "ZUD Wheel Base %2"
                                   << "AB%1CD";
}

void TestCli::listShowsDeviceStrings()
{
    QFETCH(QString, product);
    QFETCH(QString, serial);
    QFETCH(QString, productShown);
    QFETCH(QString, serialShown);
    emu::WheelBaseEmulator::Config config;
    config.device.productString = product.toStdWString();
    config.device.serialNumber = serial.toStdWString();
    auto wheelBase = emu::WheelBaseEmulator::plug(config);

    const CliRun text = runCli({"list"});
    QCOMPARE(text.status, 0);
    QCOMPARE(text.out.count('\n'), 1);
    QCOMPARE(text.out, QStringLiteral("wheel base\t%1\t%2\t%3\t0483:a355\n")
                           .arg(productShown, pathOf(wheelBase->device()), serialShown));

    const CliRun json = runCli({"list", "--json"});
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).array().at(0).toObject();
    QCOMPARE(object.value("product").toString(), product);
    QCOMPARE(object.value("serial").toString(), serial);
}

void TestCli::outputFails_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("list") << QStringList{"list"};
    QTest::newRow("list --json") << QStringList{"list", "--json"};
    QTest::newRow("help") << QStringList{"--help"};
}

// zud-wheel list > /dev/full
void TestCli::outputFails()
{
    QFETCH(QStringList, arguments);
    auto wheelBase = emu::WheelBaseEmulator::plug();
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        QSKIP("no /dev/full here");
    const CliRun run = runCli(arguments, &full);
    QCOMPARE(run.status, 4);
    QVERIFY2(run.err.contains("Writing to standard output failed: No space left on device"),
             qPrintable(run.err));
}

void TestCli::deviceChoice_data()
{
    QTest::addColumn<int>("wheelBases");
    QTest::addColumn<QString>("device"); // "first": the first wheel base's path
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    QTest::newRow("none") << 0 << "" << 1 << "No wheel base found.";
    QTest::newRow("two without --device") << 2 << "" << 2 << "2 devices could be meant";
    QTest::newRow("two with --device") << 2 << "first" << 0 << "";
    QTest::newRow("no device at the path")
        << 1 << "vhid-nowhere" << 1 << "No supported device at vhid-nowhere.";
    QTest::newRow("pedals are no wheel base")
        << 1 << "pedals" << 1 << "is a pedals; this command needs a wheel base";
}

void TestCli::deviceChoice()
{
    QFETCH(int, wheelBases);
    QFETCH(QString, device);
    QFETCH(int, status);
    QFETCH(QString, err);
    std::vector<std::shared_ptr<emu::WheelBaseEmulator>> wheels;
    for (int i = 0; i < wheelBases; ++i)
        wheels.push_back(emu::WheelBaseEmulator::plug());
    auto pedals = emu::PedalsEmulator::plug();
    QStringList arguments{"export-profiles", file("out.json"), shortWait};
    if (device == "first")
        arguments << "--device" << pathOf(wheels.front()->device());
    else if (device == "pedals")
        arguments << "--device" << pathOf(pedals->device());
    else if (!device.isEmpty())
        arguments << "--device" << device;

    const CliRun run = runCli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    if (wheelBases == 2 && device.isEmpty()) {
        // The refusal lists every candidate.
        for (const auto &wheel : wheels)
            QVERIFY(run.err.contains(pathOf(wheel->device())));
        QVERIFY(!run.err.contains(pathOf(pedals->device())));
    }
    QCOMPARE(QFile::exists(file("out.json")), status == 0);
}

void TestCli::badFiles_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("content"); // "<none>": no such file
    QTest::addColumn<qint64>("size");        // > 0: a sparse file of this size
    QTest::addColumn<QString>("err");
    QTest::newRow("firmware missing")
        << "update-firmware" << QByteArray("<none>") << qint64(0) << "Cannot use the firmware file";
    QTest::newRow("firmware too large") << "update-firmware" << QByteArray()
                                        << qint64(32767 * 32 + 1) << "Firmware image too large";
    QTest::newRow("firmware empty")
        << "update-firmware" << QByteArray() << qint64(0) << "in.bin: The firmware file is empty.";
    QTest::newRow("profiles missing")
        << "import-profiles" << QByteArray("<none>") << qint64(0) << "in.bin";
    QTest::newRow("profiles not JSON")
        << "import-profiles" << QByteArray("{ not json") << qint64(0) << "in.bin";
    QTest::newRow("profiles field out of range")
        << "import-profiles"
        << QByteArray(R"({"format": "zud-wheel-profiles", "version": 1, "currentProfile": 0,
            "profiles": [{"index": 0, "name": "Rally", "centerOffset": 0,
            "rotationDegrees": 900, "encoderType": "BISS-C", "encoderResolution": 4194304,
            "maxForce": 250, "smoothing": 1, "damping": 10, "friction": 10, "inertia": 0,
            "spring": 0, "dampingEffect": "Device and Game Effects",
            "frictionEffect": "Device and Game Effects", "inertiaEffect": "Device and Game Effects",
            "springEffect": "Game Effect Only"}]})")
        << qint64(0) << "\"maxForce\" is 250";
}

void TestCli::badFiles()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(QString, err);
    auto wheelBase = emu::WheelBaseEmulator::plug();
    const QString path = file("in.bin");
    if (content != "<none>") {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
        if (size > 0)
            QVERIFY(out.resize(size));
    }
    const CliRun run = runCli({command, path, shortWait});
    QCOMPARE(run.status, 4);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    // The file is refused before the device is touched.
    QCOMPARE(wheelBase->commandCount(), size_t(0));
}

void TestCli::exportThenImportVerifies()
{
    auto source = emu::WheelBaseEmulator::plug();
    source->setProfiles(sampleProfiles(5), 3);
    const CliRun exported = runCli({"export-profiles", file("table.json"), shortWait});
    QCOMPARE(exported.status, 0);
    QVERIFY2(exported.out.contains("Exported 5 profiles"), qPrintable(exported.out));
    source->unplug();

    emu::WheelBaseEmulator::Config config;
    config.factoryProfileCount = 2;
    config.device.serialNumber = L"TARGET";
    auto target = emu::WheelBaseEmulator::plug(config);
    const std::vector<ZudUsbWheelBaseProfile> factory = target->profiles();
    const CliRun imported = runCli({"import-profiles", file("table.json"), shortWait});
    QCOMPARE(imported.status, 0);
    QVERIFY2(imported.out.contains("Imported 5 profiles") && imported.out.contains("verified"),
             qPrintable(imported.out + imported.err));
    QCOMPARE(target->profileCount(), 5);
    QCOMPARE(target->currentProfile(), 3);
    const auto expected = sampleProfiles(5);
    for (int i = 0; i < 5; ++i)
        QVERIFY(std::memcmp(&expected[size_t(i)], &target->profiles()[size_t(i)],
                            sizeof(ZudUsbWheelBaseProfile)) == 0);

    // The table it had before is in the backup, under the device's serial.
    const QList<ProfileBackup> backups =
        ProfileBackupStore().list(ProfileBackupStore::deviceFolder("TARGET", 0, 0, QString()));
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.first().reason, QStringLiteral("import"));
    ProfileTable before;
    QString error;
    QVERIFY2(readProfileFile(backups.first().path, before, error), qPrintable(error));
    QCOMPARE(before.profiles.size(), 2);
    QVERIFY(std::memcmp(&before.profiles[1], &factory[1], sizeof(ZudUsbWheelBaseProfile)) == 0);
}

void TestCli::updateFirmware_data()
{
    QTest::addColumn<bool>("keepTable");
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<int>("settingsVersion");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("profiles kept")
        << true << 4000 << 3 << "The profiles survived the update: 4 profiles";
    QTest::newRow("profiles reset, odd size")
        << false << 1001 << 3 << "The profiles did not survive the update";
    // A table that cannot be read is what the update is for.
    QTest::newRow("older firmware, no backup")
        << true << 1000 << 2
        << "No backup: the wheel base's profiles cannot be read (Device has an older firmware. "
           "Please update the firmware.); going on with the update.\n";
    QTest::newRow("newer firmware, no backup")
        << true << 1000 << 4
        << "cannot be read (Device had a newer firmware. Please update this "
           "config tool.); going on";
}

void TestCli::updateFirmware()
{
    QFETCH(bool, keepTable);
    QFETCH(int, imageSize);
    QFETCH(int, settingsVersion);
    QFETCH(QString, verdict);
    WheelBaseRig rig(keepTable, uint8_t(settingsVersion));
    const QByteArray image = randomBytes(imageSize, 7);
    QFile out(file("new.fw"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(image) == image.size());
    out.close();

    const CliRun run = runCli({"update-firmware", file("new.fw"), shortWait});
    QCOMPARE(run.status, 0);
    QVERIFY2((run.out + run.err).contains(verdict), qPrintable(run.out + run.err));
    QVERIFY(run.out.contains("The wheel base is back at " + pathOf(rig.returned->device())));
    // One progress line per tenth on a pipe.
    QVERIFY(run.err.contains("Firmware: 50 %"));
    QVERIFY(run.err.contains("Firmware: 100 %"));

    // The image arrived bit for bit, filled up with zeros to whole chunks.
    QVERIFY(rig.bootloader);
    QVERIFY(rig.bootloader->transferEnded());
    QCOMPARE(rig.bootloader->crcMismatches(), 0);
    const std::vector<uint8_t> received = rig.bootloader->image();
    QCOMPARE(int(received.size()), (imageSize + 31) / 32 * 32);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(received.data()), imageSize), image);
    QVERIFY(
        std::all_of(received.begin() + imageSize, received.end(), [](uint8_t b) { return !b; }));
    // The backup holds the table from before the update.
    const QList<ProfileBackup> backups =
        ProfileBackupStore().list(ProfileBackupStore::deviceFolder("CLI-TEST-1", 0, 0, QString()));
    if (settingsVersion != 3) {
        QVERIFY(backups.isEmpty());
        return;
    }
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.first().reason, QStringLiteral("firmware"));
    QCOMPARE(backups.first().profileCount, 4);
}

void TestCli::firmwareFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("err");
    // A table that can be read but not taken over stops the update.
    QTest::newRow("backup refused")
        << "bad count"
        << "Loading the profiles for the backup failed: the wheel base refused: Device reported "
           "101 profiles";
    QTest::newRow("no bootloader appears")
        << "no bootloader"
        << "Entering the bootloader failed: no bootloader appeared within 1.5 s. The wheel base "
           "is no longer on the bus";
    QTest::newRow("bootloader leaves during the transfer")
        << "unplug"
        << "Transferring the firmware failed: the bootloader left the bus at chunk 9";
    QTest::newRow("bootloader refuses a chunk")
        << "crc"
        << "Transferring the firmware failed: the bootloader refused at chunk 4 of 40: "
           "CRC failed on chunk 4 of 40. The device is still in the bootloader: run "
           "update-firmware again.";
    QTest::newRow("bootloader stops answering")
        << "silent"
        << "the bootloader stopped answering at chunk 6 of 40 (nothing for 1.5 s). "
           "The device is still in the bootloader";
    QTest::newRow("device does not come back")
        << "no return"
        << "Exiting the bootloader failed: the device did not come back within "
           "1.5 s. The firmware was sent completely and the bootloader has left";
}

void TestCli::firmwareFailures()
{
    QFETCH(QString, fault);
    QFETCH(QString, err);
    std::shared_ptr<emu::WheelBaseEmulator> wheelBase;
    std::shared_ptr<emu::BootloaderEmulator> bootloader;
    if (fault == "no bootloader" || fault == "bad count") {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 0;
        wheelBase = emu::WheelBaseEmulator::plug(config); // leaves, and nothing comes
        if (fault == "bad count")
            wheelBase->setReportedProfileCount(101);
    } else {
        emu::BootloaderEmulator::Config config;
        config.restartApplication = [] {}; // leaves, and nothing comes
        bootloader = emu::BootloaderEmulator::plug(config);
        if (fault == "unplug")
            bootloader->unplugAfterChunk(9);
        else if (fault == "crc")
            bootloader->corruptCrc(4);
        else if (fault == "silent")
            bootloader->dropAcknowledgements(6, 1000);
    }
    const QByteArray image = randomBytes(40 * 32, 3);
    QFile out(file("new.fw"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(image) == image.size());
    out.close();

    const CliRun run = runCli({"update-firmware", file("new.fw"), "--wait-ms=1500"});
    QCOMPARE(run.status, 3);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
}

void TestCli::ctrlC_data()
{
    QTest::addColumn<bool>("inTransfer");
    QTest::addColumn<QString>("err");
    // In the transfer the first Ctrl-C only warns; in a wait one stops.
    QTest::newRow("transfer, twice") << true
                                     << "Transferring the firmware failed: stopped by Ctrl-C at "
                                        "chunk";
    QTest::newRow("waiting for the bootloader, once")
        << false
        << "Entering the bootloader failed: stopped by Ctrl-C while waiting for the bootloader. "
           "The wheel base is no longer on the bus";
}

void TestCli::ctrlC()
{
    QFETCH(bool, inTransfer);
    QFETCH(QString, err);
    std::shared_ptr<emu::BootloaderEmulator> bootloader;
    std::shared_ptr<emu::WheelBaseEmulator> wheelBase;
    if (inTransfer) {
        bootloader = emu::BootloaderEmulator::plug();
        bootloader->setAcknowledgementDelay(std::chrono::milliseconds(2));
    } else {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 0;
        wheelBase = emu::WheelBaseEmulator::plug(config); // leaves, and nothing comes
    }
    QFile out(file("new.fw"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(randomBytes(32 * 5000, 5)) == 32 * 5000);
    out.close();

    QList<QByteArray> bytes{"zud-wheel", "update-firmware", file("new.fw").toLocal8Bit()};
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    QBuffer outBuffer, errBuffer;
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    // Ctrl-C once the step runs, and again once the first is answered.
    int sent = 0;
    QTimer ctrlC;
    connect(&ctrlC, &QTimer::timeout, this, [&] {
        const QByteArray text = errBuffer.data();
        if ((sent == 0 && text.contains(inTransfer ? "Firmware: 10 %" : "Waiting for the boot")) ||
            (sent == 1 && text.contains("Press Ctrl-C again"))) {
            ++sent;
            std::raise(SIGINT);
        }
    });
    ctrlC.start(5);
    const int status = zudWheelMain(int(argv.size()), argv.data(), outBuffer, errBuffer, false);
    ctrlC.stop();
    const QString text = QString::fromUtf8(errBuffer.data());
    QCOMPARE(sent, inTransfer ? 2 : 1);
    QCOMPARE(status, 3);
    QVERIFY2(text.contains(err), qPrintable(text));
    QCOMPARE(text.contains("Stopping now leaves the device in its bootloader"), inTransfer);
    if (inTransfer) {
        QVERIFY(text.contains("still in the bootloader: run update-firmware again"));
        QVERIFY(!bootloader->transferEnded());
    }
}

// SIGTERM and SIGHUP (a closed terminal) get the care Ctrl-C gets: a log
// keeps its file, and the other commands stop saying what state the device
// is left in.
void TestCli::interrupts_data()
{
    QTest::addColumn<QString>("wheel"); // streaming, silent or slow
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("trigger");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text"); // on standard output for status 0, else on standard error
    const QStringList log{"log", "live.csv", "--seconds", "60"};
    QTest::newRow("log, SIGHUP") << "streaming" << log << QByteArray("Logging vhid") << SIGHUP << 0
                                 << "Logged";
    QTest::newRow("log, SIGTERM") << "streaming" << log << QByteArray("Logging vhid") << SIGTERM
                                  << 0 << "Logged";
    QTest::newRow("log, Ctrl-C before any data")
        << "silent" << log << QByteArray("Waiting for live data") << SIGINT << 3
        << "Logging failed: stopped by Ctrl-C before any data arrived.";
    QTest::newRow("import, Ctrl-C while saving")
        << "slow" << QStringList{"import-profiles", "table.json"} << QByteArray("Backed up")
        << SIGINT << 3
        << "Saving the profiles failed: stopped by Ctrl-C. The device may hold part of the new "
           "table; its table before the import is in ";
    QTest::newRow("update, SIGTERM waiting for the bootloader")
        << "silent" << QStringList{"update-firmware", "new.fw"}
        << QByteArray("Waiting for the bootloader") << SIGTERM << 3
        << "Entering the bootloader failed: stopped by SIGTERM while waiting for the bootloader.";
}

void TestCli::interrupts()
{
    QFETCH(QString, wheel);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, trigger);
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, text);
    emu::WheelBaseEmulator::Config config;
    config.streamRate = wheel == "streaming" ? 1000 : 0;
    auto wheelBase =
        emu::WheelBaseEmulator::plug(config); // leaves for a bootloader that never comes
    if (wheel == "slow")
        wheelBase->setReplyDelay(std::chrono::milliseconds(50));
    ProfileTable table;
    for (const ZudUsbWheelBaseProfile &profile : sampleProfiles(4))
        table.profiles.append(profile);
    QString error;
    QVERIFY2(writeProfileFile(file("table.json"), table, error), qPrintable(error));
    QFile firmware(file("new.fw"));
    QVERIFY(firmware.open(QIODevice::WriteOnly) && firmware.write(randomBytes(320, 1)) == 320);
    firmware.close();

    for (QString &argument : arguments)
        if (argument.contains('.'))
            argument = file(argument);
    const CliRun run = runCliInterrupted(arguments << shortWait, trigger, signal);
    QCOMPARE(run.status, status);
    QVERIFY2((status ? run.err : run.out).contains(text), qPrintable(run.out + run.err));
    QCOMPARE(QFile::exists(file("live.csv")), arguments.first() == "log" && status == 0);
}

void TestCli::log_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("updateKind");
    QTest::addColumn<bool>("everyReport");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("fields");
    QTest::addColumn<int>("minRows");
    QTest::addColumn<int>("maxRows");
    QTest::addColumn<int>("unplugMs"); // > 0: the device leaves after this long
    // 0.5 s of 1000 reports a second: throttled to one per 16 ms, or all.
    QTest::newRow("wheel kind 1") << "wheel" << 1 << false
                                  << QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque "
                                                "OUT %\r\n")
                                  << 6 << 5 << 40 << 0;
    QTest::newRow("wheel kind 2, every report")
        << "wheel" << 2 << true
        << QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque OUT %, Torque Actual "
                      "%,Rotor Pos\r\n")
        << 7 << 100 << 10000 << 0;
    QTest::newRow("pedals") << "pedals" << 0 << false << QByteArray("Time,dt,x,y,z\r\n") << 5 << 50
                            << 1000 << 0;
    // The rows until then are kept.
    QTest::newRow("wheel leaves") << "wheel" << 1 << false
                                  << QByteArray("Time,dt,SteeringWheelAngle %,Torque IN %,Torque "
                                                "OUT %\r\n")
                                  << 6 << 1 << 40 << 300;
}

void TestCli::log()
{
    QFETCH(QString, device);
    QFETCH(int, updateKind);
    QFETCH(bool, everyReport);
    QFETCH(QByteArray, header);
    QFETCH(int, fields);
    QFETCH(int, minRows);
    QFETCH(int, maxRows);
    QFETCH(int, unplugMs);
    std::shared_ptr<emu::WheelBaseEmulator> wheelBase;
    std::shared_ptr<emu::PedalsEmulator> pedals;
    if (device == "wheel") {
        emu::WheelBaseEmulator::Config config;
        config.updateKind = uint8_t(updateKind);
        wheelBase = emu::WheelBaseEmulator::plug(config);
    } else {
        pedals = emu::PedalsEmulator::plug();
        pedals->setAxes(0, 65535, 32768);
    }
    QStringList arguments{"log", file("live.csv"), "--seconds", unplugMs ? "5" : "0.5", shortWait};
    if (everyReport)
        arguments << "--every-report";
    if (unplugMs)
        QTimer::singleShot(unplugMs, this, [&] { wheelBase->unplug(); });
    const CliRun run = runCli(arguments);
    QCOMPARE(run.status, unplugMs ? 3 : 0);
    QVERIFY2(run.out.contains("Logged"), qPrintable(run.out + run.err));
    if (unplugMs)
        QVERIFY2(run.err.contains("Logging failed: the device left the bus after"),
                 qPrintable(run.err));

    QFile csv(file("live.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray text = csv.readAll();
    QVERIFY(text.startsWith(header));
    QList<QByteArray> rows = text.mid(header.size()).split('\n');
    QCOMPARE(rows.takeLast(), QByteArray()); // every row ends with a line end
    QVERIFY2(rows.size() >= minRows && rows.size() <= maxRows, QByteArray::number(rows.size()));
    for (const QByteArray &row : rows) {
        QVERIFY(row.endsWith('\r'));
        QCOMPARE(row.count(',') + 1, fields);
    }
    if (pedals)
        QVERIFY(rows.first().endsWith(",0,65535,32768\r"));
    QVERIFY(run.out.contains(QStringLiteral("Logged %1 rows").arg(rows.size())));
}

void TestCli::centerAndFactoryDefaults()
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    config.device.serialNumber = L"CENTRE";
    auto wheelBase = emu::WheelBaseEmulator::plug(config);
    wheelBase->setProfiles(sampleProfiles(3), 1);
    wheelBase->setPosition(12.5);

    const CliRun centred = runCli({"center", shortWait});
    QCOMPARE(centred.status, 0);
    QVERIFY2(centred.out.contains("Centred the rim of " + pathOf(wheelBase->device()) +
                                  ": profile 1 \"Rally 1\""),
             qPrintable(centred.out + centred.err));
    QVERIFY(wheelBase->profile(1).centerOffset.get() != sampleProfiles(3)[1].centerOffset.get());

    const CliRun reset = runCli({"factory-defaults", "--yes", shortWait});
    QCOMPARE(reset.status, 0);
    QTRY_COMPARE(wheelBase->factoryResets(), 1);
    const QList<ProfileBackup> backups =
        ProfileBackupStore().list(ProfileBackupStore::deviceFolder("CENTRE", 0, 0, QString()));
    QCOMPARE(backups.size(), 1);
    QCOMPARE(backups.first().reason, QStringLiteral("factory-defaults"));
    QCOMPARE(backups.first().profileCount, 3);
    QVERIFY(reset.out.contains(backups.first().path));
}

// Commands that await no answer: the factory reset and the end of a save.
// Success is told only once they went out; a write that failed is repeated.
void TestCli::writeFaults_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("failing");  // the command (byte 1) whose writes fail
    QTest::addColumn<int>("failures"); // how many of them; -1: all
    QTest::addColumn<int>("unplugAt"); // > 0: the device leaves at this command
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text"); // on standard output for status 0, else on standard error
    QTest::addColumn<int>("resets");
    const int reset = int(ZudUsbCommand::Reset);
    const int save = int(ZudUsbCommand::SaveSettings);
    QTest::newRow("reset") << "factory-defaults" << 0 << 0 << 0 << 0
                           << "it holds 2 profiles now; the profiles before are in " << 1;
    QTest::newRow("reset written at the second try")
        << "factory-defaults" << reset << 1 << 0 << 0 << "it holds 2 profiles now" << 1;
    QTest::newRow("reset never written")
        << "factory-defaults" << reset << -1 << 0 << 3
        << "Restoring factory defaults failed: the reset could not be sent, or was not confirmed, "
           "within 1 s. The device may or may not have been reset. The profiles before are in "
        << 0;
    // The backup's load is 5 commands for 3 profiles.
    QTest::newRow("wheel base leaves at the reset")
        << "factory-defaults" << 0 << 0 << 6 << 3
        << "left the bus. The reset was sent. The profiles before are in " << 0;
    QTest::newRow("end of save written at the second try")
        << "import-profiles" << save << 1 << 0 << 0 << "Imported 4 profiles" << 0;
}

void TestCli::writeFaults()
{
    QFETCH(QString, command);
    QFETCH(int, failing);
    QFETCH(int, failures);
    QFETCH(int, unplugAt);
    QFETCH(int, status);
    QFETCH(QString, text);
    QFETCH(int, resets);
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    config.factoryProfileCount = 2;
    auto wheelBase = emu::WheelBaseEmulator::plug(config);
    wheelBase->setProfiles(sampleProfiles(3), 1);
    ProfileTable table;
    for (const ZudUsbWheelBaseProfile &profile : sampleProfiles(4))
        table.profiles.append(profile);
    QString error;
    QVERIFY2(writeProfileFile(file("table.json"), table, error), qPrintable(error));
    if (unplugAt)
        wheelBase->unplugAtCommand(unplugAt);
    // The save's end is the save command with the count byte 255.
    std::atomic<int> left{failures};
    wheelBase->device()->setFailingWrites([&, failing](const uint8_t *data, size_t length) {
        const bool picked = length > 42 && data[1] == failing &&
                            (failing != int(ZudUsbCommand::SaveSettings) || data[42] == 255);
        return picked && (left < 0 || left-- > 0);
    });

    QStringList arguments = command == "import-profiles" ? QStringList{command, file("table.json")}
                                                         : QStringList{command, "--yes"};
    const CliRun run = runCli(arguments << "--wait-ms=1000");
    wheelBase->device()->setFailingWrites(nullptr);
    QCOMPARE(run.status, status);
    QVERIFY2((status ? run.err : run.out).contains(text), qPrintable(run.out + run.err));
    QCOMPARE(wheelBase->factoryResets(), resets);
    if (command == "import-profiles")
        QVERIFY(wheelBase->savesFinished() >= 1);
}

void TestCli::progressBar_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<QString>("text");
    QTest::newRow("start") << 0 << 400 << 0 << "x [..............................]   0 %";
    QTest::newRow("half") << 200 << 400 << 2000
                          << "x [###############...............]  50 %  100 chunks/s  0:02 left";
    QTest::newRow("done") << 400 << 400 << 4000
                          << "x [##############################] 100 %  100 chunks/s";
    QTest::newRow("empty image") << 0 << 0 << 5 << "x [##############################] 100 %";
}

void TestCli::progressBar()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, elapsedMs);
    QFETCH(QString, text);
    QCOMPARE(CliProgress::barText("x", "chunks", done, total, elapsedMs), text);
}

// The examples of the command-line manual's "Examples" section, each run as
// written by bash on the demo's rig (a wheel base and pedals), with
// `zud-wheel` and `build/zud-wheel-demo` the demo build. The files they name
// as the user's own (base-2.4.fw, team.json) are laid out first.
void TestCli::readmeExamples_data()
{
    QTest::addColumn<QString>("script");
    QFile readme(QStringLiteral(ZUD_SOURCE_DIR "/docs/command-line.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(readme.readAll()).split('\n');
    const int start = lines.indexOf("## Examples");
    QVERIFY(start >= 0);
    // Code blocks are indented; a blank line inside one ends an example.
    QStringList example;
    int examples = 0;
    const auto add = [&] {
        if (!example.isEmpty())
            QTest::newRow(qPrintable(example.first())) << example.join('\n');
        examples += example.isEmpty() ? 0 : 1;
        example.clear();
    };
    for (int i = start + 1; i < lines.size() && !lines.at(i).startsWith("## "); ++i) {
        if (lines.at(i).startsWith("    "))
            example << lines.at(i).mid(4);
        else
            add();
    }
    add();
    QVERIFY2(examples >= 5, "the command-line manual's examples were not found");
}

void TestCli::readmeExamples()
{
    QFETCH(QString, script);
    QDir work(dir->path());
    QVERIFY(work.mkpath("bin") && work.mkpath("build"));
    // Every call is counted with its status.
    const QString wrapper = QStringLiteral("#!/bin/sh\n\"%1\" \"$@\"\nstatus=$?\n"
                                           "echo \"$status $*\" >> \"%2\"\nexit $status\n")
                                .arg(ZUD_WHEEL_DEMO, file("calls"));
    for (const QString name : {"bin/zud-wheel", "build/zud-wheel-demo"}) {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(wrapper.toUtf8()) > 0);
        out.close();
        QVERIFY(out.setPermissions(out.permissions() | QFileDevice::ExeOwner));
    }
    QFile firmware(file("base-2.4.fw"));
    QVERIFY(firmware.open(QIODevice::WriteOnly) && firmware.write(randomBytes(4000, 24)) == 4000);
    firmware.close();
    ProfileTable team;
    for (const ZudUsbWheelBaseProfile &profile : sampleProfiles(3))
        team.profiles.append(profile);
    QString error;
    QVERIFY2(writeProfileFile(file("team.json"), team, error), qPrintable(error));

    QProcess bash;
    bash.setWorkingDirectory(dir->path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", file("bin") + ':' + environment.value("PATH"));
    bash.setProcessEnvironment(environment);
    bash.start("bash", {"-c", script});
    QVERIFY(bash.waitForFinished(120000));
    const QString output =
        QString::fromUtf8(bash.readAllStandardOutput() + bash.readAllStandardError());
    QCOMPARE(bash.exitStatus(), QProcess::NormalExit);
    QVERIFY2(bash.exitCode() == 0, qPrintable(output));
    QFile calls(file("calls"));
    QVERIFY2(calls.open(QIODevice::ReadOnly), qPrintable(output));
    const QStringList made = QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!made.isEmpty());
    for (const QString &call : made)
        QVERIFY2(call.startsWith("0 "), qPrintable(call + '\n' + output));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
