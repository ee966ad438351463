// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TransferEstimate.h"

#include <QCoreApplication>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ZUD_wheel_tool", text);
}

// Whole seconds, rounded up, as m:ss or h:mm:ss.
QString durationText(double seconds)
{
    const qint64 total = qint64(std::ceil(seconds));
    const qint64 h = total / 3600, m = total / 60 % 60, s = total % 60;
    const QChar zero(QLatin1Char('0'));
    if (h)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, zero).arg(s, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, zero);
}

} // namespace

QString firmwareProgressFormat(int done, int total, qint64 elapsedMs)
{
    const QString count = tr("%v of %m chunks");
    if (done <= 0 || elapsedMs <= 0)
        return count;
    const double rate = done * 1000.0 / double(elapsedMs);
    const QString rateText =
        rate < 10 ? QString::number(rate, 'f', 1) : QString::number(qRound(rate));
    const double left = done >= total ? 0.0 : (total - done) / rate;
    return tr("%1, %2 chunks/s, %3 left").arg(count, rateText, durationText(left));
}
