// SPDX-License-Identifier: GPL-3.0-or-later
// "Add Game…": a game to pick from the running processes, or an executable
// name typed in, with its name and the profile it switches to. Opened
// without waiting (open()); accepted() hands the rule over.
#pragma once

#include "games/GameRules.h"

#include <QDialog>

class ProcessSource;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QListWidget;

class AddGameDialog : public QDialog {
    Q_OBJECT

public:
    // profiles: the selected wheel base's names (current: the one to offer
    // first); the profile can be typed when there is none.
    AddGameDialog(ProcessSource &processes, const QStringList &profiles, const QString &current,
                  QWidget *parent);

    GameRule rule() const;

private:
    void processChosen();
    void check();

    QListWidget *processList;
    QLineEdit *executable;
    QLineEdit *name;
    QComboBox *profile;
    QDialogButtonBox *buttons;
    // The name was filled from the chosen process, not typed.
    bool nameFromProcess = true;
};
