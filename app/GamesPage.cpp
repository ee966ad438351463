// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/GamesPage.h"

#include "app/AddGameDialog.h"
#include "app/DeviceSelection.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "games/ProcessSource.h"
#include "profiles/ProfileFile.h"
#include "ui_ZUD_wheel_tool.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QStatusBar>
#include <memory>

namespace {

enum Column { GameColumn = 0, ExecutableColumn = 1, ProfileColumn = 2 };

QString keepCurrentText()
{
    return QObject::tr("Keep current");
}

} // namespace

GamesPage::GamesPage(QMainWindow *window, Ui::ZUD_wheel_tool *form,
                     const DeviceSelection &selection)
    : window(window), ui(form), selection(selection), path(gameRulesPath())
{
    QHeaderView *header = ui->tableWidget_Games->horizontalHeader();
    header->setSectionResizeMode(GameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ExecutableColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ProfileColumn, QHeaderView::ResizeToContents);
    connect(ui->tableWidget_Games, &QTableWidget::itemChanged, this, &GamesPage::cellEdited);
    connect(ui->comboBox_DefaultProfile, QOverload<int>::of(&QComboBox::activated), this,
            &GamesPage::defaultChosen);
    connect(ui->checkBox_SwitchProfiles, &QCheckBox::clicked, this, &GamesPage::switchingClicked);
    connect(ui->pushButton_AddGame, &QPushButton::clicked, this, &GamesPage::addGame);
    connect(ui->pushButton_RemoveGame, &QPushButton::clicked, this, &GamesPage::removeGame);
    // A hand edit of the file shows within a second, whether or not a
    // watcher runs that would say so.
    lookTimer.setInterval(1000);
    connect(&lookTimer, &QTimer::timeout, this, &GamesPage::look);
    lookTimer.start();
    read();
}

void GamesPage::setRulesPath(const QString &rulesPath)
{
    path = rulesPath;
    read();
}

void GamesPage::look()
{
    if (GameRulesStamp::of(path) != stamp)
        read();
}

void GamesPage::reload()
{
    read();
}

void GamesPage::read()
{
    stamp = GameRulesStamp::of(path);
    GameRules rules;
    if (stamp.exists) {
        QString error;
        if (!readGameRulesFile(path, rules, error)) {
            // The rules read before stay as they are, in force and shown;
            // nothing is written until the file is fixed.
            problem = error;
            show();
            return;
        }
    }
    // The page's own write read back changes nothing: a cell being edited
    // stays open.
    const bool changed = !problem.isEmpty() || !shown || rules != rules_;
    problem.clear();
    rules_ = rules;
    shown = true;
    if (changed)
        show();
    setWanted();
}

bool GamesPage::save()
{
    if (!problem.isEmpty())
        return false;
    QString error;
    if (!writeGameRulesFile(path, rules_, error)) {
        window->statusBar()->showMessage(error);
        return false;
    }
    stamp = GameRulesStamp::of(path);
    setWanted();
    return true;
}

void GamesPage::setWanted()
{
    const bool now = stamp.exists && problem.isEmpty() && rules_.enabled;
    if (now == wanted)
        return;
    wanted = now;
    emit switchingWantedChanged(wanted);
}

void GamesPage::profileNamesChanged()
{
    names.clear();
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase()) {
        const ProfileTable table = profileTableOf(*wheelBase);
        for (const ZudUsbWheelBaseProfile &profile : table.profiles)
            names << profileDisplayName(profile);
    }
    show();
}

void GamesPage::fillProfileChoice(QComboBox *box, const QString &chosen, bool keepCurrentItem) const
{
    box->clear();
    if (keepCurrentItem)
        box->addItem(keepCurrentText(), QVariant());
    for (const QString &name : names)
        box->addItem(name, name);
    if (!chosen.isEmpty() && !names.contains(chosen)) {
        // A name the wheel base does not have stays visible, and stays in
        // the file, until the user chooses another.
        const QString text =
            names.isEmpty() ? chosen : tr("%1 (not on the wheel base)").arg(chosen);
        box->addItem(text, chosen);
    }
    const int index = chosen.isEmpty() ? 0 : box->findData(chosen);
    box->setCurrentIndex(qMax(0, index));
}

