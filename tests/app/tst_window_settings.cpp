// SPDX-License-Identifier: GPL-3.0-or-later
// The settings editor through the window against the emulated wheel base:
// filling the controls, editing, the profile list, renaming, add and remove,
// save and reload, the factory reset question, centring and the refusal box.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowRig.h"
#include "WindowTestSupport.h"

#include "app/SettingsMapping.h"
#include "simulator/BootloaderEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>
#include <cstring>

using namespace wintest;

namespace {

// A factory profile under another name.
ZudUsbWheelBaseProfile namedFactoryProfile(int index, const char *name)
{
    ZudUsbWheelBaseProfile p = emu::WheelBaseEmulator::factoryProfile(index);
    std::memset(p.name, 0, sizeof p.name);
    std::memcpy(p.name, name, qMin(std::strlen(name), size_t(zudProfileNameBytes)));
    return p;
}

// Profile 0 carries the values of the editor's edge cases; the others are
// told apart by their fields.
std::vector<ZudUsbWheelBaseProfile> sampleProfiles(int count)
{
    std::vector<ZudUsbWheelBaseProfile> profiles;
    for (int i = 0; i < count; ++i) {
        ZudUsbWheelBaseProfile p =
            namedFactoryProfile(i, QByteArray("Track ").append(char('A' + i)));
        p.rotationDegrees = 540 + 90 * i;
        p.maxForce = 60 + i;
        p.spring = int8_t(10 * i);
        p.encoderResolution = 1000 + i;
        profiles.push_back(p);
    }
    ZudUsbWheelBaseProfile &first = profiles[0];
    first.damping = 55;
    first.friction = 20;
    first.inertia = 100;
    first.spring = 0;
    first.centerOffset = 0.5f;
    first.maxForce = 75;
    first.smoothing = 3;
    first.encoderType = 1;
    first.encoderResolution = 12345;
    first.dampingEffect = 0;
    first.frictionEffect = 1;
    first.inertiaEffect = 2;
    first.springEffect = 1;
    return profiles;
}

bool settingsShown(ZUD_wheel_tool &window)
{
    return child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled() &&
           child<QComboBox>(window, "comboBox_ProfileName")->count() > 0;
}

// The window with the emulated wheel base selected and its settings loaded.
struct Rig : WindowRig {
    explicit Rig(int profiles = 2, int current = 0,
                 const emu::WheelBaseEmulator::Config &config = quietWheel())
    {
        plug(config, sampleProfiles(profiles), current);
    }
    bool loaded() { return settingsShown(window); }
    ZudUsbWheelBaseProfile &current() { return wheelBase->profiles[wheelBase->currentProfile]; }
};

#define RIG_READY(rig)                                                                             \
    do {                                                                                           \
        QVERIFY((rig).wheelBase);                                                                  \
        QTRY_VERIFY((rig).loaded());                                                               \
    } while (0)

QString text(ZUD_wheel_tool &w, const char *label)
{
    return child<QLabel>(w, label)->text();
}

// What a control of the editor shows: a label its text, a slider or a spin
// box its value, a combo box its current index.
QVariant shownBy(QWidget *control)
{
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->text();
    if (auto *slider = qobject_cast<QSlider *>(control))
        return slider->value();
    if (auto *spin = qobject_cast<QSpinBox *>(control))
        return spin->value();
    if (auto *combo = qobject_cast<QComboBox *>(control))
        return combo->currentIndex();
    return QVariant();
}

// What the user does to a control: moves a slider, types into a spin box,
// picks an item of a combo box.
void edit(QWidget *control, int value)
{
    if (auto *slider = qobject_cast<QSlider *>(control))
        slider->setValue(value);
    else if (auto *spin = qobject_cast<QSpinBox *>(control))
        spin->setValue(value);
    else if (auto *combo = qobject_cast<QComboBox *>(control))
        emit combo->activated(value);
}

int storedField(const ZudUsbWheelBaseProfile &p, const QString &field)
{
    const std::pair<const char *, int> fields[] = {
        {"spring", p.spring},
        {"damping", p.damping},
        {"maxForce", p.maxForce.get()},
        {"smoothing", p.smoothing},
        {"rotationDegrees", p.rotationDegrees.get()},
        {"encoderResolution", p.encoderResolution.get()},
        {"springEffect", p.springEffect},
        {"encoderType", p.encoderType},
    };
    for (const auto &f : fields)
        if (field == QLatin1String(f.first))
            return f.second;
    QTest::qFail(qPrintable("no profile field " + field), __FILE__, __LINE__);
    return -1;
}

// Rows of controls and what each shows.
void addControlRows(std::initializer_list<std::pair<const char *, QVariant>> rows)
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("shown");
    for (const auto &row : rows)
        QTest::newRow(row.first) << QString(row.first) << row.second;
}

} // namespace

class WindowSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void controlsFilledFromCurrentProfile_data();
    void controlsFilledFromCurrentProfile();
    void profileListFilledAndProfileUntouched();
    void choosingProfileFills_data();
    void choosingProfileFills();
    void choosingProfileSendsNothing();
    void editingWritesTheCurrentProfileOnly_data();
    void editingWritesTheCurrentProfileOnly();
    void renamingAndTheSixteenByteLimit();
    void nonAsciiNames();
    void addProfile();
    void removeLastProfile();
    void saveThenReloadGivesBackWhatWasSaved();
    void reloadDropsUnsavedEdits();
    void factoryDefaultsQuestion();
    void factoryDefaultsOnBootloader();
    void centerShowsNewOffset();
    void refusalBoxTitledWithProduct();
    void refusalsShareOneBox();
    void settingsOfAnotherWheelBaseIgnored();
};

// Each row: a control of the settings editor and what it shows of profile 0.
void WindowSettingsTest::controlsFilledFromCurrentProfile_data()
{
    addControlRows({
        {"horiSlider_Damping", 5},       {"label_Damping", "50%"},
        {"horiSlider_Friction", 2},      {"label_Friction", "20%"},
        {"horiSlider_Inertia", 10},      {"label_Inertia", "100%"},
        {"label_Spring", "0%"},          {"horiSlider_Force", 75},
        {"label_Force", "75%"},          {"horiSlider_GenSmooth", 3},
        {"label_GenSmooth", "3"},        {"label_CenterOffsetDeg", "180.00 deg"},
        {"spinBox_RotationDegree", 540}, {"spinBox_EncoderRes", 12345},
        {"comboBox_EncoderType", 1},     {"comboBox_DampingEffect", 0},
        {"comboBox_FrictionEffect", 1},  {"comboBox_InertiaEffect", 2},
        {"comboBox_SpringEffect", 1},
    });
}

void WindowSettingsTest::controlsFilledFromCurrentProfile()
{
    QFETCH(QString, name);
    QFETCH(QVariant, shown);
    Rig rig;
    RIG_READY(rig);
    QCOMPARE(shownBy(child<QWidget>(rig.window, name)), shown);
}

void WindowSettingsTest::profileListFilledAndProfileUntouched()
{
    Rig rig;
    RIG_READY(rig);
    QCOMPARE(rig.profiles()->count(), 2);
    QCOMPARE(rig.profiles()->itemText(0), QStringLiteral("Track A"));
    QCOMPARE(rig.profiles()->itemText(1), QStringLiteral("Track B"));
    QCOMPARE(rig.profiles()->itemData(1).toInt(), 1);
    QCOMPARE(rig.profiles()->currentIndex(), 0);
    // Filling wrote nothing else into the profile; the damping is rounded
    // down in memory.
    QCOMPARE(int(rig.current().damping), 50);
    QCOMPARE(rig.current().maxForce.get(), 75);
    QCOMPARE(int(rig.current().smoothing), 3);
    QCOMPARE(int(rig.current().friction), 20);
    QCOMPARE(rig.current().encoderResolution.get(), 12345);
    QCOMPARE(profileNameText(rig.current()), QStringLiteral("Track A"));
}

