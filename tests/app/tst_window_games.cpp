// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of profiles that follow the game: the "Games" page and
// its rules file, the tray menu, start at login, and the window's game
// watcher on an emulated wheel base with processes of the test's own.
#include "FindChild.h"
#include "WindowRig.h"

#include "app/HostSettings.h"
#include "app/LoginStart.h"
#include "games/GameWatcher.h"
#include "games/ProcessSource.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

using namespace wintest;

namespace {

struct FakeProcesses : ProcessSource {
    QVector<ProcessInfo> list;
    QVector<ProcessInfo> processes() override { return list; }
};

const ProcessInfo enduranceRacer{40, 400, "C:\\Games\\EnduranceRacer.exe", "/usr/bin/wine"};
const ProcessInfo rallyStages{41, 410, "/usr/games/rallystages", "/usr/games/rallystages"};

// One game on Factory 1, "Factory 0" when no game runs.
GameRules startingRules()
{
    GameRules rules;
    rules.defaultProfile = QStringLiteral("Factory 0");
    rules.games.append({QStringLiteral("Endurance Racer"), QStringLiteral("EnduranceRacer.exe"),
                        QStringLiteral("Factory 1")});
    return rules;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray rulesFile()
{
    return readFile(gameRulesPath());
}

void writeRules(const GameRules &rules)
{
    QString error;
    if (!writeGameRulesFile(gameRulesPath(), rules, error))
        qFatal("%s", qPrintable(error));
}

QStringList actionTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isChecked() ? QStringLiteral("[x] ") : QString()) + action->text();
    return texts;
}

QAction *action(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// A wheel base with Factory 0, 1 and 2, the first one current, whose
// settings have loaded in the window.
bool plugThreeProfiles(WindowRig &rig)
{
    emu::WheelBaseEmulator::Config config = quietWheel();
    config.factoryProfileCount = 3;
    return rig.plug(config) && QTest::qWaitFor([&] { return rig.ready(); }, 5000);
}

} // namespace

class WindowGamesTest : public QObject {
    Q_OBJECT

    QTemporaryDir config;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
        QVERIFY(gameRulesPath().startsWith(config.path()));
    }
    void init() { QFile::remove(gameRulesPath()); }
    void cleanup() { vhid::unplugAll(); }

    void pageWritesEachChange_data();
    void pageWritesEachChange();
    void pageShowsAFileWrittenElsewhere();
    void badFileIsShownAndKept_data();
    void badFileIsShownAndKept();
    void trayMenuSwitchesByHand();
    void trayAndLoginOptions();
    void watcherSwitchesWaitsAndStandsBy();
};

void WindowGamesTest::pageWritesEachChange_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QByteArray>("expected");
    auto row = [](const char *change, const std::function<void(GameRules &)> &edit) {
        GameRules rules = startingRules();
        edit(rules);
        QTest::newRow(change) << QString::fromLatin1(change) << gameRulesToJson(rules);
    };
    row("switching off", [](GameRules &r) { r.enabled = false; });
    row("keep current", [](GameRules &r) { r.defaultProfile.clear(); });
    row("default profile", [](GameRules &r) { r.defaultProfile = QStringLiteral("Factory 2"); });
    row("game profile", [](GameRules &r) { r.games[0].profile = QStringLiteral("Factory 2"); });
    row("game name", [](GameRules &r) { r.games[0].name = QStringLiteral("Endurance"); });
    row("executable", [](GameRules &r) { r.games[0].executable = QStringLiteral("er.exe"); });
    row("executable with a folder", [](GameRules &) {});
    row("empty name", [](GameRules &) {});
    row("remove", [](GameRules &r) { r.games.clear(); });
    row("add typed", [](GameRules &r) {
        r.games.append({QStringLiteral("Rally Stages"), QStringLiteral("rallystages.exe"),
                        QStringLiteral("Factory 2")});
    });
    row("add running", [](GameRules &r) {
        r.games.append({QStringLiteral("rallystages"), QStringLiteral("rallystages"),
                        QStringLiteral("Factory 0")});
    });
}