void GamesPage::show()
{
    filling = true;
    QTableWidget *table = ui->tableWidget_Games;
    const int selected = table->currentRow();
    table->setRowCount(0);
    table->setRowCount(rules_.games.size());
    for (int row = 0; row < rules_.games.size(); ++row) {
        const GameRule &rule = rules_.games.at(row);
        table->setItem(row, GameColumn, new QTableWidgetItem(rule.name));
        table->setItem(row, ExecutableColumn, new QTableWidgetItem(rule.executable));
        auto *box = new QComboBox(table);
        fillProfileChoice(box, rule.profile, false);
        connect(box, QOverload<int>::of(&QComboBox::activated), this,
                [this, box] { profileChosen(box); });
        table->setCellWidget(row, ProfileColumn, box);
    }
    if (selected >= 0 && selected < table->rowCount())
        table->setCurrentCell(selected, GameColumn);
    fillProfileChoice(ui->comboBox_DefaultProfile, rules_.defaultProfile, true);
    ui->checkBox_SwitchProfiles->setChecked(rules_.enabled);
    filling = false;

    const bool editable = problem.isEmpty();
    for (QWidget *widget : {static_cast<QWidget *>(ui->tableWidget_Games),
                            static_cast<QWidget *>(ui->pushButton_AddGame),
                            static_cast<QWidget *>(ui->pushButton_RemoveGame),
                            static_cast<QWidget *>(ui->comboBox_DefaultProfile),
                            static_cast<QWidget *>(ui->checkBox_SwitchProfiles)})
        widget->setEnabled(editable);
    showMessage();
}

void GamesPage::setNote(const QString &text)
{
    note = text;
    showMessage();
}

void GamesPage::showMessage()
{
    QStringList lines;
    if (!problem.isEmpty())
        lines << tr("The games file cannot be used: %1").arg(problem)
              << tr("The Games page leaves it as it is until it has been fixed or removed.");
    if (!note.isEmpty())
        lines << note;
    ui->label_GamesMessage->setText(lines.join(QLatin1Char('\n')));
}

void GamesPage::cellEdited(QTableWidgetItem *item)
{
    if (filling || !item || item->row() >= rules_.games.size())
        return;
    GameRule &rule = rules_.games[item->row()];
    const QString text = item->text().trimmed();
    QString *field = item->column() == GameColumn ? &rule.name : &rule.executable;
    QString refusal;
    if (text.isEmpty())
        refusal = item->column() == GameColumn ? tr("A game needs a name.")
                                               : tr("A game needs an executable name.");
    else if (item->column() == ExecutableColumn &&
             (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\'))))
        refusal = tr("The executable is a file name without a folder, for example "
                     "\"EnduranceRacer.exe\".");
    if (!refusal.isEmpty()) {
        window->statusBar()->showMessage(refusal);
        filling = true;
        item->setText(*field);
        filling = false;
        return;
    }
    if (*field == text)
        return;
    *field = text;
    save();
}

void GamesPage::profileChosen(QComboBox *box)
{
    QTableWidget *table = ui->tableWidget_Games;
    for (int row = 0; row < table->rowCount() && row < rules_.games.size(); ++row) {
        if (table->cellWidget(row, ProfileColumn) != box)
            continue;
        const QString name = box->currentData().toString();
        if (name.isEmpty() || rules_.games[row].profile == name)
            return;
        rules_.games[row].profile = name;
        save();
        return;
    }
}

void GamesPage::defaultChosen(int index)
{
    const QString name = ui->comboBox_DefaultProfile->itemData(index).toString();
    if (name == rules_.defaultProfile)
        return;
    rules_.defaultProfile = name;
    save();
}

void GamesPage::switchingClicked(bool on)
{
    rules_.enabled = on;
    save();
}

void GamesPage::addGame()
{
    if (dialog)
        return;
    std::unique_ptr<ProcessSource> system;
    ProcessSource *source = processSource;
    if (!source) {
        system = systemProcessSource();
        source = system.get();
    }
    QString current;
    if (UsbDeviceZudWheelBase *wheelBase = selection.wheelBase();
        wheelBase && wheelBase->currentProfile < names.size())
        current = names.at(wheelBase->currentProfile);
    auto *added = new AddGameDialog(*source, names, current, window);
    added->setAttribute(Qt::WA_DeleteOnClose);
    dialog = added;
    connect(added, &QDialog::accepted, this, [this, added] { addChosenGame(added->rule()); });
    // Never waits here: the answer comes through accepted().
    added->open();
}

void GamesPage::addChosenGame(const GameRule &rule)
{
    if (!problem.isEmpty())
        return;
    rules_.games.append(rule);
    if (save()) {
        show();
        ui->tableWidget_Games->setCurrentCell(rules_.games.size() - 1, GameColumn);
    } else {
        rules_.games.removeLast();
    }
}

void GamesPage::removeGame()
{
    const int row = ui->tableWidget_Games->currentRow();
    if (row < 0 || row >= rules_.games.size())
        return;
    const GameRule removed = rules_.games.takeAt(row);
    if (!save()) {
        rules_.games.insert(row, removed);
        return;
    }
    show();
}
