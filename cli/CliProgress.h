// SPDX-License-Identifier: GPL-3.0-or-later
// Progress of a long transfer on standard error: on a terminal a bar redrawn
// in place with the percentage, the rate and the time left; otherwise (a log
// file, a pipe) one line per tenth, so that logs stay readable.
#pragma once

#include "cli/CliConsole.h"

#include <QElapsedTimer>
#include <QString>

class CliProgress {
public:
    CliProgress(CliConsole &console, QString label, QString unit);

    void start(int total);
    void update(int done);
    // Ends the bar's line on a terminal; nothing otherwise.
    void finish();

    // The bar's text for done of total after elapsedMs, without the leading
    // carriage return; the rate and the time left only once they can be told.
    static QString barText(const QString &label, const QString &unit, int done, int total,
                           qint64 elapsedMs);

private:
    void draw(int done);

    CliConsole &console_;
    QString label_;
    QString unit_;
    int total_ = 0;
    int lastTenth_ = -1;
    qint64 lastDrawMs_ = -1;
    int lastDone_ = 0;
    bool drawn_ = false;
    QElapsedTimer clock_;
};
