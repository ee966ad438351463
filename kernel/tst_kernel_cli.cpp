// SPDX-License-Identifier: GPL-3.0-or-later
// zud-wheel against kernel HID devices: the installed program, run as a
// child process, lists the uhid devices, updates a wheel base's firmware
// through both replugs, and switches a wheel base's profile while a game
// runs.
#include "KernelTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run zudWheel(const QStringList &arguments, const QString &dataHome, int timeoutMs = 600000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dataHome);
    process.setProcessEnvironment(environment);
    process.start(ktest::programPath("ZUD_WHEEL", "../zud-wheel"), arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// zud-wheel started as a child process, to run beside another one.
QProcess *startZudWheel(const QStringList &arguments, const QString &dataHome)
{
    auto *process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dataHome);
    process->setProcessEnvironment(environment);
    process->start(ktest::programPath("ZUD_WHEEL", "../zud-wheel"), arguments);
    return process;
}

QJsonArray profilesIn(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonArray();
    return QJsonDocument::fromJson(file.readAll()).object().value("profiles").toArray();
}

// Reads a child's output until it holds text, or the child ends or stays
// silent for timeoutMs.
bool readUntil(QProcess &process, QProcess::ProcessChannel channel, QByteArray &seen,
               const QByteArray &text, int timeoutMs = 120000)
{
    for (;;) {
        process.setReadChannel(channel);
        seen += process.readAll();
        if (seen.contains(text))
            return true;
        if (!process.waitForReadyRead(timeoutMs))
            return false;
    }
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestKernelCli : public QObject {
    Q_OBJECT

private slots:
    void cli_listsKernelDevicesAsJson()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20") > 0);
        QVERIFY(emu.plug("plug pedals 20") > 0);
        const QString wheelLine = emu.takeEvent("plugged");
        const QString pedalsLine = emu.takeEvent("plugged");
        QVERIFY(!wheelLine.isNull() && !pedalsLine.isNull());

        const Run run = zudWheel({"list", "--json"}, dir.path(), 60000);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QJsonArray devices = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(devices.size(), 2);
        QMap<QString, QJsonObject> byKind;
        for (const QJsonValue &value : devices)
            byKind.insert(value.toObject().value("kind").toString(), value.toObject());
        QCOMPARE(byKind.keys(), (QStringList{"pedals", "wheel base"}));
        // "plugged <tag> <pid> <node> <product>"
        QCOMPARE(byKind["wheel base"].value("path").toString(), wheelLine.section(' ', 3, 3));
        QCOMPARE(byKind["pedals"].value("path").toString(), pedalsLine.section(' ', 3, 3));
        QVERIFY(byKind["wheel base"].value("path").toString().startsWith("/dev/hidraw"));
        QCOMPARE(byKind["wheel base"].value("vendorId").toInt(), 0x0483);
        QCOMPARE(byKind["wheel base"].value("productId").toInt(), 0xA355);
        QCOMPARE(byKind["pedals"].value("productId").toInt(), 0xA112);
        QCOMPARE(byKind["wheel base"].value("product").toString(), QString("ZUD Wheel Base"));
    }

    // Two programs on one hidraw node each read every reply: an export
    // running beside an import neither mixes into the save nor lets the
    // import's replies reach the other's table.
    void cli_importBesideAnotherProgramLeavesExactlyTheFile()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int tag = emu.plug("plug wheel 200 5");
        QVERIFY(tag > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        // The team's table: three of the device's profiles, changed.
        const QString before = dir.filePath("before.json");
        Run run = zudWheel({"export-profiles", before}, dir.filePath("data"), 120000);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QFile file(before);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
        QJsonArray profiles = document.value("profiles").toArray();
        QCOMPARE(profiles.size(), 5);
        QJsonArray team;
        for (int i = 0; i < 3; ++i) {
            QJsonObject profile = profiles.at(i).toObject();
            profile.insert("maxForce", 33 + i);
            profile.insert("rotationDegrees", 540 + 10 * i);
            team.append(profile);
        }
        document.insert("profiles", team);
        document.insert("currentProfile", 2);
        const QString teamFile = dir.filePath("team.json");
        QFile out(teamFile);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(document).toJson());
        out.close();

        for (int round = 0; round < 3; ++round) {
            QScopedPointer<QProcess> import(
                startZudWheel({"import-profiles", teamFile}, dir.filePath("data")));
            QScopedPointer<QProcess> other(startZudWheel(
                {"export-profiles", dir.filePath("other.json")}, dir.filePath("data")));
            QVERIFY(import->waitForFinished(120000) && other->waitForFinished(120000));
            QVERIFY2(import->exitCode() == 0, import->readAllStandardError().constData());
            QVERIFY2(other->exitCode() == 0, other->readAllStandardError().constData());
        }

        const QString after = dir.filePath("after.json");
        run = zudWheel({"export-profiles", after}, dir.filePath("data"), 120000);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(profilesIn(after), team);
        const QString answer =
            emu.command(QString("profiles %1 %2").arg(tag).arg(dir.filePath("table")));
        QVERIFY2(answer.startsWith("ok count=3 current=2 "), qPrintable(answer));
    }

    // zud-wheel watch with a rules file: a copy of sleep named as the game
    // starts, and the uhid wheel base's current profile becomes the game's;
    // once it ends, the default profile is current again.
    void cli_watchSwitchesWhileAGameRuns()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        const int tag = emu.plug("plug wheel 20 3");
        QVERIFY(tag > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        QVERIFY(QDir().mkpath(dir.filePath("config/zud-wheel-tool")));
        QFile rules(dir.filePath("config/zud-wheel-tool/games.json"));
        QVERIFY(rules.open(QIODevice::WriteOnly));
        rules.write(R"({"format": "zud-wheel-games", "version": 1, "enabled": true,
            "defaultProfile": "Factory 0", "games": [{"name": "Endurance Racer",
            "executable": "EnduranceRacer-Win64-Shipping.exe", "profile": "Factory 2"}]})");
        rules.close();
        // busybox's sleep takes its applet from its name: the machine has a
        // program of its own to copy.
        const QString game = dir.filePath("EnduranceRacer-Win64-Shipping.exe");
        QVERIFY(QFile::copy(qEnvironmentVariable("ZUD_SLEEP", "/bin/sleep"), game));

        QProcess watch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", dir.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        watch.setProcessEnvironment(environment);
        watch.start(ktest::programPath("ZUD_WHEEL", "../zud-wheel"), {"watch"});
        QByteArray out, err;
        QVERIFY2(readUntil(watch, QProcess::StandardError, err, "Watching for the listed games"),
                 err.constData());

        QProcess racer;
        racer.start(game, {"600"});
        QVERIFY(racer.waitForStarted());
        QVERIFY2(readUntil(watch, QProcess::StandardOutput, out, "for Endurance Racer.\n"),
                 (out + err + watch.readAllStandardError()).constData());
        QString answer = emu.command(QString("profiles %1 %2").arg(tag).arg(dir.filePath("t")));
        QVERIFY2(answer.startsWith("ok count=3 current=2 "), qPrintable(answer));

        racer.kill();
        racer.waitForFinished();
        QVERIFY2(readUntil(watch, QProcess::StandardOutput, out, "no listed game runs.\n"),
                 (out + err + watch.readAllStandardError()).constData());
        answer = emu.command(QString("profiles %1 %2").arg(tag).arg(dir.filePath("t")));
        QVERIFY2(answer.startsWith("ok count=3 current=0 "), qPrintable(answer));

        watch.terminate();
        QVERIFY(watch.waitForFinished(60000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts).size(), 2);
    }

    void cli_updatesFirmwareThroughBothReplugs()
    {
        QTemporaryDir dir;
        const QString firmware = dir.filePath("new.fw");
        QByteArray image(48 * 1024 + 5, 0);
        QRandomGenerator random(11);
        for (char &b : image)
            b = char(random.generate() & 0xFF);
        {
            QFile f(firmware);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(image), qint64(image.size()));
        }

        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20 3") > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        const Run run = zudWheel({"update-firmware", firmware}, dir.filePath("data"));
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains("The profiles survived the update: 3 profiles"),
                 qPrintable(run.out));

        const QString bootLine = emu.takeEvent("plugged", 60000);
        QVERIFY(bootLine.endsWith("ZUD Wheel Base Bootloader"));
        const QString backLine = emu.takeEvent("plugged", 60000);
        QVERIFY(backLine.endsWith(" ZUD Wheel Base"));
        QVERIFY(run.out.contains("The wheel base is back at " + backLine.section(' ', 3, 3)));

        const QString dump = dir.filePath("received");
        const QString answer =
            emu.command(QString("image %1 %2").arg(bootLine.section(' ', 1, 1)).arg(dump));
        QVERIFY2(answer.startsWith("ok 49184 ended=1 crcMismatches=0 missing=0"),
                 qPrintable(answer));
        const QByteArray received = readFile(dump);
        QCOMPARE(received.left(image.size()), image);
        QCOMPARE(received.mid(image.size()), QByteArray(received.size() - image.size(), '\0'));
    }
};

QTEST_GUILESS_MAIN(TestKernelCli)
#include "tst_kernel_cli.moc"
