// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows while no supported device is attached: a placeholder
// in the device list and a short hint under it that says what to do.
#pragma once

#include <QLabel>

class QComboBox;

class NoDeviceHint : public QLabel {
    Q_OBJECT

public:
    // Gives the device list its placeholder and follows the list's items:
    // the hint is shown exactly while the list is empty.
    NoDeviceHint(QComboBox *deviceList, QWidget *parent);

    static QString placeholderText();
    static QString hintText();

protected:
    // Paints the device list's placeholder, which this toolkit version
    // keeps but does not draw.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();

    QComboBox *deviceList;
};
