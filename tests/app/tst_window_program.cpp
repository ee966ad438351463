// SPDX-License-Identifier: GPL-3.0-or-later
// The window program as a whole, in a child process
// (tests/app/window_harness.cpp): a signal that asks it to end ends it as
// closing it does, and the window's place is remembered between runs in
// the configuration folder.
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

struct Run {
    int exitCode = -1;
    QString err;
};

Run runHarness(const QTemporaryDir &home, const QString &action, const QStringList &arguments = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZUD_HARNESS", action);
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(home.path());
    process.start(QCoreApplication::applicationDirPath() + "/window_harness", arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList filesUnder(const QString &folder, const QString &pattern)
{
    QStringList found;
    QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

} // namespace

class WindowProgramTest : public QObject {
    Q_OBJECT

private slots:
    void signalEndsTheWindowAsClosingDoes_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT (Ctrl-C)") << int(SIGINT);
        QTest::newRow("SIGTERM (kill)") << int(SIGTERM);
        QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
    }
    void signalEndsTheWindowAsClosingDoes()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir home;
        const Run run = runHarness(home, QStringLiteral("signal %1").arg(signalNumber));
        QVERIFY2(run.err.contains("step test started\n"), qPrintable(run.err));
        QCOMPARE(run.exitCode, 128 + signalNumber);
        // The force released, the log written out and closed, the unsaved
        // edit kept in a backup: all said in one line.
        QVERIFY2(
            run.err.contains(
                QStringLiteral("Ended by signal %1: test force released; log ").arg(signalNumber)),
            qPrintable(run.err));
        QVERIFY2(run.err.endsWith("force 0\n"), qPrintable(run.err));
        const QStringList logs = filesUnder(home.path(), "wheel-log-*.csv");
        QCOMPARE(logs.size(), 1);
        QFile log(logs.first());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().startsWith("Time,dt,"));
        const QStringList backups = filesUnder(home.filePath("data"), "*unsaved*.json");
        QCOMPARE(backups.size(), 1);
        QVERIFY(run.err.contains(QStringLiteral("unsaved changes kept in %1")
                                     .arg(QDir::toNativeSeparators(backups.first()))));
    }

    void windowPlaceRememberedInTheConfigurationFolder()
    {
        QTemporaryDir home;
        QVERIFY(runHarness(home, "report").err.contains("geometry "));
        QCOMPARE(runHarness(home, "place 40 30 700 520").exitCode, 0);
        QVERIFY(QFileInfo::exists(home.filePath("config/zud-wheel-tool/settings.ini")));
        QVERIFY2(runHarness(home, "report").err.contains("geometry 40 30 700 520\n"),
                 qPrintable(runHarness(home, "report").err));
    }

    // --tray where there is no tray (offscreen): said on stderr, and the
    // window shows after all.
    void trayOptionWithoutATray()
    {
        QTemporaryDir home;
        const Run run = runHarness(home, "report", {"--tray"});
        QVERIFY2(run.err.contains("There is no system tray on this desktop, so the window is "
                                  "shown instead.\n") &&
                     run.err.contains("shown 1\n"),
                 qPrintable(run.err));
    }
};

QTEST_MAIN(WindowProgramTest)
#include "tst_window_program.moc"
