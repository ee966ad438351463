// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ScaledPixmapPainter.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

bool ScaledPixmapPainter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Paint)
        return false;
    auto *label = qobject_cast<QLabel *>(watched);
    if (!label || !label->hasScaledContents() || label->frameWidth() != 0)
        return false;
    const QPixmap pixmap = label->pixmap(Qt::ReturnByValue);
    if (pixmap.isNull())
        return false;
    QPainter painter(label);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawPixmap(label->contentsRect(), pixmap);
    return true;
}