// Every change on the page is in the file at once; a refused cell edit
// leaves the file as it was.
void WindowGamesTest::pageWritesEachChange()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, expected);
    writeRules(startingRules());
    WindowRig rig;
    QVERIFY(plugThreeProfiles(rig));
    FakeProcesses processes;
    processes.list = {enduranceRacer, rallyStages};
    GamesPage &page = rig.window.gamesPage();
    page.setProcessSource(&processes);
    auto *table = child<QTableWidget>(rig.window, "tableWidget_Games");
    auto *defaultBox = child<QComboBox>(rig.window, "comboBox_DefaultProfile");
    QCOMPARE(table->rowCount(), 1);
    auto *gameBox = qobject_cast<QComboBox *>(table->cellWidget(0, 2));
    QVERIFY(gameBox);
    QCOMPARE(gameBox->currentText(), QStringLiteral("Factory 1"));
    QCOMPARE(defaultBox->itemText(0), QStringLiteral("Keep current"));

    auto activate = [](QComboBox *box, const QString &text) {
        const int index = box->findText(text);
        QVERIFY(index >= 0);
        box->setCurrentIndex(index);
        emit box->activated(index);
    };
    if (change == "switching off") {
        QTest::mouseClick(child<QCheckBox>(rig.window, "checkBox_SwitchProfiles"), Qt::LeftButton,
                          {}, QPoint(5, 5));
    } else if (change == "keep current") {
        activate(defaultBox, "Keep current");
    } else if (change == "default profile") {
        activate(defaultBox, "Factory 2");
    } else if (change == "game profile") {
        activate(gameBox, "Factory 2");
    } else if (change == "game name") {
        table->item(0, 0)->setText("Endurance");
    } else if (change == "executable") {
        table->item(0, 1)->setText("er.exe");
    } else if (change == "executable with a folder") {
        table->item(0, 1)->setText("C:\\Games\\er.exe");
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("EnduranceRacer.exe"));
    } else if (change == "empty name") {
        table->item(0, 0)->setText(" ");
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Endurance Racer"));
    } else if (change == "remove") {
        table->setCurrentCell(0, 0);
        rig.click("pushButton_RemoveGame");
    } else {
        rig.click("pushButton_AddGame");
        QDialog *dialog = page.addGameDialog();
        QVERIFY(dialog && dialog->isVisible());
        if (change == "add typed") {
            child<QLineEdit>(*dialog, "lineEdit_Executable")->setText("rallystages.exe");
            QCOMPARE(child<QLineEdit>(*dialog, "lineEdit_GameName")->text(),
                     QStringLiteral("rallystages"));
            QTest::keyClicks(child<QLineEdit>(*dialog, "lineEdit_GameName"), "x");
            child<QLineEdit>(*dialog, "lineEdit_GameName")->setText("Rally Stages");
            activate(child<QComboBox>(*dialog, "comboBox_GameProfile"), "Factory 2");
        } else {
            auto *list = child<QListWidget>(*dialog, "listWidget_Processes");
            QCOMPARE(list->count(), 2); // EnduranceRacer.exe, rallystages
            list->setCurrentRow(1);
        }
        dialog->accept();
        QCOMPARE(table->rowCount(), 2);
    }
    QCOMPARE(rulesFile(), expected);
}

// A file changed by someone else shows on the page; a profile the wheel
// base does not have stays visible and stays in the file.
void WindowGamesTest::pageShowsAFileWrittenElsewhere()
{
    WindowRig rig;
    QVERIFY(plugThreeProfiles(rig));
    auto *table = child<QTableWidget>(rig.window, "tableWidget_Games");
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(!rig.window.gamesPage().switchingWanted()); // no file: nothing switches
    GameRules rules = startingRules();
    rules.games[0].profile = QStringLiteral("Wet");
    rules.games.append({QStringLiteral("Rally Stages"), QStringLiteral("rallystages"),
                        QStringLiteral("Factory 2")});
    writeRules(rules);
    QTRY_COMPARE(table->rowCount(), 2); // looked at by the page itself
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("Rally Stages"));
    auto *gameBox = qobject_cast<QComboBox *>(table->cellWidget(0, 2));
    QCOMPARE(gameBox->currentText(), QStringLiteral("Wet (not on the wheel base)"));
    // Another row's change keeps the name that is not on the device.
    auto *otherBox = qobject_cast<QComboBox *>(table->cellWidget(1, 2));
    otherBox->setCurrentIndex(0);
    emit otherBox->activated(0);
    rules.games[1].profile = QStringLiteral("Factory 0");
    QCOMPARE(rulesFile(), gameRulesToJson(rules));
}

void WindowGamesTest::badFileIsShownAndKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("not JSON") << QByteArray("{ \"format\": \"zud-wheel-games\", ") << "games.json";
    QTest::newRow("field") << QByteArray(gameRulesToJson(startingRules()))
                                  .replace("\"profile\": \"Factory 1\"", "\"profile\": 7")
                           << "\"profile\"";
}

