// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the rim picture that the main window shows and turns: a 200 x 200
// RGBA image of a three-spoke steering wheel seen from the driver's seat,
// with a bright band at the top centre of the rim so that a turn of a few
// degrees is easy to see. Run it to regenerate rim.png:
//     make rim
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <cstdio>

namespace {

constexpr int imageSize = 200;
constexpr QPointF centre(imageSize / 2.0, imageSize / 2.0);
constexpr qreal rimOuter = 96.0;
constexpr qreal rimInner = 78.0;
constexpr qreal hubRadius = 27.0;

QPainterPath ring(qreal outer, qreal inner)
{
    QPainterPath path;
    path.addEllipse(centre, outer, outer);
    path.addEllipse(centre, inner, inner);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

// A spoke from the hub to the rim along the given direction (degrees,
// 0 = right, clockwise), tapering from the hub outwards.
QPainterPath spoke(qreal directionDeg, qreal hubWidth, qreal rimWidth)
{
    QPainterPath path;
    path.moveTo(0, -hubWidth / 2);
    path.lineTo(rimInner + 4, -rimWidth / 2);
    path.lineTo(rimInner + 4, rimWidth / 2);
    path.lineTo(0, hubWidth / 2);
    path.closeSubpath();
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.rotate(directionDeg);
    return transform.map(path);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("rim.png");

    QImage image(imageSize, imageSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // Spokes and their shadow first, so that the rim and the hub cover their ends.
    const QColor spokeColour(70, 74, 80);
    QPainterPath spokes = spoke(0, 30, 18).united(spoke(180, 30, 18)).united(spoke(90, 26, 16));
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawPath(spokes.translated(1.5, 2.0));
    painter.setBrush(spokeColour);
    painter.drawPath(spokes);
    painter.setPen(QPen(QColor(110, 116, 124), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(spokes);
    painter.setPen(Qt::NoPen);

    // The rim: a dark grip with a soft highlight towards the top left.
    QRadialGradient grip(centre, rimOuter, centre + QPointF(-30, -40));
    grip.setColorAt(0.0, QColor(95, 95, 100));
    grip.setColorAt(0.75, QColor(45, 45, 50));
    grip.setColorAt(1.0, QColor(20, 20, 24));
    painter.setBrush(QColor(0, 0, 0, 80));
    painter.drawPath(ring(rimOuter, rimInner).translated(1.5, 2.0));
    painter.setBrush(grip);
    painter.drawPath(ring(rimOuter, rimInner));

    // Stitching lines along the middle of the grip.
    QPen stitch(QColor(150, 150, 155, 160), 1.0, Qt::DashLine);
    painter.setPen(stitch);
    painter.setBrush(Qt::NoBrush);
    const qreal middle = (rimOuter + rimInner) / 2;
    painter.drawEllipse(centre, middle, middle);
    painter.setPen(Qt::NoPen);

    // The top-centre mark: a bright band across the whole grip at 12 o'clock.
    QPainterPath band;
    const qreal halfSpanDeg = 4.5;
    band.arcMoveTo(QRectF(centre.x() - rimOuter - 1, centre.y() - rimOuter - 1, 2 * rimOuter + 2,
                          2 * rimOuter + 2),
                   90 - halfSpanDeg);
    band.arcTo(QRectF(centre.x() - rimOuter - 1, centre.y() - rimOuter - 1, 2 * rimOuter + 2,
                      2 * rimOuter + 2),
               90 - halfSpanDeg, 2 * halfSpanDeg);
    band.arcTo(QRectF(centre.x() - rimInner + 1, centre.y() - rimInner + 1, 2 * rimInner - 2,
                      2 * rimInner - 2),
               90 + halfSpanDeg, -2 * halfSpanDeg);
    band.closeSubpath();
    painter.setBrush(QColor(235, 60, 35));
    painter.drawPath(band);

    // The hub with its centre cap.
    QRadialGradient hub(centre, hubRadius, centre + QPointF(-8, -10));
    hub.setColorAt(0.0, QColor(120, 124, 130));
    hub.setColorAt(1.0, QColor(40, 42, 46));
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawEllipse(centre + QPointF(1.5, 2.0), hubRadius, hubRadius);
    painter.setBrush(hub);
    painter.drawEllipse(centre, hubRadius, hubRadius);
    painter.setBrush(QColor(235, 60, 35));
    painter.drawEllipse(centre, 7.0, 7.0);
    painter.end();

    if (!image.save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}
