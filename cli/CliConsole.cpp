// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliConsole.h"

#include <QFileDevice>

QString printableText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control) {
            result.append(c);
            continue;
        }
        switch (c.unicode()) {
        case '\n':
            result.append(QLatin1String("\\n"));
            break;
        case '\r':
            result.append(QLatin1String("\\r"));
            break;
        case '\t':
            result.append(QLatin1String("\\t"));
            break;
        default:
            // Every control character is below U+00A0.
            result.append(QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')));
        }
    }
    return result;
}

bool CliConsole::write(QIODevice &device, const QByteArray &bytes)
{
    bool written = device.write(bytes) == bytes.size();
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        written = file->flush() && written;
    return written;
}
