// SPDX-License-Identifier: GPL-3.0-or-later
// What following the games costs and how fast it follows.
//
// (a) The watcher's look at the processes against a process tree laid out as
//     /proc lays it out (stat, cmdline and the exe link per pid folder), with
//     500 processes and 20 rules of which none matches, so that every
//     process is compared with every rule: CPU time per look and, at one
//     look a second, the share of one core (goal: under 0.2 %). The same
//     against this machine's own /proc for comparison, and the cost of a
//     look at 500 processes the source has not seen before.
// (b) The time from a game's start (a copy of sleep under the game's name)
//     to the new current profile in the emulated wheel base of the demo
//     (goal: median under 2 s). The watcher looks once a second, so the
//     figure is half a second on average plus the switch, and a second plus
//     the switch at most; the games start at random moments between looks.
//
// BENCH_POLLS sets the number of timed looks (default 300), BENCH_RUNS the
// number of game starts (default 7).
#include "bench/BenchSupport.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "devices/ZudDeviceFactory.h"
#include "games/GameMatcher.h"
#include "games/GameRules.h"
#include "games/GameWatcher.h"
#include "games/ProcessSource.h"
#include "simulator/EmulatedRig.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

int fromEnvironment(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// 500 processes as /proc shows them: native programs, and games under Wine
// with their Windows path as the first argument.
bool layOutProcessTree(const QString &root, int count)
{
    for (int i = 0; i < count; ++i) {
        const int pid = 1000 + i;
        const QString folder = root + QStringLiteral("/%1").arg(pid);
        if (!QDir().mkpath(folder))
            return false;
        const bool wine = i % 10 == 0;
        const QByteArray name = "program-" + QByteArray::number(i);
        const QByteArray comm = wine ? "wine-app-" + QByteArray::number(i) : name;
        QByteArray stat = QByteArray::number(pid) + " (" + comm.left(15) + ") S 1 " +
                          QByteArray::number(pid) + " " + QByteArray::number(pid) + " 0 -1 4194560";
        for (int field = 0; field < 12; ++field)
            stat += " " + QByteArray::number(field * 7);
        stat += " 20 0 1 0 " + QByteArray::number(100000 + i * 37) +
                " 12345678 1234 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
        const QByteArray argv0 = wine ? "C:\\Program Files\\Vendor " + QByteArray::number(i) +
                                            "\\Bin64\\" + name + ".exe"
                                      : "/usr/bin/" + name;
        const QByteArray cmdline = argv0 + '\0' + "--option" + '\0' + "value" + '\0';
        if (!writeFile(folder + QStringLiteral("/stat"), stat) ||
            !writeFile(folder + QStringLiteral("/cmdline"), cmdline) ||
            !QFile::link(wine ? QStringLiteral("/usr/bin/wine64-preloader")
                              : QStringLiteral("/usr/bin/") + QString::fromLatin1(name),
                         folder + QStringLiteral("/exe")))
            return false;
    }
    return true;
}

GameRules benchRules(const QString &game, const QString &executable, const QString &profile,
                     const QString &defaultProfile)
{
    GameRules rules;
    rules.defaultProfile = defaultProfile;
    for (int i = 0; i < 19; ++i)
        rules.games.append({QStringLiteral("Game %1").arg(i),
                            QStringLiteral("NotRunningGame%1-Win64-Shipping.exe").arg(i),
                            QStringLiteral("Factory 1")});
    rules.games.append({game, executable, profile});
    return rules;
}

// Turns the event loop until done() holds or timeoutMs pass.
bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return true;
}

// CPU seconds of this thread per look, over polls looks.
double pollCost(GameWatcher &watcher, int polls)
{
    watcher.poll(); // the first look reads the rules
    const double start = bench::threadCpuSeconds();
    for (int i = 0; i < polls; ++i)
        watcher.poll();
    return (bench::threadCpuSeconds() - start) / polls;
}

