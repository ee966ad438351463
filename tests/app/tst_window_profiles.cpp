// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles that cannot be lost, through the window against the emulated
// wheel base: names typed in place, backups before every operation that
// overwrites the device's table, the question before edits are dropped,
// verified saves, and export / factory reset / import / save.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "profiles/ProfileBackupStore.h"
#include "profiles/ProfileFile.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using namespace wintest;

namespace {

const QString serial = QStringLiteral("ZWB-T1");

std::vector<ZudUsbWheelBaseProfile> sampleProfiles(int count)
{
    std::vector<ZudUsbWheelBaseProfile> profiles;
    for (int i = 0; i < count; ++i) {
        ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(i);
        p.maxForce = i % 101;
        p.rotationDegrees = 180 + 10 * i;
        p.damping = int8_t(i % 11 * 10);
        p.centerOffset = 0.001f * float(i);
        profiles.push_back(p);
    }
    return profiles;
}

ProfileTable tableOf(const std::vector<ZudUsbWheelBaseProfile> &profiles, int current)
{
    ProfileTable table;
    table.currentProfile = current;
    for (const ZudUsbWheelBaseProfile &p : profiles)
        table.profiles.append(p);
    return table;
}

// The window with an emulated wheel base (with a serial number) selected
// and its settings loaded.
struct Rig : WindowRig {
    explicit Rig(int profiles = 3, const QString &serialNumber = serial)
    {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 0;
        config.device.serialNumber = serialNumber.toStdWString();
        window.setAttribute(Qt::WA_QuitOnClose, false);
        plug(config, sampleProfiles(profiles), 1);
    }
    bool loaded()
    {
        return child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled() &&
               profiles()->count() > 0;
    }
    ProfileTable device() const
    {
        return tableOf(emulator->profiles(), emulator->currentProfile());
    }
    void edit() { child<QSlider>(window, "horiSlider_Force")->setValue(99); }
};

#define RIG_READY(rig)                                                                             \
    do {                                                                                           \
        QVERIFY((rig).wheelBase);                                                                  \
        QTRY_VERIFY((rig).loaded());                                                               \
    } while (0)

QList<ProfileBackup> backups()
{
    return ProfileBackupStore().list(serial);
}

// Starts one of the operations that back the loaded table up first; the
// questions it asks on the way are answered from answers.
void start(Rig &rig, const QString &operation, DialogAnswerer &answers, const QString &file)
{
    if (operation == "save") {
        rig.click("pushButton_SaveConfig");
    } else if (operation == "factory-defaults") {
        // "Reset settings?" follows the question about unsaved changes.
        answers.buttons.insert(rig.window.isWindowModified() ? 1 : 0, QMessageBox::Yes);
        rig.click("pushButton_SetDefaultConfig");
    } else if (operation == "bootloader") {
        rig.click("pushButton_EnterExitBootloader");
    } else if (operation == "import") {
        answers.files << file;
        rig.click("pushButton_ImportProfiles");
    }
}

bool happened(Rig &rig, const QString &operation, const ProfileTable &imported)
{
    if (operation == "save")
        return rig.emulator->savesFinished() > 0;
    if (operation == "factory-defaults")
        return rig.emulator->factoryResets() > 0;
    if (operation == "bootloader")
        return !rig.emulator->isPlugged();
    return profileTableOf(*rig.wheelBase) == imported;
}

// Opens "Backups…" and answers its list with row (or cancels with -1) once
// ready returns true; returns the rows offered.
QStringList chooseBackup(Rig &rig, int row, const std::function<bool()> &ready = {})
{
    QStringList offered;
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            offered = dialog->comboBoxItems();
            if (ready && !ready())
                return;
            if (row < 0) {
                dialog->reject();
                return;
            }
            dialog->findChild<QComboBox *>()->setCurrentIndex(row);
            dialog->accept();
        }
    });
    chooser.start(1);
    DialogAnswerer answers; // "There are no backups" when it comes
    rig.click("pushButton_RestoreBackup");
    return offered;
}

} // namespace

class WindowProfilesTest : public QObject {
    Q_OBJECT

    QTemporaryDir data;
    QString importFile;
    ProfileTable imported;

private slots:
    void initTestCase()
    {
        // Backups go to the data folder, here a temporary one.
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
        QVERIFY(ProfileBackupStore().root().startsWith(data.path()));
        importFile = data.filePath("import.json");
        imported = tableOf(sampleProfiles(5), 4);
        QString error;
        QVERIFY(writeProfileFile(importFile, imported, error));
    }

