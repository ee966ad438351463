// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SharedDeviceFollower.h"

#include "app/UnsavedChangesGuard.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <QMainWindow>
#include <QStatusBar>

SharedDeviceFollower::SharedDeviceFollower(QMainWindow *window, UnsavedChangesGuard *guard)
    : QObject(window), window(window), guard(guard)
{
    quiet.setSingleShot(true);
    quiet.setInterval(300);
    connect(&quiet, &QTimer::timeout, this, &SharedDeviceFollower::catchUp);
}

void SharedDeviceFollower::follow(UsbDevice *selected)
{
    for (const QMetaObject::Connection &c : connections)
        disconnect(c);
    connections.clear();
    quiet.stop();
    reloading = false;
    device = selected;
    wheelBase = qobject_cast<UsbDeviceZudWheelBase *>(selected);
    if (!selected)
        return;
    connections << connect(selected, &UsbDevice::onBusy, this, &SharedDeviceFollower::busy);
    if (wheelBase)
        connections << connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsChangedElsewhere, this,
                               &SharedDeviceFollower::changedElsewhere)
                    << connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoaded, this,
                               &SharedDeviceFollower::loaded);
}

void SharedDeviceFollower::changedElsewhere(UsbDevice *from)
{
    // Every reply of the other program's exchange restarts the wait: the
    // window catches up once they have stopped.
    if (from == wheelBase)
        quiet.start();
}

void SharedDeviceFollower::catchUp()
{
    if (!wheelBase)
        return;
    // The window's own exchange (a load, a save, its read-back) runs or
    // waits: look again when it is over.
    if (wheelBase->holdsTurn() || wheelBase->isWaitingForTurn()) {
        quiet.start();
        return;
    }
    const QString name = wheelBase->getProductString();
    if (guard->isModified()) {
        window->statusBar()->showMessage(
            tr("The profiles on %1 were changed by another program. Your unsaved edits are kept; "
               "\"Reload Settings\" shows what the device holds now.")
                .arg(name));
        return;
    }
    reloading = true;
    window->statusBar()->showMessage(
        tr("The profiles on %1 were changed by another program; loading them…").arg(name));
    emit reloadWanted();
}

void SharedDeviceFollower::loaded(UsbDevice *from)
{
    if (!reloading || from != wheelBase)
        return;
    reloading = false;
    window->statusBar()->showMessage(
        tr("The profiles on %1 were changed by another program; the editor shows them now.")
            .arg(wheelBase->getProductString()));
}

void SharedDeviceFollower::busy(UsbDevice *from, const QString &message)
{
    if (from != device)
        return;
    reloading = false;
    window->statusBar()->showMessage(message);
    emit exchangeRefused();
}
