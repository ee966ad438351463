// Ctrl-C as an event: while a watcher lives, SIGINT (and SIGTERM) no longer
// end the process; each one is counted and announced by interrupted() from
// the event loop. The signal handler only writes one byte into a pipe, which
// is all a handler may safely do; a socket notifier on the pipe's other end
// turns the byte into the signal. One watcher at a time.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

class InterruptWatcher : public QObject {
    Q_OBJECT

public:
    InterruptWatcher();
    ~InterruptWatcher() override;

    bool isActive() const { return notifier_ != nullptr; }
    int count() const { return count_; }

signals:
    void interrupted(int count);

private slots:
    void drain();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction oldInt_ = {};
    struct sigaction oldTerm_ = {};
    int count_ = 0;
};
