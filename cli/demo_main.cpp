// SPDX-License-Identifier: GPL-3.0-or-later
// zud-wheel on the virtual HID bus with an emulated wheel base and pedal set
// plugged in, for trying every command without hardware. The rig lives only
// as long as one command: each run starts with the factory table, and the
// rim and the pedals move so that a log has something to show.
//
// `watch` gets a rules file to follow when the user has none: a rule for a
// process named DemoRacer.exe (a copy of sleep will do) with a profile of
// the emulated wheel base. The other commands leave the rules alone.
#include "cli/ZudWheelMain.h"
#include "simulator/DemoGameRules.h"
#include "simulator/EmulatedRig.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstring>

int main(int argc, char **argv)
{
    emu::EmulatedRig rig;
    emu::DemoMotion motion(rig);
    if (argc > 1 && std::strcmp(argv[1], "watch") == 0) {
        // The rules file lies in the application's configuration folder.
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zud-wheel-tool"));
        QString message;
        emu::writeDemoGameRulesIfAbsent(message);
        if (!message.isEmpty())
            QTextStream(stderr) << message << '\n';
        return zudWheelMain(argc, argv);
    }
    return zudWheelMain(argc, argv);
}
