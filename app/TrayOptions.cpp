// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayOptions.h"

#include "app/LoginStart.h"

#include <QCheckBox>
#include <QMainWindow>
#include <QStatusBar>

TrayOptions::TrayOptions(QMainWindow *window, QCheckBox *closeToTray, QCheckBox *startAtLogin)
    : window(window), startAtLoginBox(startAtLogin), closeToTray_(settings.closeToTray())
{
    closeToTray->setChecked(closeToTray_);
#ifdef Q_OS_WIN
    // The entry is a freedesktop autostart entry, which Windows does not read.
    startAtLogin->hide();
#endif
    startAtLogin->setChecked(settings.startAtLogin());
    connect(closeToTray, &QCheckBox::clicked, this, &TrayOptions::closeToTrayClicked);
    connect(startAtLogin, &QCheckBox::clicked, this, &TrayOptions::startAtLoginClicked);
}

void TrayOptions::closeToTrayClicked(bool on)
{
    closeToTray_ = on;
    if (!settings.setCloseToTray(on))
        window->statusBar()->showMessage(
            tr("The setting could not be kept in %1.").arg(HostSettings::filePath()));
}

void TrayOptions::startAtLoginClicked(bool on)
{
    QString error;
    if (!LoginStart::setEnabled(on, error)) {
        // The box shows what is so: the entry is there or not.
        startAtLoginBox->setChecked(LoginStart::isEnabled());
        window->statusBar()->showMessage(error);
        return;
    }
    if (!settings.setStartAtLogin(on))
        window->statusBar()->showMessage(
            tr("The setting could not be kept in %1.").arg(HostSettings::filePath()));
}
