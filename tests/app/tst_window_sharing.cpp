// SPDX-License-Identifier: GPL-3.0-or-later
// The window and zud-wheel on one wheel base, in one process on the virtual
// bus, where every open handle receives every reply as on hidraw: neither
// takes over the other's replies, exchanges take turns, and the window
// follows what the command line saved.
#include "CliRun.h"
#include "FindChild.h"
#include "WindowTestSupport.h"

#include "profiles/ProfileBackupStore.h"
#include "profiles/ProfileFile.h"

#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace wintest;

namespace {

ProfileTable sampleTable(int count, int current, int force)
{
    ProfileTable table;
    table.currentProfile = current;
    for (int i = 0; i < count; ++i) {
        ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(i);
        p.maxForce = force + i;
        p.rotationDegrees = 360 + 90 * i;
        table.profiles.append(p);
    }
    return table;
}

std::vector<ZudUsbWheelBaseProfile> profilesOf(const ProfileTable &table)
{
    return std::vector<ZudUsbWheelBaseProfile>(table.profiles.begin(), table.profiles.end());
}

ProfileTable tableOn(const emu::WheelBaseEmulator &emulator)
{
    ProfileTable table;
    table.currentProfile = emulator.currentProfile();
    for (const ZudUsbWheelBaseProfile &p : emulator.profiles())
        table.profiles.append(p);
    return table;
}

} // namespace

class WindowSharingTest : public QObject {
    Q_OBJECT

    QTemporaryDir data;

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        QVERIFY(ProfileBackupStore().root().startsWith(data.path()));
    }
    void cleanup()
    {
        UsbDevice::setTurnWaitMs(10000);
        vhid::unplugAll();
    }

    void windowAndCommandLine_data();
    void windowAndCommandLine();
    void windowWaitsForTheCommandLine();
};

void WindowSharingTest::windowAndCommandLine_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("edited");
    QTest::addColumn<bool>("windowKeepsDevice");
    QTest::newRow("export, window edited") << "export-profiles" << true << false;
    QTest::newRow("centre, window edited") << "center" << true << false;
    QTest::newRow("import, window unedited") << "import-profiles" << false << false;
    QTest::newRow("import, window edited") << "import-profiles" << true << false;
    QTest::newRow("export, window saving") << "export-profiles" << false << true;
}

