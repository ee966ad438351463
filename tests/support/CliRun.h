// SPDX-License-Identifier: GPL-3.0-or-later
// zud-wheel run in-process through its entry function, with standard output
// and standard error captured.
#pragma once

#include "cli/ZudWheelMain.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

// out: where standard output goes instead of a buffer.
inline CliRun runCli(const QStringList &arguments, QIODevice *out = nullptr)
{
    QList<QByteArray> bytes{QByteArrayLiteral("zud-wheel")};
    for (const QString &argument : arguments)
        bytes.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QBuffer outBuffer;
    QBuffer err;
    outBuffer.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliRun run;
    run.status = zudWheelMain(int(bytes.size()), argv.data(), out ? *out : outBuffer, err, false);
    run.out = QString::fromUtf8(outBuffer.data());
    run.err = QString::fromUtf8(err.data());
    return run;
}
