// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ZudMain.h"

int main(int argc, char **argv)
{
    return zudMain(argc, argv);
}
