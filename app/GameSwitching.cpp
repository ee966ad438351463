// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/GameSwitching.h"

#include "app/DeviceSelection.h"
#include "app/GamesPage.h"
#include "app/SettingsEditor.h"
#include "app/StatusMessages.h"
#include "app/TrayIcon.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "games/GameWatcher.h"

#include <QMainWindow>
#include <QStatusBar>

namespace {

// "GT3 for Endurance Racer"; the default profile with why it came back.
QString switchedText(const QString &profile, const QString &game)
{
    return game.isEmpty() ? QObject::tr("%1, as no listed game is running").arg(profile)
                          : QObject::tr("%1 for %2").arg(profile, game);
}

QString targetText(const QString &profile, const QString &game)
{
    return game.isEmpty() ? QObject::tr("\"%1\"").arg(profile)
                          : QObject::tr("\"%1\" for %2").arg(profile, game);
}

} // namespace

GameSwitching::GameSwitching(QMainWindow *window, UsbManager &manager,
                             const DeviceSelection &selection, SettingsEditor &editor,
                             GamesPage &page, TrayIcon &tray)
    : window(window), manager(manager), selection(selection), editor(editor), page(page), tray(tray)
{
    connect(&page, &GamesPage::switchingWantedChanged, this, &GameSwitching::setRunning);
    // Saved or discarded edits end the hold.
    connect(&editor, &SettingsEditor::unsavedEditsChanged, this, [this](bool unsaved) {
        if (!unsaved)
            recheck();
    });
    setRunning(page.switchingWanted());
}

GameSwitching::~GameSwitching() = default;

void GameSwitching::setProcessSource(ProcessSource *processSource)
{
    source = processSource;
    if (watcher_) {
        setRunning(false);
        setRunning(page.switchingWanted());
    }
}

bool GameSwitching::isSwitching(const UsbDeviceZudWheelBase &wheelBase) const
{
    return watcher_ && watcher_->isPending(wheelBase);
}

void GameSwitching::setRunning(bool on)
{
    if (bool(watcher_) == on)
        return;
    if (!on) {
        watcher_.reset();
        page.setNote(QString());
        return;
    }
    watcher_ = std::make_unique<GameWatcher>(manager, source);
    GameWatcher *watcher = watcher_.get();
    watcher->setRulesPath(page.rulesPath());
    // Only the selected wheel base can hold edits of the window.
    watcher->setHold([this](const UsbDeviceZudWheelBase &wheelBase) {
        return &wheelBase == selection.wheelBase() && editor.hasUnsavedEdits();
    });
    connect(watcher, &GameWatcher::switched, this, &GameSwitching::showSwitched);
    connect(watcher, &GameWatcher::switchWaiting, this,
            [this](UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game) {
                status(tr("Switching to %1 waits until the edits on %2 are saved or discarded.")
                           .arg(targetText(profile, game), wheelBase->getProductString()));
            });
    connect(watcher, &GameWatcher::switchFailed, this,
            [this](UsbDeviceZudWheelBase *wheelBase, const QString &profile, const QString &game,
                   const QString &message) {
                status(tr("%1 was not switched to %2: %3")
                           .arg(wheelBase->getProductString(), targetText(profile, game), message));
            });
    connect(watcher, &GameWatcher::standbyChanged, this,
            [this](bool standingBy, const QString &holder) {
                const QString text =
                    standingBy ? tr("%1, so this window does not switch them.").arg(holder)
                               : tr("This window switches the profiles now.");
                page.setNote(standingBy ? text : QString());
                status(text, standingBy ? 0 : StatusMessages::timeoutMs);
            });
    watcher->start();
}

void GameSwitching::recheck()
{
    if (watcher_)
        watcher_->recheck();
}

void GameSwitching::showSwitched(UsbDeviceZudWheelBase *wheelBase, const QString &profile,
                                 const QString &game)
{
    const QString text = switchedText(profile, game);
    tray.notify(wheelBase->getProductString(), text);
    status(tr("%1: %2").arg(wheelBase->getProductString(), text), StatusMessages::timeoutMs);
    emit switched(wheelBase);
}

void GameSwitching::status(const QString &text, int timeoutMs)
{
    window->statusBar()->showMessage(text, timeoutMs);
}