// A rules file that cannot be used is named with its fault, and nothing on
// the page can write over it until it has been fixed.
void WindowGamesTest::badFileIsShownAndKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QVERIFY(QDir().mkpath(QFileInfo(gameRulesPath()).absolutePath()));
    {
        QFile file(gameRulesPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    WindowRig rig;
    QVERIFY(plugThreeProfiles(rig));
    const QString message = child<QLabel>(rig.window, "label_GamesMessage")->text();
    QVERIFY2(message.startsWith("The games file cannot be used: ") && message.contains(shown),
             qPrintable(message));
    for (const char *name : {"checkBox_SwitchProfiles", "pushButton_AddGame",
                             "pushButton_RemoveGame", "comboBox_DefaultProfile"})
        QVERIFY2(!child<QWidget>(rig.window, name)->isEnabled(), name);
    QTest::mouseClick(child<QCheckBox>(rig.window, "checkBox_SwitchProfiles"), Qt::LeftButton, {},
                      QPoint(5, 5));
    QVERIFY(!rig.window.gameSwitching().watcher());
    QCOMPARE(readFile(gameRulesPath()), bytes);

    // Fixed by hand: the page takes it up and is editable again.
    writeRules(startingRules());
    rig.window.gamesPage().reload();
    QVERIFY(child<QLabel>(rig.window, "label_GamesMessage")->text().isEmpty());
    QVERIFY(child<QWidget>(rig.window, "pushButton_AddGame")->isEnabled());
    QCOMPARE(child<QTableWidget>(rig.window, "tableWidget_Games")->rowCount(), 1);
}

// The tray menu lists the wheel base's profiles with the current one
// checked; choosing one switches the device, never with unsaved edits.
void WindowGamesTest::trayMenuSwitchesByHand()
{
    WindowRig rig;
    QVERIFY(plugThreeProfiles(rig));
    TrayIcon &tray = rig.window.trayIcon();
    tray.rebuildMenu();
    QMenu *menu = tray.menu();
    QCOMPARE(actionTexts(menu), (QStringList{"ZUD Wheel Base", "[x] Factory 0", "Factory 1",
                                             "Factory 2", "", "Show", "Quit"}));

    // Unsaved edits: refused, and said so.
    auto *force = child<QSlider>(rig.window, "horiSlider_Force");
    force->setValue(force->value() == 10 ? 20 : 10);
    QVERIFY(rig.window.isWindowModified());
    action(menu, "Factory 2")->trigger();
    QVERIFY2(rig.status().contains("unsaved edits"), qPrintable(rig.status()));
    QCOMPARE(rig.emulator->currentProfile(), 0);

    rig.click("pushButton_SaveConfig");
    QVERIFY(QTest::qWaitFor([&] { return !rig.window.isWindowModified() && rig.ready(); }, 5000));
    // Levels the editor would show rounded stay as they are on the device:
    // a switch changes the current profile only, whatever the editor shows.
    std::vector<ZudUsbWheelBaseProfile> table = rig.emulator->profiles();
    table.at(0).damping = 37;
    rig.emulator->setProfiles(table, 0);
    tray.rebuildMenu();
    action(menu, "Factory 2")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return rig.emulator->currentProfile() == 2; }, 10000));
    QTRY_COMPARE(rig.profiles()->currentText(), QStringLiteral("Factory 2"));
    QCOMPARE(int(rig.emulator->profile(0).damping), 37);
    QVERIFY(!rig.window.isWindowModified());
    QVERIFY2(!rig.status().contains("another program"), qPrintable(rig.status()));
    tray.rebuildMenu();
    QVERIFY(actionTexts(menu).contains("[x] Factory 2"));
}

