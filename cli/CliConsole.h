// SPDX-License-Identifier: GPL-3.0-or-later
// Where the command line writes: results to standard output, progress and
// messages to standard error. Tests hand in buffers instead of the streams.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// The exit statuses of zud-wheel.
namespace CliExit {
constexpr int done = 0;
constexpr int noDevice = 1;
constexpr int usage = 2;
constexpr int deviceFailed = 3;
constexpr int fileError = 4;
} // namespace CliExit

// Text from a device (product strings, serial numbers) as a terminal may
// show it: control characters are written as escapes (\n, \r, \t, \x1b,
// ...), so that they can neither fake a line nor reach the terminal.
QString printableText(const QString &text);

class CliConsole {
public:
    CliConsole(QIODevice &out, QIODevice &err, bool errIsTerminal)
        : out_(out), err_(err), errIsTerminal_(errIsTerminal)
    {
    }

    // One line (a line end is added) on standard output or standard error.
    void out(const QString &line) { outRaw((line + QLatin1Char('\n')).toUtf8()); }
    void err(const QString &line) { write(err_, (line + QLatin1Char('\n')).toUtf8()); }
    // Text as it stands, for progress bars redrawn in place.
    void errRaw(const QString &text) { write(err_, text.toUtf8()); }
    void outRaw(const QByteArray &bytes)
    {
        if (!write(out_, bytes) && outError_.isEmpty())
            outError_ = out_.errorString();
    }
    bool errIsTerminal() const { return errIsTerminal_; }
    // Why a result could not be written to standard output (a full disk, a
    // closed pipe), or empty when all went out.
    QString outError() const { return outError_; }

private:
    static bool write(QIODevice &device, const QByteArray &bytes);

    QIODevice &out_;
    QIODevice &err_;
    bool errIsTerminal_;
    QString outError_;
};
