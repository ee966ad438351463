// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceMessageBoxes.h"

#include "app/NonBlockingBox.h"

#include <QWidget>

DeviceMessageBoxes::DeviceMessageBoxes(QWidget *window) : QObject(window), window(window) {}

QMessageBox *DeviceMessageBoxes::show(const QString &deviceId, QMessageBox::Icon icon,
                                      const QString &title, const QString &text)
{
    Open &open = boxes[deviceId];
    if (open.box) {
        ++open.messages;
        open.box->setIcon(icon);
        open.box->setWindowTitle(title);
        open.box->setText(text);
        open.box->setInformativeText(tr("This is message %1 from this device since the box "
                                        "opened; the newest is shown.")
                                         .arg(open.messages));
        return open.box;
    }
    open.messages = 1;
    QMessageBox *box = openMessageBox(window, icon, title, text);
    open.box = box;
    connect(box, &QDialog::finished, this, [this, deviceId] { boxes.remove(deviceId); });
    return box;
}