// Each row: a control and what it shows once profile 2 is chosen.
void WindowSettingsTest::choosingProfileFills_data()
{
    addControlRows({
        {"spinBox_RotationDegree", 720},
        {"spinBox_EncoderRes", 1002},
        {"horiSlider_Force", 62},
        {"label_Force", "62%"},
        {"horiSlider_Spring", 2},
        {"label_Spring", "20%"},
        {"label_CenterOffsetDeg", "0.00 deg"},
        {"comboBox_EncoderType", 2},
    });
}

void WindowSettingsTest::choosingProfileFills()
{
    QFETCH(QString, name);
    QFETCH(QVariant, shown);
    Rig rig(3, 0);
    RIG_READY(rig);
    rig.choose(2);
    QCOMPARE(int(rig.wheelBase->currentProfile), 2);
    QCOMPARE(shownBy(child<QWidget>(rig.window, name)), shown);
}

void WindowSettingsTest::choosingProfileSendsNothing()
{
    Rig rig(3, 0);
    RIG_READY(rig);
    rig.emulator->clearCommands();
    rig.emulator->device()->clearWritten();

    rig.choose(2);
    QCOMPARE(int(rig.wheelBase->currentProfile), 2);
    // Both profiles keep their own values, and their own names.
    QCOMPARE(int(rig.wheelBase->profiles[0].damping), 50);
    QCOMPARE(rig.wheelBase->profiles[0].maxForce.get(), 75);
    QCOMPARE(profileNameText(rig.wheelBase->profiles[2]), QStringLiteral("Track C"));
    QCOMPARE(rig.profiles()->itemText(0), QStringLiteral("Track A"));

    rig.choose(0);
    QCOMPARE(child<QSlider>(rig.window, "horiSlider_Force")->value(), 75);
    QTest::qWait(100);
    QCOMPARE(rig.emulator->commandCount(), size_t(0));
    QVERIFY(rig.emulator->device()->writtenReports().empty());
}

// Each row: an edit of profile 1, the label beside the control (if any) and
// the field it stores into.
void WindowSettingsTest::editingWritesTheCurrentProfileOnly_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("labelText");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("stored");
    QTest::newRow("spring") << "horiSlider_Spring" << 7 << "label_Spring"
                            << "70%"
                            << "spring" << 70;
    QTest::newRow("damping") << "horiSlider_Damping" << 10 << ""
                             << ""
                             << "damping" << 100;
    QTest::newRow("force") << "horiSlider_Force" << 33 << "label_Force"
                           << "33%"
                           << "maxForce" << 33;
    QTest::newRow("smoothing") << "horiSlider_GenSmooth" << 4 << ""
                               << ""
                               << "smoothing" << 4;
    QTest::newRow("rotation") << "spinBox_RotationDegree" << 1080 << ""
                              << ""
                              << "rotationDegrees" << 1080;
    QTest::newRow("encoder resolution") << "spinBox_EncoderRes" << 999999999 << ""
                                        << ""
                                        << "encoderResolution" << 999999999;
    QTest::newRow("spring effect") << "comboBox_SpringEffect" << 2 << ""
                                   << ""
                                   << "springEffect" << 2;
    QTest::newRow("encoder type") << "comboBox_EncoderType" << 3 << ""
                                  << ""
                                  << "encoderType" << 3;
}

void WindowSettingsTest::editingWritesTheCurrentProfileOnly()
{
    QFETCH(QString, control);
    QFETCH(int, value);
    QFETCH(QString, label);
    QFETCH(QString, labelText);
    QFETCH(QString, field);
    QFETCH(int, stored);
    Rig rig(2, 1);
    RIG_READY(rig);
    rig.emulator->clearCommands();
    const ZudUsbWheelBaseProfile other = rig.wheelBase->profiles[0];

    edit(child<QWidget>(rig.window, control), value);
    if (!label.isEmpty())
        QCOMPARE(child<QLabel>(rig.window, label)->text(), labelText);
    QCOMPARE(storedField(rig.current(), field), stored);

    QCOMPARE(std::memcmp(&rig.wheelBase->profiles[0], &other, sizeof other), 0);
    QTest::qWait(50);
    QCOMPARE(rig.emulator->commandCount(), size_t(0));
}

