// SPDX-License-Identifier: GPL-3.0-or-later
// What the window adds to its form so that it explains itself: the hint
// while no device is attached, the pedal bars' captions, the status bar for
// results, the keyboard shortcuts and the tab order, and which pages and
// rows are offered for the selected kind of device.
#pragma once

#include <QObject>

class DeviceControls;
class DeviceSelection;
class QMainWindow;

namespace Ui {
class ZUD_wheel_tool;
}

class WindowGuidance : public QObject {
    Q_OBJECT

public:
    // Built once the other features have added their controls to the form:
    // the tab order follows the layouts as they are then.
    WindowGuidance(QMainWindow *window, Ui::ZUD_wheel_tool *form, const DeviceSelection &selection,
                   const DeviceControls &controls);

private:
    // The guidance's part of the enable state, after the controls' own.
    void showSelection(bool pedals);

    Ui::ZUD_wheel_tool *ui;
    const DeviceSelection &selection;
};