    void init() { QDir(ProfileBackupStore().root()).removeRecursively(); }
    void cleanup() { vhid::unplugAll(); }

    void nameTypedInTheMiddle()
    {
        Rig rig;
        RIG_READY(rig);
        QComboBox *list = child<QComboBox>(rig.window, "comboBox_ProfileName");
        QLineEdit *edit = list->lineEdit();
        QCOMPARE(edit->text(), QStringLiteral("Factory 1"));
        edit->setCursorPosition(4);
        QTest::keyClicks(edit, QStringLiteral("XY"));
        QCOMPARE(edit->text(), QStringLiteral("FactXYory 1"));
        QCOMPARE(edit->cursorPosition(), 6);
        QCOMPARE(profileDisplayName(rig.wheelBase->profiles[1]), QStringLiteral("FactXYory 1"));
        QCOMPARE(list->itemText(1), QStringLiteral("FactXYory 1"));
        QVERIFY(rig.window.isWindowModified());

        // A selection is replaced, and undo takes it all back.
        edit->setSelection(0, 4);
        QTest::keyClicks(edit, QStringLiteral("Z"));
        QCOMPARE(edit->text(), QStringLiteral("ZXYory 1"));
        while (edit->isUndoAvailable())
            edit->undo();
        QCOMPARE(edit->text(), QStringLiteral("Factory 1"));
        QCOMPARE(list->itemText(1), QStringLiteral("Factory 1"));
        QVERIFY(!rig.window.isWindowModified());

        // What is typed is not completed to another profile's name.
        rig.window.show();
        QApplication::setActiveWindow(&rig.window);
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("Fac"));
        QCOMPARE(edit->text(), QStringLiteral("Fac"));
        QCOMPARE(profileDisplayName(rig.wheelBase->profiles[1]), QStringLiteral("Fac"));