// Close to the tray and start at login are kept on this computer; the
// latter writes a valid autostart entry that starts the program in the tray,
// and removes it.
void WindowGamesTest::trayAndLoginOptions()
{
    QVERIFY(LoginStart::entryPath().startsWith(config.path() + "/autostart/"));
    QFile::remove(LoginStart::entryPath());
    {
        WindowRig rig;
        // Offscreen there is no tray: --tray shows the window and says why.
        QVERIFY(!rig.window.startInTray());
        QCOMPARE(rig.status(), ZUD_wheel_tool::noTrayText());
        auto *login = child<QCheckBox>(rig.window, "checkBox_StartAtLogin");
        auto *closeToTray = child<QCheckBox>(rig.window, "checkBox_CloseToTray");
        QVERIFY(!login->isChecked() && !closeToTray->isChecked());
        QTest::mouseClick(login, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(closeToTray, Qt::LeftButton, {}, QPoint(5, 5));
        const QByteArray entry = readFile(LoginStart::entryPath());
        QVERIFY2(entry.contains("\nExec=ZUD_wheel_tool --tray\n"), entry.constData());
        QProcess validate;
        validate.start("desktop-file-validate", {LoginStart::entryPath()});
        if (validate.waitForFinished(10000)) // where the tool is installed
            QVERIFY2(validate.exitCode() == 0 && validate.readAll().isEmpty(),
                     qPrintable(LoginStart::entryPath()));
        QVERIFY(HostSettings().startAtLogin() && HostSettings().closeToTray());
    }
    WindowRig rig;
    auto *login = child<QCheckBox>(rig.window, "checkBox_StartAtLogin");
    QVERIFY(login->isChecked() &&
            child<QCheckBox>(rig.window, "checkBox_CloseToTray")->isChecked());
    QTest::mouseClick(login, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!QFile::exists(LoginStart::entryPath()));
    QVERIFY(!HostSettings().startAtLogin());
}

// The window's watcher switches the wheel base for a game and back, shows
// the new profile in the editor, waits while there are unsaved edits, and
// stands by while another watcher switches.
void WindowGamesTest::watcherSwitchesWaitsAndStandsBy()
{
    writeRules(startingRules());
    WindowRig rig;
    QVERIFY(plugThreeProfiles(rig));
    FakeProcesses processes;

    rig.window.gameSwitching().setProcessSource(&processes);
    QVERIFY(rig.window.gameSwitching().watcher());
    auto *switching = child<QCheckBox>(rig.window, "checkBox_SwitchProfiles");
    QTest::mouseClick(switching, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!rig.window.gameSwitching().watcher());

    // Another watcher holds the lock (with no rules to apply) when switching
    // is turned on again.
    GameWatcher other(rig.window.manager(), &processes);
    other.setRulesPath(config.filePath("none.json"));
    other.start();
    QTest::mouseClick(switching, Qt::LeftButton, {}, QPoint(5, 5));
    GameWatcher *watcher = rig.window.gameSwitching().watcher();
    QVERIFY(watcher && watcher->isStandingBy());
    const QString note = child<QLabel>(rig.window, "label_GamesMessage")->text();
    QVERIFY2(note.endsWith(QStringLiteral("(pid %1) switches profiles, so this window does not "
                                          "switch them.")
                               .arg(QCoreApplication::applicationPid())),
             qPrintable(note));
    processes.list = {enduranceRacer};
    watcher->poll();
    QTest::qWait(300);
    QCOMPARE(rig.emulator->currentProfile(), 0);

    // The other one ends: this window takes over and switches.
    other.stop();
    watcher->poll();
    QVERIFY(QTest::qWaitFor([&] { return rig.emulator->currentProfile() == 1; }, 10000));
    QTRY_COMPARE(rig.window.trayIcon().lastNotification(),
                 QStringLiteral("Factory 1 for Endurance Racer"));
    QCOMPARE(rig.profiles()->currentText(), QStringLiteral("Factory 1"));
    QVERIFY(!rig.window.isWindowModified());
    QVERIFY(child<QLabel>(rig.window, "label_GamesMessage")->text().isEmpty());

    // The game ends while the editor holds unsaved edits: the switch back waits.
    auto *force = child<QSlider>(rig.window, "horiSlider_Force");
    force->setValue(force->value() == 10 ? 20 : 10);
    processes.list.clear();
    watcher->poll();
    QCOMPARE(rig.status(), QStringLiteral("Switching to \"Factory 0\" waits until the edits on "
                                          "ZUD Wheel Base are saved or discarded."));
    QTest::qWait(300);
    QCOMPARE(rig.emulator->currentProfile(), 1);
    rig.click("pushButton_SaveConfig");
    QVERIFY(QTest::qWaitFor([&] { return rig.emulator->currentProfile() == 0; }, 10000));
    QTRY_COMPARE(rig.window.trayIcon().lastNotification(),
                 QStringLiteral("Factory 0, as no listed game is running"));
    QCOMPARE(rig.profiles()->currentText(), QStringLiteral("Factory 0"));
    QVERIFY(!rig.window.isWindowModified());
    QVERIFY2(!rig.status().contains("another program"), qPrintable(rig.status()));
}

QTEST_MAIN(WindowGamesTest)
#include "tst_window_games.moc"
