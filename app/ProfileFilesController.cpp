// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProfileFilesController.h"

#include "app/NonBlockingBox.h"
#include "app/SettingsMapping.h"
#include "app/UnsavedChangesGuard.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>

namespace {
const char *const fileFilter =
    QT_TRANSLATE_NOOP("ProfileFilesController", "Profile Files (*.json);;All Files (*)");
} // namespace

ProfileFilesController::ProfileFilesController(
    QMainWindow *window, QBoxLayout *layout, UnsavedChangesGuard *guard,
    std::function<UsbDeviceZudWheelBase *()> selectedWheelBase, std::function<void()> showTable)
    : QObject(window), window(window), guard(guard),
      selectedWheelBase(std::move(selectedWheelBase)), showTable(std::move(showTable))
{
    const auto makeButton = [&](const char *name, const QString &text) {
        auto *button = new QPushButton(text, window);
        button->setObjectName(QLatin1String(name));
        button->setEnabled(false);
        layout->addWidget(button);
        return button;
    };
    exportButton = makeButton("pushButton_ExportProfiles", tr("Export…"));
    importButton = makeButton("pushButton_ImportProfiles", tr("Import…"));
    restoreButton = makeButton("pushButton_RestoreBackup", tr("Backups…"));
    connect(exportButton, &QPushButton::clicked, this, &ProfileFilesController::exportProfiles);
    connect(importButton, &QPushButton::clicked, this, &ProfileFilesController::importProfiles);
    connect(restoreButton, &QPushButton::clicked, this, &ProfileFilesController::restoreBackup);
}

void ProfileFilesController::setEnabled(bool enabled)
{
    for (QPushButton *button : {exportButton, importButton, restoreButton})
        button->setEnabled(enabled);
}

void ProfileFilesController::showStatus(const QString &text)
{
    window->statusBar()->showMessage(text);
}