void WindowSettingsTest::renamingAndTheSixteenByteLimit()
{
    Rig rig(3, 1);
    RIG_READY(rig);
    QLineEdit *edit = rig.profiles()->lineEdit();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(storedNameBytes(rig.current()), QByteArray("ABCDEFGHIJKLMNOP"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.current().name), 16),
             QByteArray("ABCDEFGHIJKLMNOP"));
    QCOMPARE(rig.profiles()->count(), 3);
    // What does not fit the 16 bytes cannot be typed at all.
    QCOMPARE(edit->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QCOMPARE(rig.profiles()->itemText(1), QStringLiteral("ABCDEFGHIJKLMNOP"));
    // The neighbours are untouched, in the table and in the list.
    QCOMPARE(profileNameText(rig.wheelBase->profiles[0]), QStringLiteral("Track A"));
    QCOMPARE(rig.profiles()->itemText(2), QStringLiteral("Track C"));

    // A shorter name zero-fills the rest of the field.
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("GT"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.current().name), 16),
             QByteArray("GT\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));

    // After the next rebuild the list shows what was stored.
    rig.choose(1);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_AddProfile"), Qt::LeftButton);
    QCOMPARE(rig.profiles()->count(), 4);
    QCOMPARE(rig.profiles()->itemText(1), QStringLiteral("ABCDEFGHIJKLMNOP"));
}

void WindowSettingsTest::nonAsciiNames()
{
    Rig rig(2, 0);
    RIG_READY(rig);
    QLineEdit *edit = rig.profiles()->lineEdit();
    edit->selectAll();
    // "Nürburgring-Öö" takes 17 bytes: pasting it is refused whole.
    edit->insert(QString::fromUtf8("Nürburgring-Öö")); // pasted: keyClicks is ASCII only
    QCOMPARE(QString::fromUtf8(storedNameBytes(rig.current())), QStringLiteral("Track A"));
    // "Nürburgring-Ö" takes 15 bytes; an ö after it would not fit.
    edit->selectAll();
    edit->insert(QString::fromUtf8("Nürburgring-Ö"));
    edit->insert(QString::fromUtf8("ö"));
    QCOMPARE(edit->text(), QString::fromUtf8("Nürburgring-Ö"));
    const QByteArray stored = storedNameBytes(rig.current());
    QVERIFY(stored.size() <= 16);
    QVERIFY(isValidUtf8(stored));
    QCOMPARE(QString::fromUtf8(stored), QString::fromUtf8("Nürburgring-Ö"));

    // Rebuilt from the table, the name reads as typed (up to the cut), and
    // the rebuild does not rewrite it.
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_AddProfile"), Qt::LeftButton);
    QCOMPARE(rig.profiles()->itemText(0), QString::fromUtf8("Nürburgring-Ö"));
    QCOMPARE(storedNameBytes(rig.wheelBase->profiles[0]), stored);
}

void WindowSettingsTest::addProfile()
{
    Rig rig(3, 0);
    RIG_READY(rig);
    rig.emulator->clearCommands();
    const ZudUsbWheelBaseProfile last = rig.wheelBase->profiles[2];
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_AddProfile"), Qt::LeftButton);

    QCOMPARE(int(rig.wheelBase->profileCount), 4);
    QCOMPARE(int(rig.wheelBase->currentProfile), 3);
    QCOMPARE(rig.profiles()->count(), 4);
    QCOMPARE(rig.profiles()->currentIndex(), 3);
    QCOMPARE(rig.profiles()->itemText(3), QStringLiteral("Profile 3"));
    QCOMPARE(rig.profiles()->itemData(3).toInt(), 3);
    const ZudUsbWheelBaseProfile &added = rig.wheelBase->profiles[3];
    QCOMPARE(int(added.index), 3);
    // A copy of profile 2 from the centre offset on (the name differs).
    QCOMPARE(std::memcmp(reinterpret_cast<const char *>(&added) + 17,
                         reinterpret_cast<const char *>(&last) + 17, sizeof added - 17),
             0);
    QCOMPARE(child<QSpinBox>(rig.window, "spinBox_RotationDegree")->value(), 720);
    QTest::qWait(50);
    QCOMPARE(rig.emulator->commandCount(), size_t(0));
}

