// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: the probe's one line and exit status, and the GUI start
// for anything else. Runs the entry point on the virtual bus in a child
// process (tests/app/probe_harness.cpp).
#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QStringList &arguments, const QString &devices)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZUD_TEST_DEVICES", devices);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationDirPath() + "/probe_harness", arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestProbe : public QObject {
    Q_OBJECT

private slots:
    void probe_data()
    {
        QTest::addColumn<QString>("devices");
        QTest::addColumn<bool>("found");
        QTest::newRow("nothing") << "" << false;
        QTest::newRow("wheel base") << "a355:ZUD Wheel Base" << true;
        QTest::newRow("bootloader") << "a355:ZUD Bootloader" << true;
        QTest::newRow("pedals only") << "a112:ZUD Pedals" << false;
        QTest::newRow("unnamed a355") << "a355:Gadget" << false;
        QTest::newRow("other product ids") << "a111:;5c05:;a110:" << false;
        QTest::newRow("open fails") << "!a355:ZUD Wheel Base" << false;
        QTest::newRow("one of two") << "!a355:ZUD Wheel Base;a355:ZUD Wheel Base" << true;
    }
    void probe()
    {
        QFETCH(QString, devices);
        QFETCH(bool, found);
        const Run run = runTool({"--has-usb-device", "ignored", "--more"}, devices);
        QCOMPARE(run.exitCode, found ? 0 : 1);
        QCOMPARE(run.out,
                 QByteArray(found ? "Found ZUD USB device.\n" : "No ZUD USB device found.\n"));
        QVERIFY(!run.err.contains("window shown"));
        // Each device found is opened once, closed again, and sent nothing.
        for (const QByteArray &line : run.err.split('\n')) {
            if (!line.startsWith("device "))
                continue;
            QVERIFY2(line.contains("open-now=0 writes=0"), line.constData());
        }
        if (devices == "a355:ZUD Wheel Base")
            QVERIFY2(run.err.contains("opens=1 "), run.err.constData());
    }

    void anythingElseStartsTheWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no arguments") << QStringList();
        QTest::newRow("flag second") << QStringList({"-x", "--has-usb-device"});
        QTest::newRow("other case") << QStringList({"--HAS-USB-DEVICE"});
        QTest::newRow("prefix only") << QStringList({"--has-usb"});
    }
    void anythingElseStartsTheWindow()
    {
        QFETCH(QStringList, arguments);
        const Run run = runTool(arguments, "a355:ZUD Wheel Base");
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains("window shown"), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
