// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class ZUD_wheel_tool;

// The program: the probe mode for "--has-usb-device" as the first argument,
// the configuration tool otherwise ("--tray": started hidden in the system
// tray). onShown, when given, runs once the window
// is shown (test and demo harnesses use it).
int zudMain(int argc, char **argv, const std::function<void(ZUD_wheel_tool &)> &onShown = {});