        // Sixteen bytes fit; the seventeenth cannot be typed, nor a
        // two-byte character after fifteen.
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("0123456789abcdefXYZ"));
        QCOMPARE(edit->text(), QStringLiteral("0123456789abcdef"));
        edit->backspace();
        edit->insert(QString::fromUtf8("\xc3\xa9"));
        QCOMPARE(edit->text(), QStringLiteral("0123456789abcde"));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.wheelBase->profiles[1].name), 16),
                 QByteArray("0123456789abcde\0", 16));
    }

    void backupBeforeEachOperation_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("save") << "save";
        QTest::newRow("factory defaults") << "factory-defaults";
        QTest::newRow("bootloader") << "bootloader";
        QTest::newRow("import") << "import";
    }

    // The backup holds the table as loaded from the device, not the edits.
    void backupBeforeEachOperation()
    {
        QFETCH(QString, operation);
        Rig rig;
        RIG_READY(rig);
        const ProfileTable loaded = rig.device();
        rig.edit();
        DialogAnswerer answers;
        answers.buttons = {QMessageBox::Discard};
        start(rig, operation, answers, importFile);
        QTRY_VERIFY(happened(rig, operation, imported));
        const QList<ProfileBackup> list = backups();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].reason, operation);
        QCOMPARE(list[0].profileCount, 3);
        QVERIFY(QFileInfo(list[0].path).fileName().endsWith("-" + operation + ".json"));
        ProfileTable backedUp;
        QString error;
        QVERIFY(readProfileFile(list[0].path, backedUp, error));
        QVERIFY(backedUp == loaded);
    }

    void unwritableBackup_data() { backupBeforeEachOperation_data(); }

    // A backup that cannot be written stops the operation, unless the user
    // goes on without one.
    void unwritableBackup()
    {
        QFETCH(QString, operation);
        Rig rig;
        RIG_READY(rig);
        QVERIFY(QDir().mkpath(ProfileBackupStore().root()));
        QFile blocker(ProfileBackupStore().root() + "/" + serial);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        DialogAnswerer answers;
        answers.buttons = {QMessageBox::Cancel};
        start(rig, operation, answers, importFile);
        QTRY_VERIFY(!answers.boxes().isEmpty());
        const SeenDialog box = answers.boxes().last();
        QCOMPARE(box.title, QStringLiteral("Backup failed"));
        QCOMPARE(box.buttons, QMessageBox::Ignore | QMessageBox::Cancel);
        QTest::qWait(100);
        QVERIFY(!happened(rig, operation, imported));

        answers.buttons = {QMessageBox::Ignore};
        start(rig, operation, answers, importFile);
        QTRY_VERIFY(happened(rig, operation, imported));
    }

    void discardQuestion_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("reload") << "reload";
        QTest::newRow("another device") << "device";
        QTest::newRow("factory defaults") << "factory-defaults";
        QTest::newRow("bootloader") << "bootloader";
        QTest::newRow("close") << "close";
    }

    // Cancel keeps the edit and does nothing; Discard goes on.
    void discardQuestion()
    {
        QFETCH(QString, path);
        Rig rig;
        RIG_READY(rig);
        auto pedals = plugPedals();
        discover(rig.window);
        QComboBox *devices = child<QComboBox>(rig.window, "comboBox_UsbDevice");
        QTRY_COMPARE(devices->count(), 2);
        rig.window.show();
        rig.edit();
        QVERIFY(rig.window.isWindowModified());
        QVERIFY(rig.window.windowTitle().endsWith("[*]"));
        QVERIFY(child<QPushButton>(rig.window, "pushButton_SaveConfig")->font().bold());
        rig.emulator->clearCommands();

        DialogAnswerer answers;
        const auto act = [&] {
            if (path == "reload")
                rig.click("pushButton_LoadConfig");
            else if (path == "device")
                devices->setCurrentIndex(1);
            else if (path == "factory-defaults")
                rig.click("pushButton_SetDefaultConfig");
            else if (path == "bootloader")
                rig.click("pushButton_EnterExitBootloader");
            else
                rig.window.close();
        };
        answers.buttons = {QMessageBox::Cancel};
        act();
        QCOMPARE(answers.boxes().size(), 1);
        QCOMPARE(answers.boxes().first().text, QStringLiteral("Discard unsaved changes?"));
        QCOMPARE(answers.boxes().first().buttons,
                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        QTest::qWait(50);
        QCOMPARE(rig.emulator->commandCount(), size_t(0));
        QCOMPARE(rig.wheelBase->profiles[1].maxForce.get(), 99);
        QCOMPARE(devices->currentIndex(), 0);
        QVERIFY(rig.window.isVisible());

        answers.buttons = {QMessageBox::Discard, QMessageBox::Yes};
        act();
        QCOMPARE(answers.boxes()[1].text, QStringLiteral("Discard unsaved changes?"));
        if (path == "device")
            QCOMPARE(devices->currentIndex(), 1);
        else if (path == "close")
            QVERIFY(!rig.window.isVisible());
        else
            QTRY_VERIFY(rig.emulator->commandCount() > 0);
    }

    void saveFirst_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("close") << "close";
        QTest::newRow("another device") << "device";
    }

    // Save first: the operation follows once the save is verified.
    void saveFirst()
    {
        QFETCH(QString, path);
        Rig rig;
        RIG_READY(rig);
        auto pedals = plugPedals();
        discover(rig.window);
        QComboBox *devices = child<QComboBox>(rig.window, "comboBox_UsbDevice");
        QTRY_COMPARE(devices->count(), 2);
        rig.window.show();
        rig.edit();
        DialogAnswerer answers;
        answers.buttons = {QMessageBox::Save};
        if (path == "close") {
            QVERIFY(!rig.window.close());
            QTRY_VERIFY(!rig.window.isVisible());
        } else {
            devices->setCurrentIndex(1);
            QCOMPARE(devices->currentIndex(), 0); // until the save is verified
            QTRY_COMPARE(devices->currentIndex(), 1);
        }
        QCOMPARE(answers.boxes().size(), 1);
        QCOMPARE(rig.emulator->profile(1).maxForce.get(), 99);
        QCOMPARE(backups().first().reason, QStringLiteral("save"));
    }

    void leavingWithUnsavedChanges()
    {
        Rig rig;
        RIG_READY(rig);
        rig.edit();
        const ProfileTable edited = profileTableOf(*rig.wheelBase);
        rig.emulator->unplug();
        QTRY_COMPARE(backups().size(), 1);
        QCOMPARE(backups().first().reason, QStringLiteral("unsaved"));
        ProfileTable kept;
        QString error;
        QVERIFY(readProfileFile(backups().first().path, kept, error));
        QVERIFY(kept == edited);
        QVERIFY2(rig.status().contains(QDir::toNativeSeparators(backups().first().path)),
                 qPrintable(rig.status()));
    }

    void verifiedSave_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("difference");
        QTest::newRow("verified") << -1 << QString();
        QTest::newRow("damping stored differently")
            << int(offsetof(ZudUsbWheelBaseProfile, damping))
            << "Profile 2 \"Factory 2\": \"damping\" is 70, expected 20.";
    }

    void verifiedSave()
    {
        QFETCH(int, offset);
        QFETCH(QString, difference);
        Rig rig;
        RIG_READY(rig);
        if (offset >= 0)
            rig.emulator->storeByteDifferently(2, offset, 70);
        rig.edit();
        const ProfileTable sent = profileTableOf(*rig.wheelBase);
        DialogAnswerer answers;
        rig.click("pushButton_SaveConfig");
        if (difference.isEmpty()) {
            QTRY_COMPARE(rig.status(),
                         QStringLiteral("Saved 3 profiles to ZUD Wheel Base, verified"));
            QVERIFY(answers.boxes().isEmpty());
            QVERIFY(!rig.window.isWindowModified());
            QVERIFY(rig.device() == sent);
            return;
        }
        QTRY_COMPARE(answers.boxes().size(), 1);
        QCOMPARE(answers.boxes().first().title, QStringLiteral("Save not verified"));
        QVERIFY2(answers.boxes().first().text.endsWith("\n\n" + difference),
                 qPrintable(answers.boxes().first().text));
        // The editor keeps what was sent, as an unsaved change.
        QTRY_VERIFY(rig.loaded());
        QVERIFY(profileTableOf(*rig.wheelBase) == sent);
        QVERIFY(rig.window.isWindowModified());
    }

    // A device that stops answering is asked on, as long as it is there;
    // the window says so, and what became of the save when it leaves.
    void saveToSilentDevice()
    {
        Rig rig;
        RIG_READY(rig);
        rig.edit();
        rig.emulator->dropReplies(1 << 20);
        rig.click("pushButton_SaveConfig");
        QTRY_VERIFY_WITH_TIMEOUT(rig.status().contains("has not answered"), 10000);
        QVERIFY(rig.wheelBase->isRetryArmed());
        rig.emulator->unplug();
        QTRY_VERIFY(rig.status().startsWith(
            "The save to ZUD Wheel Base did not end: the device left. ZUD Wheel Base left with "
            "unsaved changes; they are kept in "));
    }

    // The whole way: export 100 profiles, factory reset, import, save.
    void exportResetImportSave()
    {
        Rig rig(100);
        RIG_READY(rig);
        const ProfileTable original = rig.device();
        const QString file = data.filePath("all.json");
        DialogAnswerer answers;
        answers.buttons = {QMessageBox::YesToAll};
        answers.files = QStringList{file};
        rig.click("pushButton_ExportProfiles");
        QTRY_VERIFY(QFileInfo::exists(file));

        answers.buttons = {QMessageBox::Yes};
        rig.click("pushButton_SetDefaultConfig");
        QTRY_COMPARE(rig.emulator->factoryResets(), 1);
        rig.click("pushButton_LoadConfig");
        QTRY_VERIFY(rig.loaded() && rig.wheelBase->profileCount == 1);

        answers.files = QStringList{file};
        rig.click("pushButton_ImportProfiles");
        QVERIFY(profileTableOf(*rig.wheelBase) == original);
        QVERIFY(rig.window.isWindowModified());
        rig.click("pushButton_SaveConfig");
        QTRY_COMPARE(rig.status(),
                     QStringLiteral("Saved 100 profiles to ZUD Wheel Base, verified"));
        QVERIFY(rig.device() == original);
        QStringList reasons;
        for (const ProfileBackup &backup : backups())
            reasons << backup.reason;
        QCOMPARE(reasons, QStringList({"save", "import", "factory-defaults"}));

        // The current profile alone replaces the current profile only.
        rig.wheelBase->currentProfile = 1;
        answers.buttons = {QMessageBox::Yes};
        answers.files = QStringList{data.filePath("one.json")};
        rig.click("pushButton_ExportProfiles");
        QTRY_VERIFY(QFileInfo::exists(data.filePath("one.json")));
        rig.wheelBase->currentProfile = 7;
        answers.files = QStringList{data.filePath("one.json")};
        rig.click("pushButton_ImportProfiles");
        ZudUsbWheelBaseProfile expected = original.profiles[1];
        expected.index = 7;
        QCOMPARE(std::memcmp(&rig.wheelBase->profiles[7], &expected, sizeof expected), 0);
        QCOMPARE(std::memcmp(&rig.wheelBase->profiles[1], &original.profiles[1], sizeof expected),
                 0);
    }

    // Levels off the editor's steps of 10 are rounded as the editor would
    // round them, and the user is told which, before anything is saved.
    void importedLevelsRounded_data()
    {
        QTest::addColumn<bool>("oneProfile");
        QTest::addColumn<int>("damping");
        QTest::addColumn<int>("spring");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("table: one level")
            << false << 55 << 40
            << QStringList{"Profile \"Factory 2\": damping 55 will be saved as 50"};
        QTest::newRow("one profile: two levels")
            << true << 9 << 99
            << QStringList{"Profile \"Factory 2\": damping 9 will be saved as 0",
                           "Profile \"Factory 2\": spring 99 will be saved as 90"};
        QTest::newRow("steps of 10: nothing to say") << false << 30 << 100 << QStringList();
    }
    void importedLevelsRounded()
    {
        QFETCH(bool, oneProfile);
        QFETCH(int, damping);
        QFETCH(int, spring);
        QFETCH(QStringList, told);

        ProfileTable table = tableOf(sampleProfiles(3), 0);
        table.profiles[2].damping = int8_t(damping);
        table.profiles[2].spring = int8_t(spring);
        if (oneProfile)
            table.profiles = table.profiles.mid(2, 1);
        const QString file = data.filePath("levels.json");
        QString error;
        QVERIFY(writeProfileFile(
            file, table, oneProfile ? ProfileFileScope::Profile : ProfileFileScope::Table, error));
        Rig rig;
        RIG_READY(rig);
        DialogAnswerer answers;
        answers.files << file;
        rig.click("pushButton_ImportProfiles");
        const int at = oneProfile ? 1 : 2; // a single profile replaces the current one
        if (told.isEmpty()) {
            QTest::qWait(50);
            QVERIFY(answers.boxes().isEmpty());
        } else {
            QTRY_COMPARE(answers.boxes().size(), 1);
            QCOMPARE(answers.boxes().first().title, QStringLiteral("Levels rounded"));
            QCOMPARE(answers.boxes().first().text.split('\n').mid(1), told);
        }
        // What the editor holds is what is saved and verified.
        const ZudUsbWheelBaseProfile imported = rig.wheelBase->profiles[at];
        QCOMPARE(int(imported.damping), damping / 10 * 10);
        QCOMPARE(int(imported.spring), spring / 10 * 10);
        rig.click("pushButton_SaveConfig");
        QTRY_VERIFY(rig.status().endsWith(QStringLiteral("verified")));
        QCOMPARE(std::memcmp(&rig.emulator->profiles()[size_t(at)], &imported, sizeof imported), 0);
    }

    // A bad file is refused with its reason, and nothing changes.
    void importRefused()
    {
        Rig rig;
        RIG_READY(rig);
        QJsonObject document = QJsonDocument::fromJson(profileTableToJson(imported)).object();
        QJsonArray profiles = document["profiles"].toArray();
        QJsonObject third = profiles[3].toObject();
        third["maxForce"] = 250;
        profiles[3] = third;
        document["profiles"] = profiles;
        const QString file = data.filePath("bad.json");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(document).toJson());
        out.close();

        const ProfileTable before = profileTableOf(*rig.wheelBase);
        DialogAnswerer answers;
        answers.files = QStringList{file};
        rig.click("pushButton_ImportProfiles");
        QCOMPARE(answers.boxes().size(), 1);
        QVERIFY2(answers.boxes().first().text.endsWith(
                     "Profile 3 \"Factory 3\": \"maxForce\" is 250, outside 0 to 100."),
                 qPrintable(answers.boxes().first().text));
        QVERIFY(profileTableOf(*rig.wheelBase) == before);
        QVERIFY(!rig.window.isWindowModified());
        QVERIFY(backups().isEmpty());
    }

    // "Backups…" lists the device's backups and loads the chosen one.
    void restoreBackup()
    {
        Rig rig;
        RIG_READY(rig);
        const ProfileTable loaded = rig.device();
        DialogAnswerer answers;
        answers.files = QStringList{importFile};
        rig.click("pushButton_ImportProfiles");
        QVERIFY(profileTableOf(*rig.wheelBase) == imported);

        QStringList offered;
        QTimer chooser;
        QObject::connect(&chooser, &QTimer::timeout, [&] {
            if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
                offered = dialog->comboBoxItems();
                dialog->setTextValue(offered.value(0));
                dialog->accept();
            }
        });
        chooser.start(1);
        rig.click("pushButton_RestoreBackup");
        QCOMPARE(offered.size(), 1);
        QVERIFY2(offered[0].contains("import") && offered[0].endsWith("3 profiles"),
                 qPrintable(offered[0]));
        QVERIFY(profileTableOf(*rig.wheelBase) == loaded);
        QCOMPARE(backups().size(), 2); // restoring is an import, backed up too
    }

    // Two backups of the same second and reason read alike in the list; the
    // row chosen is the one restored.
    void restoreChosenOfTwoAlike()
    {
        Rig rig;
        RIG_READY(rig);
        ProfileBackupStore store;
        store.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 7, 9)); });
        const ProfileTable older = tableOf(sampleProfiles(3), 0);
        ProfileTable newer = older;
        newer.profiles[2].maxForce = 77;
        QString error;
        QVERIFY(!store.write(serial, older, "save", error).isEmpty());
        QVERIFY(!store.write(serial, newer, "save", error).isEmpty());
        const QStringList offered = chooseBackup(rig, 1);
        QCOMPARE(offered.size(), 2);
        QCOMPARE(offered[0], offered[1]);
        QVERIFY(profileTableOf(*rig.wheelBase) == older);
    }

    // A backup goes back only into the wheel base it was listed for: one
    // chosen after another wheel base was selected restores nothing.
    void restoreAfterAnotherWasSelected()
    {
        Rig rig;
        RIG_READY(rig);
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 0;
        config.device.serialNumber = L"ZWB-T2";
        auto other = emu::WheelBaseEmulator::plug(config);
        discover(rig.window);
        QComboBox *devices = child<QComboBox>(rig.window, "comboBox_UsbDevice");
        QTRY_COMPARE(devices->count(), 2);
        QString error;
        QVERIFY(!ProfileBackupStore()
                     .write(serial, tableOf(sampleProfiles(5), 4), "save", error)
                     .isEmpty());
        QStringList shown;
        QObject::connect(rig.window.statusBar(), &QStatusBar::messageChanged,
                         [&](const QString &text) { shown << text; });
        // The other one is selected, and its table loaded, while the list is open.
        chooseBackup(rig, 0, [&] {
            devices->setCurrentIndex(1);
            return !shown.filter("Settings loaded").isEmpty();
        });
        auto *second = deviceOf<UsbDeviceZudWheelBase>(rig.window, other->device());
        QVERIFY(second);
        QVERIFY(profileTableOf(*second) == tableOf(other->profiles(), other->currentProfile()));
        QVERIFY(!rig.window.isWindowModified());
        QVERIFY2(!shown.filter("Nothing was restored").isEmpty(), qPrintable(shown.join('\n')));
    }

    // A wheel base without a serial number finds its backups again on
    // another port, with those an earlier version kept under the port's
    // name.
    void backupsWithoutSerialAfterReplug()
    {
        QString error;
        const QString former = ProfileBackupStore().root() + "/ZUD_Wheel_Base-_dev_hidraw3";
        QVERIFY(QDir().mkpath(former));
        QVERIFY(writeProfileFile(former + "/2026-12-07-14-07-09-save.json",
                                 tableOf(sampleProfiles(2), 0), error));
        {
            Rig rig(3, QString());
            RIG_READY(rig);
            rig.edit();
            rig.emulator->unplug();
            QTRY_VERIFY(rig.status().contains("unsaved"));
        }
        Rig again(3, QString());
        RIG_READY(again);
        const QStringList offered = chooseBackup(again, -1);
        QCOMPARE(offered.size(), 2);
        QVERIFY2(offered[0].contains("unsaved"), qPrintable(offered[0]));
        QVERIFY2(offered[1].contains("2026-12-07 14:07:09   save   2 profiles"),
                 qPrintable(offered[1]));
    }
};

ZUD_WINDOW_TEST_MAIN(WindowProfilesTest)
#include "tst_window_profiles.moc"
