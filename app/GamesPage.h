// SPDX-License-Identifier: GPL-3.0-or-later
// The "Games" page: the game rules file (games.json) as a table of games,
// each with the profile it switches to, the profile for when no listed game
// runs, and whether profiles switch at all. Every change is written to the
// file at once; a file changed by someone else is read again.
//
// A rules file that cannot be used (not valid, unreadable) is never written
// over: the page says what is wrong and changes nothing until the file has
// been fixed or removed, so that a hand-edited file is not lost.
#pragma once

#include "games/GameRules.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class DeviceSelection;
class ProcessSource;
class QComboBox;
class QMainWindow;
class QTableWidgetItem;

namespace Ui {
class ZUD_wheel_tool;
}

class GamesPage : public QObject {
    Q_OBJECT

public:
    GamesPage(QMainWindow *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection);

    QString rulesPath() const { return path; }
    // Reads the rules from another file (gameRulesPath() by default).
    void setRulesPath(const QString &rulesPath);
    // The processes "Add Game…" offers; the running system's when null.
    void setProcessSource(ProcessSource *source) { processSource = source; }

    const GameRules &rules() const { return rules_; }
    // The rules file exists, can be used and asks for switching.
    bool switchingWanted() const { return wanted; }
    // Why the rules file cannot be used, or empty.
    QString fileProblem() const { return problem; }

    // The selected wheel base's profiles arrived or it left: the profile
    // choices follow its names.
    void profileNamesChanged();
    // A line about who switches profiles, shown on the page (empty: none).
    void setNote(const QString &text);

    // The dialog "Add Game…" opened, while it is open.
    QDialog *addGameDialog() const { return dialog; }

public slots:
    // Reads the rules file again now, rather than at the next look (a look
    // a second reads it when its time or size has changed).
    void reload();

signals:
    void switchingWantedChanged(bool wanted);

private:
    void look();
    void read();
    bool save();
    void show();
    void fillProfileChoice(QComboBox *box, const QString &chosen, bool keepCurrentItem) const;
    void showMessage();
    void setWanted();
    void cellEdited(QTableWidgetItem *item);
    void profileChosen(QComboBox *box);
    void defaultChosen(int index);
    void switchingClicked(bool on);
    void addGame();
    void addChosenGame(const GameRule &rule);
    void removeGame();

    QMainWindow *window;
    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
    ProcessSource *processSource = nullptr;
    QString path;
    GameRules rules_;
    GameRulesStamp stamp;
    QString problem;
    QString note;
    bool wanted = false;
    bool filling = false;
    // The table shows rules_ (read at least once).
    bool shown = false;
    QStringList names;
    QTimer lookTimer;
    QPointer<QDialog> dialog;
};
