// SPDX-License-Identifier: GPL-3.0-or-later
// Which of the window's controls are shown and enabled for the selected
// kind of device, and the read-outs emptied when the selection changes.
#pragma once

#include <QObject>

class DeviceSelection;

namespace Ui {
class ZUD_wheel_tool;
}

class DeviceControls : public QObject {
    Q_OBJECT

public:
    DeviceControls(Ui::ZUD_wheel_tool *form, const DeviceSelection &selection);

    // Shows and enables the controls of the selected kind when isEnabled,
    // else only what stays usable while a device is busy or unknown.
    void apply(bool isEnabled);

signals:
    // After apply: whether the wheel base's controls and the pedal bars are
    // in use now, for the controls that the features add to the form.
    void applied(bool wheelBaseEnabled, bool pedalsShown);

private:
    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
};
