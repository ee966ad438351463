// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes about a device, at most one open per device: a device that
// keeps failing puts its newest message into the box already open, with a
// count, instead of piling boxes up on the screen. The boxes do not wait
// (NonBlockingBox.h), so a device's own call may open them.
#pragma once

#include <QHash>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

class DeviceMessageBoxes : public QObject {
    Q_OBJECT

public:
    explicit DeviceMessageBoxes(QWidget *window);

    // Opens a box for the device with the given id, or, while one is open,
    // shows title and text in that one and counts the repeat. Returns the box.
    QMessageBox *show(const QString &deviceId, QMessageBox::Icon icon, const QString &title,
                      const QString &text);

private:
    struct Open {
        QPointer<QMessageBox> box;
        int messages = 0;
    };
    QWidget *window;
    QHash<QString, Open> boxes;
};
