// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayIcon.h"

#include "devices/UsbDeviceZudWheelBase.h"
#include "games/ProfileSwitcher.h"
#include "profiles/ProfileFile.h"
#include "usb/UsbManager.h"

#include <QActionGroup>
#include <QIcon>
#include <algorithm>

TrayIcon::TrayIcon(QObject *parent, UsbManager &manager)
    : QObject(parent), manager(manager), switcher(new ProfileSwitcher(this))
{
    icon.setIcon(QIcon(QStringLiteral(":/rim.png")));
    icon.setToolTip(tr("ZUD Wheel Tool"));
    icon.setContextMenu(&menu_);
    connect(&menu_, &QMenu::aboutToShow, this, &TrayIcon::rebuildMenu);
    connect(&icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    emit showWanted();
            });
    connect(switcher, &ProfileSwitcher::finished, this, &TrayIcon::switchEnded);
    rebuildMenu();
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::showIcon()
{
    if (!available())
        return false;
    icon.show();
    return true;
}

void TrayIcon::rebuildMenu()
{
    // Not called from an action of the menu: clearing deletes them.
    qDeleteAll(menu_.findChildren<QActionGroup *>(QString(), Qt::FindDirectChildrenOnly));
    menu_.clear();
    QList<UsbDeviceZudWheelBase *> wheelBases;
    for (UsbDevice *device : manager.getDevices())
        if (auto *wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(device))
            wheelBases << wheelBase;
    std::sort(wheelBases.begin(), wheelBases.end(),
              [](const UsbDeviceZudWheelBase *a, const UsbDeviceZudWheelBase *b) {
                  return a->getProductString() + a->getId() < b->getProductString() + b->getId();
              });
    for (UsbDeviceZudWheelBase *wheelBase : wheelBases) {
        menu_.addSection(wheelBase->getProductString());
        const ProfileTable table = profileTableOf(*wheelBase);
        if (table.profiles.isEmpty()) {
            menu_.addAction(tr("Profiles not loaded yet"))->setEnabled(false);
            continue;
        }
        auto *group = new QActionGroup(&menu_);
        group->setExclusive(true);
        const QPointer<UsbDeviceZudWheelBase> target = wheelBase;
        for (int i = 0; i < table.profiles.size(); ++i) {
            QAction *action = menu_.addAction(profileDisplayName(table.profiles.at(i)));
            action->setCheckable(true);
            action->setChecked(i == table.currentProfile);
            action->setActionGroup(group);
            connect(action, &QAction::triggered, this, [this, target, i] {
                if (target)
                    switchTo(target, i);
            });
        }
    }
    menu_.addSeparator();
    connect(menu_.addAction(tr("Show")), &QAction::triggered, this, &TrayIcon::showWanted);
    connect(menu_.addAction(tr("Quit")), &QAction::triggered, this, &TrayIcon::quitWanted);
}

void TrayIcon::notify(const QString &title, const QString &text)
{
    lastText = text;
    if (icon.isVisible())
        icon.showMessage(title, text, QSystemTrayIcon::Information);
}

void TrayIcon::switchTo(UsbDeviceZudWheelBase *wheelBase, int index)
{
    if (!wheelBase)
        return;
    if (switcher->isRunning()) {
        emit message(tr("A profile switch is under way; choose again when it is done."));
        return;
    }
    if (const QString why = refusal ? refusal(*wheelBase) : QString(); !why.isEmpty()) {
        emit message(why);
        // The check mark goes back to the current profile, once the action
        // that called has returned.
        QMetaObject::invokeMethod(this, &TrayIcon::rebuildMenu, Qt::QueuedConnection);
        return;
    }
    switching = wheelBase;
    switcher->startAt(wheelBase, index);
}

void TrayIcon::switchEnded()
{
    UsbDeviceZudWheelBase *wheelBase = switching;
    switching = nullptr;
    const QString name = wheelBase ? wheelBase->getProductString() : tr("The wheel base");
    switch (switcher->outcome()) {
    case ProfileSwitcher::Outcome::Switched:
        if (wheelBase) {
            const ProfileTable table = profileTableOf(*wheelBase);
            emit message(
                tr("%1: \"%2\" is the current profile now.")
                    .arg(name, table.currentProfile < table.profiles.size()
                                   ? profileDisplayName(table.profiles.at(table.currentProfile))
                                   : QString()));
            emit switched(wheelBase);
        }
        break;
    case ProfileSwitcher::Outcome::AlreadyCurrent:
        break;
    default:
        emit message(tr("%1: the profile was not switched. %2").arg(name, switcher->message()));
        break;
    }
    rebuildMenu();
}
