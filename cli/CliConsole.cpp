#include "cli/CliConsole.h"

#include <QFileDevice>

void CliConsole::write(QIODevice &device, const QByteArray &bytes)
{
    device.write(bytes);
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        file->flush();
}
