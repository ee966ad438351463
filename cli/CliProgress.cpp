// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliProgress.h"

namespace {
constexpr int barWidth = 30;
// A terminal bar is redrawn at most this often, and at the end.
constexpr qint64 redrawIntervalMs = 100;

QString duration(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CliProgress::CliProgress(CliConsole &console, QString label, QString unit)
    : console_(console), label_(std::move(label)), unit_(std::move(unit))
{
}

void CliProgress::start(int total)
{
    total_ = total;
    lastTenth_ = -1;
    lastDrawMs_ = -1;
    drawn_ = false;
    clock_.start();
    update(0);
}

QString CliProgress::barText(const QString &label, const QString &unit, int done, int total,
                             qint64 elapsedMs)
{
    const double fraction = total > 0 ? double(done) / total : 1.0;
    const int filled = int(fraction * barWidth);
    QString text = QStringLiteral("%1 [%2%3] %4 %")
                       .arg(label, QString(filled, QLatin1Char('#')),
                            QString(barWidth - filled, QLatin1Char('.')))
                       .arg(int(fraction * 100), 3);
    if (done > 0 && elapsedMs > 0) {
        const double rate = done * 1000.0 / elapsedMs;
        text += QStringLiteral("  %1 %2/s").arg(qRound(rate)).arg(unit);
        if (done < total)
            text += QStringLiteral("  %1 left").arg(duration(qint64((total - done) / rate + 0.5)));
    }
    return text;
}

void CliProgress::update(int done)
{
    lastDone_ = done;
    if (console_.errIsTerminal()) {
        const qint64 now = clock_.elapsed();
        if (drawn_ && done < total_ && now - lastDrawMs_ < redrawIntervalMs)
            return;
        lastDrawMs_ = now;
        draw(done);
        return;
    }
    const int tenth = total_ > 0 ? int(qint64(done) * 10 / total_) : 10;
    if (tenth == lastTenth_)
        return;
    lastTenth_ = tenth;
    console_.err(QStringLiteral("%1: %2 % (%3 of %4 %5)")
                     .arg(label_)
                     .arg(tenth * 10)
                     .arg(done)
                     .arg(total_)
                     .arg(unit_));
}

void CliProgress::draw(int done)
{
    // Padded so that a shorter text covers the end of a longer one.
    console_.errRaw(QLatin1Char('\r') +
                    barText(label_, unit_, done, total_, clock_.elapsed()).leftJustified(79));
    drawn_ = true;
}

void CliProgress::finish()
{
    if (console_.errIsTerminal() && drawn_) {
        draw(lastDone_);
        console_.errRaw(QStringLiteral("\n"));
        drawn_ = false;
    }
}
