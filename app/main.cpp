#include "app/ZudMain.h"

int main(int argc, char **argv)
{
    return zudMain(argc, argv);
}
