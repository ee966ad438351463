// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes that do not wait for their answer.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// Opens a message box with the single button OK, modal to its parent window,
// and returns at once; the box deletes itself when it is dismissed, after
// calling `dismissed` (if given) while the parent still exists.
//
// Every box that a slot called by a device or by the device manager shows
// goes through here: a box that waits (exec() or the static QMessageBox
// functions) runs a nested event loop inside that call, in which the device
// can leave the bus and be deleted while its own code is still running.
QMessageBox *openMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                            const QString &text, std::function<void()> dismissed = {});
