// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware update flow through the window against the emulated
// bootloader: the file chooser on selection and on the button, the
// unreadable-file box, the progress dialog, the closing boxes and the
// release of the dialog when the bootloader is deselected.
#include "DialogAnswerer.h"
#include "FindChild.h"
#include "WindowTestSupport.h"

#include "simulator/BootloaderEmulator.h"
#include "simulator/PedalsEmulator.h"
#include "simulator/WheelBaseEmulator.h"

#include <QComboBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace wintest;

namespace {

QPushButton *updateButton(ZUD_wheel_tool &window)
{
    return child<QPushButton>(window, "pushButton_UpdateFirmware");
}

struct FirmwareFiles {
    QTemporaryDir dir;
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = QDir(dir.path()).absoluteFilePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }
};

// What the progress dialog looked like when a closing box came up.
struct DialogAtBox {
    bool exists = false;
    int minimum = -100, maximum = -100;
    QString label;
    bool modal = false;
    bool hasCancelButton = true;
    QWidget *parent = nullptr;
};

void watchDialogAtBox(DialogAnswerer &answers, ZUD_wheel_tool &window, DialogAtBox &seen)
{
    answers.onBox = [&window, &seen](QMessageBox *) {
        QProgressDialog *dialog = window.findChild<QProgressDialog *>();
        seen.exists = dialog != nullptr;
        if (!dialog)
            return;
        seen.minimum = dialog->minimum();
        seen.maximum = dialog->maximum();
        seen.label = dialog->labelText();
        seen.modal = dialog->isModal();
        seen.hasCancelButton = dialog->findChild<QPushButton *>() != nullptr;
        seen.parent = dialog->parentWidget();
    };
}

// No progress dialog is left once deferred deletions have run.
bool dialogReleased(ZUD_wheel_tool &window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.findChild<QProgressDialog *>() == nullptr;
}

} // namespace

class WindowFirmwareTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { vhid::unplugAll(); }

    void buttonWithoutBootloaderDoesNothing();
    void selectionOpensChooserAndCancelLeavesButton();
    void unreadableFile();
    void oversizedFileRefusedUnread_data();
    void oversizedFileRefusedUnread();
    void smallImageProgressAndSuccess();
    void emptyImage();
    void crcFailureShowsDeviceMessage();
    void deselectionClosesDialog();
    void imageReachesBootloaderBitForBit();
};

void WindowFirmwareTest::buttonWithoutBootloaderDoesNothing()
{
    DialogAnswerer answers;
    ZUD_wheel_tool window;
    updateButton(window)->click();
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 0;
    auto wheel = emu::WheelBaseEmulator::plug(config);
    discover(window);
    QVERIFY(deviceOf<UsbDeviceZudWheelBase>(window, wheel->device()));
    updateButton(window)->click();
    QTest::qWait(50);
    QVERIFY(answers.seen.isEmpty());
}

void WindowFirmwareTest::selectionOpensChooserAndCancelLeavesButton()
{
    DialogAnswerer answers; // cancels file dialogs
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    // Opened once the discovery pass has returned to the event loop.
    QTRY_COMPARE(answers.fileDialogs().size(), 1);
    const SeenDialog chooser = answers.fileDialogs().first();
    QCOMPARE(chooser.title, QStringLiteral("Open new FW File"));
    QCOMPARE(chooser.nameFilters,
             QStringList({QStringLiteral("ZUD FW Files (*.fw)"), QStringLiteral("All Files (*)")}));
    QCOMPARE(chooser.selectedNameFilter, QStringLiteral("ZUD FW Files (*.fw)"));
    QCOMPARE(chooser.fileMode, QFileDialog::ExistingFile);
    QCOMPARE(chooser.parent, static_cast<QWidget *>(&window));

    QVERIFY(!updateButton(window)->isHidden());
    QVERIFY(!window.findChild<QProgressDialog *>());
    QTest::qWait(50);
    QCOMPARE(boot->chunkReports(), 0);
    QCOMPARE(boot->endReports(), 0);

    // A second try through the button.
    QTest::mouseClick(updateButton(window), Qt::LeftButton);
    QCOMPARE(answers.fileDialogs().size(), 2);

    // A completion that this window did not start shows nothing.
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(window, boot->device());
    QVERIFY(bootloader);
    emit bootloader->onUpdateCompleted(bootloader);
    emit bootloader->onUpdateFailed(bootloader, QStringLiteral("not ours"));
    QVERIFY(answers.boxes().isEmpty());
}