bool ProfileFilesController::backupBefore(const QString &reason)
{
    UsbDeviceZudWheelBase *wheelBase = selectedWheelBase();
    if (!wheelBase || !guard->hasLoadedTable())
        return true;
    QString error;
    const QString path = backups.write(ProfileBackupStore::deviceFolder(*wheelBase),
                                       guard->loadedTable(), reason, error);
    if (!path.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, tr("Backup failed"),
                    tr("The profiles of %1 could not be backed up before this operation.")
                        .arg(wheelBase->getProductString()),
                    QMessageBox::Ignore | QMessageBox::Cancel, window);
    box.setInformativeText(error);
    box.button(QMessageBox::Ignore)->setText(tr("Continue Without Backup"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ignore;
}

QString ProfileFilesController::backupUnsaved(UsbDeviceZudWheelBase &wheelBase, QString &error)
{
    return backups.write(ProfileBackupStore::deviceFolder(wheelBase), profileTableOf(wheelBase),
                         QStringLiteral("unsaved"), error);
}

void ProfileFilesController::exportProfiles()
{
    if (!selectedWheelBase())
        return;
    QMessageBox choice(QMessageBox::Question, tr("Export profiles"),
                       tr("Export all profiles or only the current one?"),
                       QMessageBox::YesToAll | QMessageBox::Yes | QMessageBox::Cancel, window);
    choice.button(QMessageBox::YesToAll)->setText(tr("All Profiles"));
    choice.button(QMessageBox::Yes)->setText(tr("Current Profile"));
    choice.setDefaultButton(QMessageBox::YesToAll);
    const int answer = choice.exec();
    if (answer != QMessageBox::YesToAll && answer != QMessageBox::Yes)
        return;
    const ProfileFileScope scope =
        answer == QMessageBox::Yes ? ProfileFileScope::Profile : ProfileFileScope::Table;
    const QString path =
        QFileDialog::getSaveFileName(window, tr("Export Profiles"), QString(), tr(fileFilter));
    if (path.isEmpty())
        return;
    // The dialogs ran event loops: the device may be gone.
    UsbDeviceZudWheelBase *wheelBase = selectedWheelBase();
    if (!wheelBase || !guard->hasLoadedTable())
        return;
    ProfileTable table = profileTableOf(*wheelBase);
    if (scope == ProfileFileScope::Profile) {
        table.profiles = table.profiles.mid(table.currentProfile, 1);
        table.currentProfile = 0;
    }
    QString error;
    if (!writeProfileFile(path, table, scope, error)) {
        QMessageBox::warning(window, tr("Export failed"), error);
        return;
    }
    showStatus(tr("Exported %1 profiles to %2")
                   .arg(table.profiles.size())
                   .arg(QDir::toNativeSeparators(path)));
}

void ProfileFilesController::importProfiles()
{
    if (!selectedWheelBase())
        return;
    const QString path =
        QFileDialog::getOpenFileName(window, tr("Import Profiles"), QString(), tr(fileFilter));
    if (!path.isEmpty())
        importFile(path);
}

void ProfileFilesController::importFile(const QString &path)
{
    ProfileTable table;
    ProfileFileScope scope = ProfileFileScope::Table;
    QString error;
    if (!readProfileFile(path, table, error, scope)) {
        QMessageBox::warning(window, tr("Import refused"), error);
        return;
    }
    if (!selectedWheelBase() || !guard->hasLoadedTable() || !backupBefore(QStringLiteral("import")))
        return;
    UsbDeviceZudWheelBase *wheelBase = selectedWheelBase();
    if (!wheelBase)
        return;
    // The editor keeps the levels in steps of 10 and would round them when
    // it shows a profile: round them all now, and say so.
    QStringList rounded;
    for (ZudUsbWheelBaseProfile &profile : table.profiles)
        for (const LevelRounding &level : roundLevels(profile))
            rounded << tr("Profile \"%1\": %2 %3 will be saved as %4")
                           .arg(profileDisplayName(profile), QLatin1String(level.field))
                           .arg(level.from)
                           .arg(level.to);
    if (scope == ProfileFileScope::Profile) {
        const int current = wheelBase->currentProfile;
        if (current >= wheelBase->profileCount)
            return;
        ZudUsbWheelBaseProfile profile = table.profiles.first();
        profile.index = uint8_t(current);
        wheelBase->profiles[current] = profile;
    } else {
        applyProfileTable(table, *wheelBase);
    }
    showTable();
    guard->refresh();
    showStatus(
        scope == ProfileFileScope::Profile
            ? tr("Imported profile %1 from %2 in place of the current profile; not saved "
                 "yet")
                  .arg(profileDisplayName(table.profiles.first()), QDir::toNativeSeparators(path))
            : tr("Imported %1 profiles from %2; not saved yet")
                  .arg(table.profiles.size())
                  .arg(QDir::toNativeSeparators(path)));
    if (!rounded.isEmpty())
        showRounded(rounded);
}

void ProfileFilesController::showRounded(const QStringList &rounded)
{
    constexpr int shownLines = 10;
    QString text = tr("Damping, friction, inertia and spring are set in steps of 10.") +
                   QLatin1Char(' ') +
                   (rounded.size() == 1
                        ? tr("One imported value will be saved rounded down:")
                        : tr("%1 imported values will be saved rounded down:").arg(rounded.size()));
    text += QLatin1Char('\n') + QStringList(rounded.mid(0, shownLines)).join(QLatin1Char('\n'));
    if (rounded.size() > shownLines)
        text += QLatin1Char('\n') +
                tr("and %1 more (see the details)").arg(rounded.size() - shownLines);
    QMessageBox *box = openMessageBox(window, QMessageBox::Information, tr("Levels rounded"), text);
    if (rounded.size() > shownLines)
        box->setDetailedText(rounded.join(QLatin1Char('\n')));
}

void ProfileFilesController::restoreBackup()
{
    UsbDeviceZudWheelBase *wheelBase = selectedWheelBase();
    if (!wheelBase)
        return;
    const QString folder = ProfileBackupStore::deviceFolder(*wheelBase);
    const QList<ProfileBackup> list = backups.list(folder, backups.formerFolders(*wheelBase));
    if (list.isEmpty()) {
        QMessageBox::information(
            window, tr("Backups"),
            tr("There are no backups of %1 yet. They are kept in %2.")
                .arg(wheelBase->getProductString(),
                     QDir::toNativeSeparators(backups.root() + QLatin1Char('/') + folder)));
        return;
    }
    QStringList items;
    for (const ProfileBackup &backup : list)
        items << tr("%1   %2   %3")
                     .arg(backup.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                          backup.reason,
                          backup.profileCount < 0 ? tr("unreadable")
                                                  : tr("%1 profiles").arg(backup.profileCount));
    QInputDialog dialog(window);
    dialog.setWindowTitle(tr("Backups"));
    dialog.setLabelText(
        tr("Backups of %1, newest first. The chosen one is loaded into the editor as an import.")
            .arg(wheelBase->getProductString()));
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    const QPointer<UsbDeviceZudWheelBase> askedFor(wheelBase);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Two backups of the same second and reason read alike: the row chosen,
    // not its text, names the file.
    const auto *rows = dialog.findChild<QComboBox *>();
    const int row = rows ? rows->currentIndex() : items.indexOf(dialog.textValue());
    if (row < 0 || row >= list.size())
        return;
    // The dialog ran an event loop: the backup belongs to the wheel base it
    // was listed for, and goes into no other's editor.
    if (!askedFor || selectedWheelBase() != askedFor) {
        showStatus(tr("Nothing was restored: the wheel base whose backups were listed is no "
                      "longer selected."));
        return;
    }
    importFile(list[row].path);
}
