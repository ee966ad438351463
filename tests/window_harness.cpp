// The whole window program (zudMain) with an emulated wheel base on the
// virtual bus, for the tests that need the program itself: how it ends on a
// signal and what it remembers between runs. ZUD_HARNESS says what to do
// once the window is shown:
//   "signal N"        with the settings loaded, an unsaved edit, a log open
//                     and a step test running, raises signal N;
//   "place X Y W H"   puts the window there and closes it;
//   "report"          prints "geometry X Y W H" and closes the window.
// At the end it prints "force F", the wheel base's last test force.
#include "DialogAnswerer.h"
#include "FindChild.h"

#include "app/ScopePage.h"
#include "app/ZUD_wheel_tool.h"
#include "app/ZudMain.h"
#include "simulator/WheelBaseEmulator.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

void startStepTestThenRaise(ZUD_wheel_tool &window, int signalNumber)
{
    using wintest::child;
    auto *save = child<QPushButton>(window, "pushButton_SaveConfig");
    auto *poll = new QTimer(&window);
    auto *answers = new wintest::DialogAnswerer;
    answers->buttons << QMessageBox::Yes;
    QObject::connect(poll, &QTimer::timeout, &window, [&window, save, poll, answers, signalNumber] {
        if (!save->isEnabled())
            return; // the settings are still on their way
        poll->stop();
        child<QSlider>(window, "horiSlider_Force")->setValue(99);
        child<QPushButton>(window, "pushButton_Logging")->click();
        auto *scope = window.findChild<ScopePage *>(QStringLiteral("tab_Scope"));
        child<QTabWidget>(window, "tabWidget")->setCurrentWidget(scope);
        child<QSpinBox>(window, "spinBox_TestDuration")->setValue(3000);
        QObject::connect(&scope->stepTest(), &StepTest::started, &window, [answers, signalNumber] {
            delete answers;
            std::fputs("step test started\n", stderr);
            std::raise(signalNumber);
        });
        child<QPushButton>(window, "pushButton_TestForce")->click();
    });
    poll->start(20);
}

} // namespace

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
            startStepTestThenRaise(window, action.value(1).toInt());
        } else if (action.value(0) == QLatin1String("place") && action.size() == 5) {
            window.setGeometry(action[1].toInt(), action[2].toInt(), action[3].toInt(),
                               action[4].toInt());
            QTimer::singleShot(0, &window, &QWidget::close);
        } else {
            const QRect at = window.geometry();
            std::fprintf(stderr, "geometry %d %d %d %d\n", at.x(), at.y(), at.width(), at.height());
            QTimer::singleShot(0, &window, &QWidget::close);
        }
    });
    std::fprintf(stderr, "force %g\n", double(wheelBase->lastTestForce()));
    return result;
}