void WindowFirmwareTest::unreadableFile()
{
    FirmwareFiles files;
    DialogAnswerer answers;
    answers.files = QStringList{QDir(files.dir.path()).absoluteFilePath(QStringLiteral("gone.fw"))};
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    QTRY_COMPARE(answers.boxes().size(), 1);
    QCOMPARE(answers.fileDialogs().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Unable to open file"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, static_cast<QWidget *>(&window));
    QVERIFY2(box.text.contains(QStringLiteral("No such file")), qPrintable(box.text));
    QTest::qWait(50);
    QCOMPARE(boot->chunkReports(), 0);
    QVERIFY(!window.findChild<QProgressDialog *>());
}

// A file too large to be an image, even one of gigabytes or a device file
// that never ends, is refused with the bootloader's limit before anything is
// read into memory or sent; an empty file, which would end the transfer at
// once with nothing flashed, is refused as well.
void WindowFirmwareTest::oversizedFileRefusedUnread_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("ending");
    const QString limit = QStringLiteral("the bootloader accepts at most 32767 chunks of 32 bytes "
                                         "(1048544 bytes)");
    QTest::newRow("one byte over")
        << "over.fw" << qint64(32767 * 32 + 1)
        << "Firmware image too large: 1048545 bytes make 32768 chunks" << limit;
    QTest::newRow("three gigabytes") << "huge.fw" << (qint64(3) << 30)
                                     << "Firmware image too large: 3221225472 bytes make "
                                        "100663296 chunks"
                                     << limit;
    QTest::newRow("endless device file")
        << "/dev/zero" << qint64(-1) << "Firmware image too large: 1048545 bytes" << limit;
    const QString empty = QStringLiteral("The firmware file is empty.");
    QTest::newRow("empty device file") << "/dev/null" << qint64(-1) << empty << empty;
}

void WindowFirmwareTest::oversizedFileRefusedUnread()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(QString, expected);
    QFETCH(QString, ending);
    FirmwareFiles files;
    QString path = name;
    if (size >= 0) {
        // Sparse: the file has its size without its bytes on disk.
        path = QDir(files.dir.path()).absoluteFilePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
    } else if (!QFileInfo::exists(path)) {
        QSKIP("no such device file here");
    }
    DialogAnswerer answers;
    answers.files = QStringList{path};
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    QTRY_COMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Firmware update"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY2(box.text.startsWith(expected), qPrintable(box.text));
    QVERIFY2(box.text.endsWith(ending), qPrintable(box.text));
    QTest::qWait(50);
    QCOMPARE(boot->chunkReports(), 0);
    QCOMPARE(boot->endReports(), 0);
    QVERIFY(!window.findChild<QProgressDialog *>());
    // The bootloader stays selected for another try.
    QVERIFY(!updateButton(window)->isHidden());
}

void WindowFirmwareTest::smallImageProgressAndSuccess()
{
    FirmwareFiles files;
    const QByteArray image = randomBytes(64, 64);
    const QString path = files.write(QStringLiteral("small.fw"), image);
    QVERIFY(!path.isEmpty());
    DialogAnswerer answers; // the chooser on selection is cancelled
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    auto *bootloader = deviceOf<UsbDeviceZudBootloader>(window, boot->device());
    QVERIFY(bootloader);

    // The dialog's value after each progress report, read after the window
    // has handled it.
    QList<int> values;
    connect(bootloader, &UsbDeviceZudBootloader::onFirmwareUpdateProgress, &window, [&] {
        if (QProgressDialog *dialog = window.findChild<QProgressDialog *>())
            values << dialog->value();
    });
    DialogAtBox atBox;
    watchDialogAtBox(answers, window, atBox);
    answers.files = QStringList{path};
    QTest::mouseClick(updateButton(window), Qt::LeftButton);

    QTRY_COMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Firmware update"));
    QCOMPARE(box.text, QStringLiteral("Update completed successfully!"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(atBox.exists);
    QCOMPARE(atBox.minimum, 0);
    QCOMPARE(atBox.maximum, 2);
    QCOMPARE(atBox.label, QStringLiteral("Updating firmware"));
    QVERIFY(atBox.modal);
    QVERIFY(!atBox.hasCancelButton);
    QCOMPARE(atBox.parent, static_cast<QWidget *>(&window));
    // 0, 1, then 2, at which the dialog resets itself (its value reads as
    // minimum - 1 from then on). Under load a chunk may be sent again after
    // the 200 ms retry, and its progress reported twice.
    QVERIFY(values.size() >= 3);
    QCOMPARE(values.first(), 0);
    QCOMPARE(values.last(), -1);
    QVERIFY(values.contains(1));
    for (int i = 1; i + 1 < values.size(); ++i)
        QVERIFY(values[i] >= values[i - 1] && values[i] <= 1);
    QTRY_VERIFY(dialogReleased(window));
    QCOMPARE(boot->totalChunks(), 2);
    QVERIFY(boot->transferEnded());
    const std::vector<uint8_t> received = boot->image();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(received.data()), int(received.size())),
             image);
}

