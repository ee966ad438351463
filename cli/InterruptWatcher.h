// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C as an event: while a watcher lives, SIGINT, SIGTERM and SIGHUP (a
// closed terminal, a logout) no longer end the process; each one is counted
// and announced by interrupted() from the event loop, so that a command
// stops the way it stops on Ctrl-C: a log keeps its file, an update says
// what state the device is in. The signal handler only writes the signal's
// number into a pipe, which is all a handler may safely do; a socket
// notifier on the pipe's other end turns it into the signal. One watcher at
// a time.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <csignal>
#include <memory>

class InterruptWatcher : public QObject {
    Q_OBJECT

public:
    InterruptWatcher();
    ~InterruptWatcher() override;

    bool isActive() const { return notifier_ != nullptr; }
    int count() const { return count_; }
    // What the last one was, for messages: "Ctrl-C", "SIGTERM" or "SIGHUP".
    QString cause() const;

signals:
    void interrupted(int count);

private slots:
    void drain();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ = {};
    struct sigaction oldTerm_ = {};
    struct sigaction oldHup_ = {};
    int count_ = 0;
    int lastSignal_ = SIGINT;
};
