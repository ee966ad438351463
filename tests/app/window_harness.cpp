// SPDX-License-Identifier: GPL-3.0-or-later
// The whole window program (zudMain) with an emulated wheel base on the
// virtual bus, for the tests that need the program itself: how it ends on a
// signal and what it remembers between runs. ZUD_HARNESS says what to do
// once the window is shown:
//   "signal N"        with the settings loaded, an unsaved edit, a log open
//                     and a step test running, raises signal N;
//   "place X Y W H"   puts the window there and closes it;
//   "report"          prints "geometry X Y W H" and "shown 0|1" and closes
//                     the window.
// At the end it prints "force F", the wheel base's last test force.
#include "StepTestDriver.h"

#include "app/ZudMain.h"
#include "simulator/WheelBaseEmulator.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    emu::WheelBaseEmulator::Config config;
    config.streamRate = 200;
    config.updateKind = 2;
    const auto wheelBase = emu::WheelBaseEmulator::plug(config);
    const QStringList action =
        QString::fromLocal8Bit(qgetenv("ZUD_HARNESS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);

    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const int result = zudMain(argc, argv, [&action](ZUD_wheel_tool &window) {
        if (action.value(0) == QLatin1String("signal")) {
            const int signalNumber = action.value(1).toInt();
            wintest::startStepTest(window, [signalNumber] {
                std::fputs("step test started\n", stderr);
                std::raise(signalNumber);
            });
        } else if (action.value(0) == QLatin1String("place") && action.size() == 5) {
            window.setGeometry(action[1].toInt(), action[2].toInt(), action[3].toInt(),
                               action[4].toInt());
            QTimer::singleShot(0, &window, &QWidget::close);
        } else {
            const QRect at = window.geometry();
            std::fprintf(stderr, "geometry %d %d %d %d\n", at.x(), at.y(), at.width(), at.height());
            std::fprintf(stderr, "shown %d\n", int(window.isVisible()));
            QTimer::singleShot(0, &window, &QWidget::close);
        }
    });
    std::fprintf(stderr, "force %g\n", double(wheelBase->lastTestForce()));
    return result;
}