// An empty file would end the transfer at once and leave the device with
// nothing flashed: it is refused before anything is sent.
void WindowFirmwareTest::emptyImage()
{
    FirmwareFiles files;
    DialogAnswerer answers;
    answers.files = QStringList{files.write(QStringLiteral("empty.fw"), QByteArray())};
    ZUD_wheel_tool window;
    auto boot = emu::BootloaderEmulator::plug();
    discover(window);
    QTRY_COMPARE(answers.boxes().size(), 1);
    QCOMPARE(answers.boxes().first().title, QStringLiteral("Firmware update"));
    QCOMPARE(answers.boxes().first().text, QStringLiteral("The firmware file is empty."));
    QTest::qWait(50);
    QCOMPARE(boot->endReports(), 0);
    QCOMPARE(boot->chunkReports(), 0);
    QVERIFY(!window.findChild<QProgressDialog *>());
}

void WindowFirmwareTest::crcFailureShowsDeviceMessage()
{
    FirmwareFiles files;
    DialogAnswerer answers;
    answers.files = QStringList{files.write(QStringLiteral("big.fw"), randomBytes(1200 * 32, 5))};
    auto boot = emu::BootloaderEmulator::plug();
    boot->corruptCrc(5);
    ZUD_wheel_tool window;
    DialogAtBox atBox;
    watchDialogAtBox(answers, window, atBox);
    discover(window);
    QTRY_COMPARE(answers.boxes().size(), 1);
    const SeenDialog box = answers.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Firmware update"));
    QCOMPARE(box.text, QStringLiteral("CRC failed on chunk 5 of 1200"));
    QCOMPARE(box.icon, QMessageBox::Information); // not a warning
    QVERIFY(atBox.exists);
    QCOMPARE(atBox.maximum, 1200);
    QTRY_VERIFY(dialogReleased(window));
    QTest::qWait(50);
    QCOMPARE(boot->endReports(), 0);
    QCOMPARE(answers.boxes().size(), 1);
}

void WindowFirmwareTest::deselectionClosesDialog()
{
    FirmwareFiles files;
    DialogAnswerer answers;
    answers.files = QStringList{files.write(QStringLiteral("slow.fw"), randomBytes(1000 * 32, 9))};
    auto boot = emu::BootloaderEmulator::plug();
    boot->setAcknowledgementDelay(std::chrono::milliseconds(5));
    ZUD_wheel_tool window;
    discover(window);
    QPointer<QProgressDialog> dialog;
    QTRY_VERIFY((dialog = window.findChild<QProgressDialog *>()));
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->maximum(), 1000);
    QTRY_VERIFY(boot->chunkReports() >= 3); // under way

    emu::PedalsEmulator::Config config;
    config.streamRate = 0;
    auto pedals = emu::PedalsEmulator::plug(config);
    discover(window);
    QComboBox *devices = child<QComboBox>(window, "comboBox_UsbDevice");
    QCOMPARE(devices->count(), 2);
    devices->setCurrentIndex(1);
    QVERIFY(dialog.isNull() || !dialog->isVisible());
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(dialogReleased(window));
    QTest::qWait(100);
    QVERIFY(answers.boxes().isEmpty());

    // Selecting the bootloader again offers the chooser again.
    devices->setCurrentIndex(0);
    QTRY_COMPARE(answers.fileDialogs().size(), 2);
}

void WindowFirmwareTest::imageReachesBootloaderBitForBit()
{
    FirmwareFiles files;
    const QByteArray image = randomBytes(4099, 4099); // not a whole number of chunks
    DialogAnswerer answers;
    answers.files = QStringList{files.write(QStringLiteral("app.fw"), image)};
    auto boot = emu::BootloaderEmulator::plug();
    ZUD_wheel_tool window;
    discover(window);
    QTRY_COMPARE(answers.boxes().size(), 1);
    QCOMPARE(answers.boxes().first().text, QStringLiteral("Update completed successfully!"));
    QVERIFY(boot->transferEnded());
    QCOMPARE(boot->totalChunks(), 129);
    QCOMPARE(boot->crcMismatches(), 0);
    QCOMPARE(boot->tailMismatches(), 0);
    const std::vector<uint8_t> received = boot->image();
    QCOMPARE(int(received.size()), 129 * 32);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(received.data()), image.size()), image);
    for (size_t i = size_t(image.size()); i < received.size(); ++i)
        QCOMPARE(int(received[i]), 0);
}

ZUD_WINDOW_TEST_MAIN(WindowFirmwareTest)
#include "tst_window_firmware.moc"
