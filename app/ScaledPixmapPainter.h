// SPDX-License-Identifier: GPL-3.0-or-later
// Paints the pixmap of a label that scales its contents in one bilinear pass
// straight onto the screen. A label scales each new pixmap with an
// area-averaging rescale of its own before painting it, which costs the
// rim view more than drawing the turned rim itself; for the rim's modest
// reduction (200 to 160 pixels) a bilinear pass looks the same.
#pragma once

#include <QObject>

class ScaledPixmapPainter : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
