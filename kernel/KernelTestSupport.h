// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the tests that run against kernel HID devices: the uhid
// emulator (zud_uhid) as a child process driven line by line, and the
// places of the programs under test.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QThread>

namespace ktest {

// A program beside the test executable, or where the environment variable
// names it.
inline QString programPath(const char *envName, const QString &besideTest)
{
    const QByteArray fromEnv = qgetenv(envName);
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    return QCoreApplication::applicationDirPath() + "/" + besideTest;
}

// Keeps the test's event loop turning while it waits for the emulator.
inline void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Waits, turning the event loop, until done() holds or timeoutMs passes.
template <typename Done> bool spinUntil(Done done, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// The uhid emulator. Every command gets one answer line; announcements
// ("plugged ...", "unplugged ...", "warning ...") are kept in events().
class Emulator {
public:
    ~Emulator() { stop(); }

    bool start()
    {
        process_.setProgram(programPath("ZUD_UHID", "zud_uhid"));
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000))
            return false;
        return !nextLine(30000).isNull() && last_ == "ready";
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel(); // the emulator ends at the end of its input
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    // Sends one command and returns its answer ("ok ..." or "error ..."),
    // or a null string when the emulator did not answer in time.
    QString command(const QString &line, int timeoutMs = 60000)
    {
        process_.write((line + "\n").toUtf8());
        process_.waitForBytesWritten(1000);
        for (;;) {
            const QString reply = nextLine(timeoutMs);
            if (reply.isNull())
                return reply;
            if (reply == "ok" || reply.startsWith("ok ") || reply.startsWith("error"))
                return reply;
        }
    }

    // "plug ..." and "replug ...": the new device's tag, or -1.
    int plug(const QString &line)
    {
        const QString reply = command(line);
        if (!reply.startsWith("ok "))
            return -1;
        bool ok = false;
        const int tag = reply.mid(3).toInt(&ok);
        return ok ? tag : -1;
    }

    // The value of name=value in the answer to "stats <tag>", or -1.
    long long stat(int tag, const QString &name)
    {
        const QString reply = command(QString("stats %1").arg(tag));
        for (const QString &field : reply.split(' ')) {
            if (field.startsWith(name + "="))
                return field.mid(name.size() + 1).toLongLong();
        }
        return -1;
    }

    // Waits for an announcement starting with prefix that has not been
    // taken yet; returns it, or a null string after timeoutMs.
    QString takeEvent(const QString &prefix, int timeoutMs = 30000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (int i = 0; i < events_.size(); ++i) {
                if (events_[i].startsWith(prefix))
                    return events_.takeAt(i);
            }
            const int left = timeoutMs - int(t.elapsed());
            if (left <= 0 || nextLine(left).isNull())
                return QString();
        }
    }

    QStringList events() const { return events_; }

private:
    // Reads the next line, keeping announcements; null after timeoutMs.
    QString nextLine(int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine()) {
            if (t.elapsed() > timeoutMs || process_.state() == QProcess::NotRunning)
                return QString();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            process_.waitForReadyRead(5);
        }
        last_ = QString::fromUtf8(process_.readLine()).trimmed();
        if (last_.startsWith("plugged") || last_.startsWith("unplugged") ||
            last_.startsWith("warning"))
            events_ << last_;
        return last_;
    }

    QProcess process_;
    QString last_;
    QStringList events_;
};

} // namespace ktest