void WindowSettingsTest::removeLastProfile()
{
    Rig rig(4, 3);
    RIG_READY(rig);
    QCOMPARE(rig.profiles()->currentIndex(), 3);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_RemoveProfile"), Qt::LeftButton);
    QCOMPARE(int(rig.wheelBase->profileCount), 3);
    QCOMPARE(int(rig.wheelBase->currentProfile), 2);
    QCOMPARE(rig.profiles()->count(), 3);
    QCOMPARE(rig.profiles()->currentIndex(), 2);
    QCOMPARE(rig.profiles()->itemText(2), QStringLiteral("Track C"));
    QCOMPARE(child<QSpinBox>(rig.window, "spinBox_RotationDegree")->value(), 720);

    // Removing from the middle renumbers what follows.
    rig.choose(0);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_RemoveProfile"), Qt::LeftButton);
    QCOMPARE(rig.profiles()->count(), 2);
    QCOMPARE(rig.profiles()->itemText(0), QStringLiteral("Track B"));
    QCOMPARE(rig.profiles()->itemData(1).toInt(), 1);
    QCOMPARE(rig.profiles()->currentIndex(), 0);
    // Down to one profile, the button does nothing.
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_RemoveProfile"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_RemoveProfile"), Qt::LeftButton);
    QCOMPARE(int(rig.wheelBase->profileCount), 1);
    QCOMPARE(rig.profiles()->count(), 1);
}

void WindowSettingsTest::saveThenReloadGivesBackWhatWasSaved()
{
    Rig rig(2, 0);
    RIG_READY(rig);
    ZUD_wheel_tool &w = rig.window;
    child<QSlider>(w, "horiSlider_Spring")->setValue(7);
    child<QSlider>(w, "horiSlider_Force")->setValue(42);
    child<QSpinBox>(w, "spinBox_RotationDegree")->setValue(1440);
    QLineEdit *edit = rig.profiles()->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("Saved"));
    QTest::mouseClick(child<QPushButton>(w, "pushButton_AddProfile"), Qt::LeftButton);
    child<QSlider>(w, "horiSlider_Inertia")->setValue(3);

    const size_t savesBefore = rig.emulator->savesFinished();
    QTest::mouseClick(child<QPushButton>(w, "pushButton_SaveConfig"), Qt::LeftButton);
    QTRY_COMPARE(rig.emulator->savesFinished(), savesBefore + 1);

    // The device holds what the window showed.
    QCOMPARE(rig.emulator->profileCount(), 3);
    QCOMPARE(rig.emulator->currentProfile(), 2);
    const ZudUsbWheelBaseProfile saved0 = rig.emulator->profile(0);
    QCOMPARE(int(saved0.spring), 70);
    QCOMPARE(saved0.maxForce.get(), 42);
    QCOMPARE(saved0.rotationDegrees.get(), 1440);
    QCOMPARE(profileNameText(saved0), QStringLiteral("Saved"));
    QCOMPARE(int(saved0.damping), 50);
    QCOMPARE(int(rig.emulator->profile(2).inertia), 30);
    QCOMPARE(profileNameText(rig.emulator->profile(2)), QStringLiteral("Profile 2"));

    // Spoil the host copy once the save has been read back, then read the
    // device again, dropping the edit.
    QTRY_VERIFY(rig.loaded());
    rig.choose(0);
    child<QSlider>(w, "horiSlider_Force")->setValue(5);
    DialogAnswerer answers;
    answers.buttons = {QMessageBox::Discard};
    QTest::mouseClick(child<QPushButton>(w, "pushButton_LoadConfig"), Qt::LeftButton);
    QVERIFY(!child<QPushButton>(w, "pushButton_SaveConfig")->isEnabled());
    QTRY_VERIFY(rig.loaded());
    QCOMPARE(rig.profiles()->count(), 3);
    QCOMPARE(rig.profiles()->currentIndex(), 2);
    QCOMPARE(child<QSlider>(w, "horiSlider_Inertia")->value(), 3);
    rig.choose(0);
    QCOMPARE(child<QSlider>(w, "horiSlider_Force")->value(), 42);
    QCOMPARE(child<QSlider>(w, "horiSlider_Spring")->value(), 7);
    QCOMPARE(child<QSpinBox>(w, "spinBox_RotationDegree")->value(), 1440);
    QCOMPARE(rig.profiles()->itemText(0), QStringLiteral("Saved"));
    for (int i = 0; i < 3; ++i) {
        const ZudUsbWheelBaseProfile onDevice = rig.emulator->profile(i);
        QCOMPARE(std::memcmp(&rig.wheelBase->profiles[i], &onDevice, sizeof onDevice), 0);
    }
}

