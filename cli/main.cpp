// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ZudWheelMain.h"

int main(int argc, char **argv)
{
    return zudWheelMain(argc, argv);
}
