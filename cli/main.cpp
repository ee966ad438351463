#include "cli/ZudWheelMain.h"

int main(int argc, char **argv)
{
    return zudWheelMain(argc, argv);
}