void WindowSettingsTest::reloadDropsUnsavedEdits()
{
    Rig rig(2, 0);
    RIG_READY(rig);
    ZUD_wheel_tool &w = rig.window;
    QTest::mouseClick(child<QPushButton>(w, "pushButton_AddProfile"), Qt::LeftButton);
    child<QSlider>(w, "horiSlider_Force")->setValue(1);
    // Only once the user has said so.
    DialogAnswerer answers;
    answers.buttons = {QMessageBox::Discard};
    QTest::mouseClick(child<QPushButton>(w, "pushButton_LoadConfig"), Qt::LeftButton);
    QCOMPARE(answers.boxes().size(), 1);
    QCOMPARE(answers.boxes().first().text, QStringLiteral("Discard unsaved changes?"));
    QVERIFY(!child<QSlider>(w, "horiSlider_Force")->isEnabled());
    QTRY_VERIFY(rig.loaded());
    QCOMPARE(rig.profiles()->count(), 2);
    QCOMPARE(rig.profiles()->currentIndex(), 0);
    QCOMPARE(child<QSlider>(w, "horiSlider_Force")->value(), 75);
    QCOMPARE(rig.emulator->savesFinished(), size_t(0));
}

void WindowSettingsTest::factoryDefaultsQuestion()
{
    Rig rig(3, 0);
    RIG_READY(rig);
    DialogAnswerer answers;
    answers.buttons = {QMessageBox::No};
    rig.emulator->clearCommands();
    rig.emulator->device()->clearWritten();
    QPushButton *button = child<QPushButton>(rig.window, "pushButton_SetDefaultConfig");
    QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Reset settings?"));
    QCOMPARE(box.text, QStringLiteral("Are you sure you want to reset all settings and profiles? "
                                      "This cannot be undone."));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::No);
    QCOMPARE(box.parent, static_cast<QWidget *>(&rig.window));
    QTest::qWait(100);
    QVERIFY(rig.emulator->device()->writtenReports().empty());
    QCOMPARE(rig.emulator->factoryResets(), 0);

    // Closing the box is no Yes either.
    answers.buttons = {QMessageBox::Cancel};
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(answers.boxes().size(), 2);
    QTest::qWait(50);
    QVERIFY(rig.emulator->device()->writtenReports().empty());

    answers.buttons = {QMessageBox::Yes};
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(rig.emulator->factoryResets(), 1);
    const auto written = rig.emulator->device()->writtenReports();
    QCOMPARE(written.size(), size_t(1));
    QCOMPARE(int(written[0][0]), 100);
    QCOMPARE(int(written[0][1]), 8);
    QCOMPARE(int(written[0][2]), 3);
    QCOMPARE(int(written[0][5]), 1);
}

void WindowSettingsTest::factoryDefaultsOnBootloader()
{
    DialogAnswerer answers; // cancels the file chooser that selection opens
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    QTRY_COMPARE(answers.fileDialogs().size(), 1);
    QPushButton *button = child<QPushButton>(window, "pushButton_SetDefaultConfig");
    QVERIFY(button->isEnabled());
    answers.buttons = {QMessageBox::No, QMessageBox::Yes};
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(boot->factoryResets(), 0);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(boot->factoryResets(), 1);
}

