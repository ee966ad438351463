// SPDX-License-Identifier: GPL-3.0-or-later
// The fixture of the window's tests: the main window with an emulated wheel
// base on the virtual bus.
#pragma once

#include "FindChild.h"
#include "WindowTestSupport.h"

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <cstdint>
#include <memory>
#include <vector>

namespace wintest {

// The window is made first and finds the wheel base at plug()'s discovery
// pass, so that whatever a test sets on the window before (a clock, showing
// it) is in place when the wheel base arrives. The window goes before the
// emulator.
struct WindowRig {
    std::shared_ptr<emu::WheelBaseEmulator> emulator;
    std::unique_ptr<ZUD_wheel_tool> ownWindow = std::make_unique<ZUD_wheel_tool>();
    ZUD_wheel_tool &window = *ownWindow;
    // The manager's object for the wheel base; null once it has gone.
    QPointer<UsbDeviceZudWheelBase> wheelBase;
    // Updates the window has handled: counted by a connection made after the
    // window's own, so that an update counts once the window is done with it.
    int handled = 0;
    // The reading of steppingClock().
    uint32_t now = 0;

    WindowRig() = default;
    WindowRig(const WindowRig &) = delete;
    WindowRig &operator=(const WindowRig &) = delete;

    // Plugs a wheel base, with the given profile table if there is one, and
    // runs one discovery pass; true when the window has an object for it.
    bool plug(const emu::WheelBaseEmulator::Config &config = quietWheel(),
              const std::vector<ZudUsbWheelBaseProfile> &table = {}, int current = 0)
    {
        emulator = emu::WheelBaseEmulator::plug(config);
        if (!table.empty())
            emulator->setProfiles(table, current);
        discover(window);
        wheelBase = deviceOf<UsbDeviceZudWheelBase>(window, emulator->device());
        if (wheelBase)
            QObject::connect(wheelBase, &UsbDeviceZudWheelBase::onJoystickUpdate, &window,
                             [this] { ++handled; });
        return wheelBase;
    }

    // The window's clock moves 20 ms on at every reading.
    void useSteppingClock()
    {
        window.setMillisClock([this] { return now += 20; });
    }

    // The wheel base is there and its settings have loaded.
    bool ready() const
    {
        return wheelBase && child<QPushButton>(window, "pushButton_SaveConfig")->isEnabled();
    }

    // Sends the update `times` times and waits until the window has handled
    // all of them.
    bool send(const ZudUsbWheelBaseJoystickUpdate &update, int times = 1)
    {
        const int target = handled + times;
        for (int i = 0; i < times; ++i)
            emulator->device()->inject(wheelReport(update));
        return QTest::qWaitFor([&] { return handled >= target; }, 5000);
    }

    void click(const char *button)
    {
        QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
    }

    QComboBox *profiles() { return child<QComboBox>(window, "comboBox_ProfileName"); }

    // What the user does to pick a profile: the combo box moves, then
    // reports the activation.
    void choose(int index)
    {
        profiles()->setCurrentIndex(index);
        emit profiles()->activated(index);
    }

    QString status() { return window.statusBar()->currentMessage(); }

    // Closes and deletes the window while the wheel base stays.
    void destroyWindow() { ownWindow.reset(); }
};

} // namespace wintest