void WindowSharingTest::windowAndCommandLine()
{
    QFETCH(QString, command);
    QFETCH(bool, edited);
    QFETCH(bool, windowKeepsDevice);

    const ProfileTable onDevice = sampleTable(4, 1, 61);
    emu::WheelBaseEmulator::Config config = quietWheel();
    auto emulator = emu::WheelBaseEmulator::plug(config);
    emulator->setProfiles(profilesOf(onDevice), onDevice.currentProfile);
    const QString path = QString::fromStdString(emulator->device()->path());

    ZUD_wheel_tool window;
    window.setAttribute(Qt::WA_QuitOnClose, false);
    discover(window);
    auto *wheelBase = deviceOf<UsbDeviceZudWheelBase>(window, emulator->device());
    QVERIFY(wheelBase);
    QTRY_VERIFY(child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled());
    if (edited) {
        child<QSlider>(window, "horiSlider_Force")->setValue(20);
        QVERIFY(window.isWindowModified());
    }
    const ProfileTable inEditor = profileTableOf(*wheelBase);

    const ProfileTable fromFile = sampleTable(3, 2, 30);
    const QString file = data.filePath(QStringLiteral("table.json"));
    QFile::remove(file);
    if (command == "import-profiles") {
        QString error;
        QVERIFY2(writeProfileFile(file, fromFile, error), qPrintable(error));
    }
    if (windowKeepsDevice) {
        // The window's save gets no answer: it keeps the device.
        UsbDevice::setTurnWaitMs(500);
        emulator->dropReplies(100000);
        QTest::mouseClick(child<QPushButton>(window, "pushButton_SaveConfig"), Qt::LeftButton);
        QTRY_VERIFY(wheelBase->holdsTurn());
    }

    QStringList arguments{command, QStringLiteral("--device"), path,
                          QStringLiteral("--wait-ms=3000")};
    if (command != "center")
        arguments << file;
    const size_t savesBefore = emulator->savesFinished();
    const CliRun run = runCli(arguments);

    if (windowKeepsDevice) {
        QCOMPARE(run.status, 3);
        const QString expected =
            QStringLiteral("The wheel base %1 is busy: %2 (pid %3) is saving its profiles. Try "
                           "again when it has finished.")
                .arg(path, QFileInfo(QCoreApplication::applicationFilePath()).fileName())
                .arg(QCoreApplication::applicationPid());
        QVERIFY2(run.err.contains(expected), qPrintable(run.err));
        QVERIFY(!QFile::exists(file));
        emulator->dropReplies(0);
        QTRY_VERIFY(window.statusBar()->currentMessage().contains("verified"));
        QCOMPARE(emulator->savesFinished(), savesBefore + 1);
        return;
    }
    QVERIFY2(run.status == 0, qPrintable(run.err));

    if (command == "import-profiles") {
        QCOMPARE(tableOn(*emulator), fromFile);
        if (edited) {
            // The edits stay, and the window says that the device changed.
            QTRY_VERIFY(window.statusBar()->currentMessage().contains("another program"));
            QTest::qWait(500);
            QCOMPARE(profileTableOf(*wheelBase), inEditor);
            QVERIFY(window.isWindowModified());
        } else {
            // The window shows what the device holds now.
            QTRY_COMPARE_WITH_TIMEOUT(profileTableOf(*wheelBase), fromFile, 5000);
            QCOMPARE(child<QComboBox>(window, "comboBox_ProfileName")->count(), 3);
            QVERIFY(!window.isWindowModified());
        }
        return;
    }

    // Nobody saved, and the window's edits are still in its editor.
    QCOMPARE(emulator->savesFinished(), savesBefore);
    QTest::qWait(500);
    if (command == "export-profiles") {
        QCOMPARE(profileTableOf(*wheelBase), inEditor);
        ProfileTable exported;
        QString error;
        QVERIFY2(readProfileFile(file, exported, error), qPrintable(error));
        QCOMPARE(exported, onDevice);
    } else {
        // The centre changed the device: the edits stay, and the window
        // says what happened.
        QCOMPARE(int(profileTableOf(*wheelBase).profiles.at(1).maxForce.get()), 20);
        QVERIFY(window.statusBar()->currentMessage().contains("another program"));
    }
    QCOMPARE(window.isWindowModified(), edited);
}

// zud-wheel keeps the device (its load gets no answer) while the user asks
// the window to reload: the window's load waits, then the status bar names
// the holder, nothing was sent, and "Reload Settings" can be tried again.
void WindowSharingTest::windowWaitsForTheCommandLine()
{
    auto emulator = emu::WheelBaseEmulator::plug(quietWheel());
    emulator->setProfiles(profilesOf(sampleTable(2, 0, 50)), 0);
    const QString path = QString::fromStdString(emulator->device()->path());
    ZUD_wheel_tool window;
    window.setAttribute(Qt::WA_QuitOnClose, false);
    discover(window);
    QPushButton *reload = child<QPushButton>(window, "pushButton_LoadConfig");
    QTRY_VERIFY(reload->isEnabled());

    UsbDevice::setTurnWaitMs(500);
    emulator->dropReplies(100000);
    emulator->clearCommands();
    QStringList statuses;
    connect(window.statusBar(), &QStatusBar::messageChanged, this,
            [&](const QString &text) { statuses << text; });
    QTimer::singleShot(200, &window, [&] { QTest::mouseClick(reload, Qt::LeftButton); });
    const CliRun run = runCli({QStringLiteral("export-profiles"), QStringLiteral("--device"), path,
                               QStringLiteral("--wait-ms=3000"), data.filePath("held.json")});
    QCOMPARE(run.status, 3);
    const QString expected =
        QStringLiteral("The wheel base %1 is busy: %2 (pid %3) is loading its profiles. Try again "
                       "when it has finished.")
            .arg(path, QFileInfo(QCoreApplication::applicationFilePath()).fileName())
            .arg(QCoreApplication::applicationPid());
    QVERIFY2(statuses.contains(expected), qPrintable(statuses.join('\n')));
    QVERIFY(reload->isEnabled());
    // Only the command line's load went out (repeated while unanswered).
    for (const vhid::Report &command : emulator->commands())
        QCOMPARE(int(command[1]), 3);
}

QTEST_MAIN(WindowSharingTest)
#include "tst_window_sharing.moc"