bool measureCost(const QString &work, int polls)
{
    const QString root = work + QStringLiteral("/proc");
    const int processes = 500;
    if (!layOutProcessTree(root, processes)) {
        std::printf("  cannot lay out the process tree under %s\n", qPrintable(root));
        return false;
    }
    const QString rulesPath = work + QStringLiteral("/cost-games.json");
    QString error;
    if (!writeGameRulesFile(rulesPath,
                            benchRules(QStringLiteral("Unlisted"), QStringLiteral("unlisted.exe"),
                                       QStringLiteral("Factory 2"), QString()),
                            error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }
    UsbManager manager{createZudDevice};
    const auto measure = [&](ProcessSource &source, const char *what, int count) {
        GameWatcher watcher(manager, &source);
        watcher.setRulesPath(rulesPath);
        watcher.setLockPath(work + QStringLiteral("/cost-watcher.lock"));
        watcher.start();
        const double perPoll = pollCost(watcher, polls);
        watcher.stop();
        // One look a second: the share of one core is the seconds per look.
        std::printf("  %-34s %4d processes  %7.3f ms CPU per look  %6.3f %% of one core at "
                    "1 Hz\n",
                    what, count, perPoll * 1000.0, perPoll * 100.0);
        return perPoll;
    };
    ProcProcessSource fake(root);
    const double fakeCost = measure(fake, "process tree of 500 (20 rules)", processes);
    ProcProcessSource system;
    measure(system, "this machine's /proc (20 rules)", int(system.processes().size()));
    // The source keeps what it read of a process that shows the same first
    // argument again; a look at processes it has not seen (its first, or
    // 500 new processes at once) reads every one of them whole.
    GameRules rules;
    readGameRulesFile(rulesPath, rules, error);
    const int coldLooks = polls / 10 > 0 ? polls / 10 : 1;
    const double start = bench::threadCpuSeconds();
    for (int i = 0; i < coldLooks; ++i) {
        ProcProcessSource fresh(root);
        chooseProfile(rules, fresh.processes());
    }
    const double cold = (bench::threadCpuSeconds() - start) / coldLooks;
    std::printf("  %-34s %4d processes  %7.3f ms CPU per look  (the matching and a new "
                "source)\n",
                "500 processes never seen before", processes, cold * 1000.0);
    std::printf("  goal: under 0.2 %% of one core with 500 processes: %s\n",
                fakeCost * 100.0 < 0.2 ? "met" : "NOT MET");
    return fakeCost * 100.0 < 0.2;
}

bool measureLatency(const QString &work, int runs)
{
    const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    const QString game = work + QStringLiteral("/BenchRacer.exe");
    if (sleep.isEmpty() || !QFile::copy(sleep, game)) {
        std::printf("  cannot copy sleep to %s\n", qPrintable(game));
        return false;
    }
    const QString rulesPath = work + QStringLiteral("/latency-games.json");
    QString error;
    if (!writeGameRulesFile(rulesPath,
                            benchRules(QStringLiteral("Bench Racer"),
                                       QStringLiteral("BenchRacer.exe"),
                                       QStringLiteral("Factory 2"), QStringLiteral("Factory 0")),
                            error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }

    emu::EmulatedRig rig;
    UsbManager manager{createZudDevice};
    manager.start();
    manager.rescanForZudDevices();
    const auto hasWheelBase = [&] {
        for (UsbDevice *device : manager.getDevices())
            if (qobject_cast<UsbDeviceZudWheelBase *>(device))
                return true;
        return false;
    };
    if (!spinUntil(hasWheelBase, 10000)) {
        std::printf("  the emulated wheel base did not appear\n");
        return false;
    }
    const auto current = [&] {
        const auto wheelBase = rig.wheelBase();
        return wheelBase ? wheelBase->currentProfile() : -1;
    };
    GameWatcher watcher(manager);
    watcher.setRulesPath(rulesPath);
    watcher.setLockPath(work + QStringLiteral("/latency-watcher.lock"));
    watcher.start();

    std::vector<double> ms;
    bool complete = true;
    for (int run = 0; run < runs && complete; ++run) {
        // A game starts at any moment between two looks, not just after
        // one (which the switch back is).
        const int pauseMs = int(QRandomGenerator::global()->bounded(1000));
        spinUntil([] { return false; }, pauseMs);
        QProcess racer;
        const double start = bench::monotonicSeconds();
        racer.start(game, {QStringLiteral("60")});
        complete = racer.waitForStarted() && spinUntil([&] { return current() == 2; }, 30000);
        const double elapsed = bench::monotonicSeconds() - start;
        racer.kill();
        racer.waitForFinished();
        if (!complete)
            break;
        ms.push_back(elapsed * 1000.0);
        std::printf("  run %d: %.0f ms\n", run + 1, elapsed * 1000.0);
        // Back to the default profile before the next start.
        complete = spinUntil([&] { return current() == 0; }, 30000);
    }
    watcher.stop();
    manager.stop();
    if (!complete || ms.empty()) {
        std::printf("  the switch did not come (current profile %d)\n", current());
        return false;
    }
    const double median = bench::percentile(ms, 50);
    std::printf("  game start to new current profile: median %.0f ms  min %.0f ms  max %.0f ms "
                "over %zu runs\n",
                median, ms.front(), ms.back(), ms.size());
    std::printf("  goal: median under 2 s: %s\n", median < 2000.0 ? "met" : "NOT MET");
    return median < 2000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int polls = fromEnvironment("BENCH_POLLS", 300);
    const int runs = fromEnvironment("BENCH_RUNS", 7);
    QTemporaryDir work;
    if (!work.isValid()) {
        std::printf("bench_gamewatcher: no temporary folder\n");
        return 1;
    }
    std::printf("bench_gamewatcher: the game watcher's look at the processes (%d looks)\n", polls);
    const bool cost = measureCost(work.path(), polls);
    std::printf("bench_gamewatcher: game start to switched profile on the demo's wheel base\n");
    const bool latency = measureLatency(work.path(), runs);
    std::printf("  load average %.2f\n", bench::loadAverage());
    return cost && latency ? 0 : 1;
}