void WindowSettingsTest::centerShowsNewOffset()
{
    Rig rig(2, 1);
    RIG_READY(rig);
    QCOMPARE(text(rig.window, "label_CenterOffsetDeg"), QStringLiteral("0.00 deg"));
    rig.emulator->setPosition(-45.0);
    QTest::mouseClick(child<QPushButton>(rig.window, "pushButton_CenterRim"), Qt::LeftButton);
    QTRY_COMPARE(text(rig.window, "label_CenterOffsetDeg"), QStringLiteral("-45.00 deg"));
    QCOMPARE(rig.current().centerOffset.get(), -0.125f);
    QCOMPARE(rig.emulator->profile(1).centerOffset.get(), -0.125f);
    // Only the current profile was centred.
    QCOMPARE(rig.wheelBase->profiles[0].centerOffset.get(), 0.5f);
    QCOMPARE(rig.profiles()->currentIndex(), 1);
}

void WindowSettingsTest::refusalBoxTitledWithProduct()
{
    DialogAnswerer answers;
    emu::WheelBaseEmulator::Config config = quietWheel(L"ZUD Wheel Base DD-2");
    config.settingsVersion = 2;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    ZUD_wheel_tool window;
    discover(window);
    // One box per refused header: a header slower than the 200 ms retry (a
    // loaded machine, a sanitizer build) is asked for and refused again.
    QTRY_VERIFY(answers.boxes().size() >= 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("ZUD Wheel Base DD-2"));
    QCOMPARE(box.title, child<QComboBox>(window, "comboBox_UsbDevice")->currentText());
    QVERIFY(!box.text.isEmpty());
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The controls stay disabled: no settings arrived.
    QVERIFY(!child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled());
    QVERIFY(!child<QSlider>(window, "horiSlider_Force")->isEnabled());
}

// A wheel base that refuses every load fills one box, which shows the
// newest message and counts them, not the screen.
void WindowSettingsTest::refusalsShareOneBox()
{
    emu::WheelBaseEmulator::Config config = quietWheel();
    config.settingsVersion = 2;
    auto emulator = emu::WheelBaseEmulator::plug(config);
    ZUD_wheel_tool window;
    discover(window);
    auto *wheelBase = deviceOf<UsbDeviceZudWheelBase>(window, emulator->device());
    QVERIFY(wheelBase);
    QSignalSpy refused(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed);
    for (int load = 1; load <= 3; ++load) {
        if (refused.size() < load)
            wheelBase->loadSettings();
        QTRY_VERIFY(refused.size() >= load);
    }
    QList<QMessageBox *> open;
    for (QMessageBox *box : window.findChildren<QMessageBox *>())
        if (box->isVisible())
            open << box;
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first()->text(), refused.last().at(1).toString());
    QVERIFY2(open.first()->informativeText().contains(QString::number(refused.size())),
             qPrintable(open.first()->informativeText()));
    // Dismissed, the next refusal opens a box again.
    open.first()->accept();
    wheelBase->loadSettings();
    QTRY_VERIFY(window.findChild<QMessageBox *>() &&
                window.findChild<QMessageBox *>()->isVisible());
}

void WindowSettingsTest::settingsOfAnotherWheelBaseIgnored()
{
    Rig rig(2, 0);
    RIG_READY(rig);
    auto second = emu::WheelBaseEmulator::plug(quietWheel(L"ZUD Wheel Base two"));
    second->setProfiles(sampleProfiles(4), 3);
    discover(rig.window);
    auto *other = deviceOf<UsbDeviceZudWheelBase>(rig.window, second->device());
    QVERIFY(other);
    // The second device is listed but not selected; its settings, loaded by
    // hand here, do not reach the editor.
    other->loadSettings();
    QTRY_COMPARE(int(other->profileCount), 4);
    QTest::qWait(50);
    QCOMPARE(rig.profiles()->count(), 2);
    QCOMPARE(child<QSlider>(rig.window, "horiSlider_Force")->value(), 75);
}

ZUD_WINDOW_TEST_MAIN(WindowSettingsTest)
#include "tst_window_settings.moc"
