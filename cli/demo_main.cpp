// SPDX-License-Identifier: GPL-3.0-or-later
// zud-wheel on the virtual HID bus with an emulated wheel base and pedal set
// plugged in, for trying every command without hardware. The rig lives only
// as long as one command: each run starts with the factory table, and the
// rim and the pedals move so that a log has something to show.
#include "cli/ZudWheelMain.h"
#include "simulator/EmulatedRig.h"

int main(int argc, char **argv)
{
    emu::EmulatedRig rig;
    emu::DemoMotion motion(rig);
    return zudWheelMain(argc, argv);
}
