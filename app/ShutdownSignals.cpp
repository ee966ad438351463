// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ShutdownSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int handled[3] = {SIGINT, SIGTERM, SIGHUP};
int pipeFds[2] = {-1, -1};
struct sigaction previous[3];

extern "C" void onShutdownSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = char(signalNumber);
    // A full pipe already holds enough wake-ups; the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent)
{
    if (pipeFds[0] >= 0)
        return; // another object has them
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ShutdownSignals::drain);
    struct sigaction action = {};
    action.sa_handler = onShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(handled[i], &action, &previous[i]);
}

void ShutdownSignals::restorePrevious()
{
    if (!notifier_ || restored_)
        return;
    for (int i = 0; i < 3; ++i)
        sigaction(handled[i], &previous[i], nullptr);
    restored_ = true;
}

ShutdownSignals::~ShutdownSignals()
{
    if (!notifier_)
        return;
    restorePrevious();
    notifier_.reset();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void ShutdownSignals::drain()
{
    char bytes[16];
    ssize_t got;
    while ((got = ::read(pipeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            emit received(int(bytes[i]));
    }
}

#else

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent) {}
ShutdownSignals::~ShutdownSignals() = default;
void ShutdownSignals::restorePrevious() {}
void ShutdownSignals::drain() {}

#endif
