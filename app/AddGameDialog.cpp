// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AddGameDialog.h"

#include "games/GameMatcher.h"
#include "games/ProcessSource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The base names of the running processes, each once, in alphabetical order.
QStringList runningNames(ProcessSource &source)
{
    QStringList names;
    for (const ProcessInfo &process : source.processes()) {
        const QString name = processBaseName(process);
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

// "EnduranceRacer.exe" is called "EnduranceRacer" until the user says better.
QString nameOf(const QString &executable)
{
    QString name = executable;
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

} // namespace

AddGameDialog::AddGameDialog(ProcessSource &processes, const QStringList &profiles,
                             const QString &current, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Add Game"));
    processList = new QListWidget(this);
    processList->setObjectName(QStringLiteral("listWidget_Processes"));
    processList->addItems(runningNames(processes));
    executable = new QLineEdit(this);
    executable->setObjectName(QStringLiteral("lineEdit_Executable"));
    executable->setPlaceholderText(tr("for example EnduranceRacer-Win64-Shipping.exe"));
    name = new QLineEdit(this);
    name->setObjectName(QStringLiteral("lineEdit_GameName"));
    profile = new QComboBox(this);
    profile->setObjectName(QStringLiteral("comboBox_GameProfile"));
    profile->addItems(profiles);
    // Without a wheel base there are no names to choose from: type one.
    profile->setEditable(profiles.isEmpty());
    profile->setCurrentIndex(qMax(0, profiles.indexOf(current)));
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *form = new QFormLayout;
    form->addRow(tr("Executable"), executable);
    form->addRow(tr("Game"), name);
    form->addRow(tr("Profile"), profile);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Running programs:"), this));
    layout->addWidget(processList);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(processList, &QListWidget::currentTextChanged, this, &AddGameDialog::processChosen);
    connect(executable, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (nameFromProcess)
            name->setText(nameOf(text.trimmed()));
        check();
    });
    connect(name, &QLineEdit::textEdited, this, [this] {
        nameFromProcess = false;
        check();
    });
    connect(profile, &QComboBox::currentTextChanged, this, &AddGameDialog::check);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    check();
}

GameRule AddGameDialog::rule() const
{
    return GameRule{name->text().trimmed(), executable->text().trimmed(),
                    profile->currentText().trimmed()};
}

void AddGameDialog::processChosen()
{
    if (QListWidgetItem *item = processList->currentItem())
        executable->setText(item->text());
}

void AddGameDialog::check()
{
    const GameRule chosen = rule();
    const bool folder = chosen.executable.contains(QLatin1Char('/')) ||
                        chosen.executable.contains(QLatin1Char('\\'));
    buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(!chosen.executable.isEmpty() && !folder && !chosen.name.isEmpty() &&
                     !chosen.profile.isEmpty());
}
