// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that ask a program to end (SIGINT from Ctrl-C in the
// launching terminal, SIGHUP when that terminal closes or the user logs out,
// SIGTERM from `kill` or the session) as an event: while an object lives,
// they no longer end the process at once; each is announced by received()
// from the event loop, so that the program can end the way it ends by
// itself. The handler only writes the signal's number into a pipe, which is
// all a handler may safely do; a socket notifier on the other end turns it
// into the Qt signal. One object at a time; without POSIX signals it is
// inert.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

class ShutdownSignals : public QObject {
    Q_OBJECT

public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    // Gives the signals back their earlier handling.
    ~ShutdownSignals() override;

    bool isActive() const { return notifier_ != nullptr; }
    // Gives the signals back their earlier handling (for an interactive
    // program: ending it at once), so that a second Ctrl-C ends a program
    // whose orderly end hangs.
    void restorePrevious();

signals:
    void received(int signalNumber);

private slots:
    void drain();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    bool restored_ = false;
};
