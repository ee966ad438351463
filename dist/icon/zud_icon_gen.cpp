// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the application icon, a steering wheel rim with three spokes on a
// rounded dark tile, from one list of shapes into both forms the desktop
// needs: a scalable SVG and PNGs in the hicolor sizes. Run by the build:
//
//   zud_icon_gen <icon theme dir> <icon name> <size>...
//
// writes <dir>/hicolor/scalable/apps/<name>.svg and
// <dir>/hicolor/<size>x<size>/apps/<name>.png for every size.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QTextStream>
#include <cstdio>
#include <vector>

namespace {

// The drawing is laid out on a 256 x 256 grid.
constexpr double kGrid = 256.0;

struct Shape {
    enum Kind { RoundedRect, Disc, Ring } kind;
    double x, y, w, h; // bounding box on the grid; for Disc and Ring the centre and radius
    double radius;     // corner radius (RoundedRect) or stroke width (Ring)
    const char *colour;
};

const char *const kTile = "#263238";
const char *const kRim = "#eceff1";
const char *const kAccent = "#ff5722";

const std::vector<Shape> &shapes()
{
    static const std::vector<Shape> list = {
        {Shape::RoundedRect, 8, 8, 240, 240, 52, kTile},
        // The rim: a ring between radius 72 and 96.
        {Shape::Ring, 128, 128, 84, 84, 24, kRim},
        // The centre mark at twelve o'clock, on the rim.
        {Shape::RoundedRect, 117, 30, 22, 28, 4, kAccent},
        // Spokes at nine, three and six o'clock, from the rim to the hub.
        {Shape::RoundedRect, 52, 117, 60, 22, 4, kRim},
        {Shape::RoundedRect, 144, 117, 60, 22, 4, kRim},
        {Shape::RoundedRect, 117, 144, 22, 60, 4, kRim},
        {Shape::Disc, 128, 128, 32, 32, 0, kRim},
        {Shape::Disc, 128, 128, 14, 14, 0, kAccent},
    };
    return list;
}

QString svg()
{
    QString out;
    QTextStream s(&out);
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kGrid << "\" height=\"" << kGrid
      << "\" viewBox=\"0 0 " << kGrid << ' ' << kGrid << "\">\n";
    for (const Shape &shape : shapes()) {
        switch (shape.kind) {
        case Shape::RoundedRect:
            s << "  <rect x=\"" << shape.x << "\" y=\"" << shape.y << "\" width=\"" << shape.w
              << "\" height=\"" << shape.h << "\" rx=\"" << shape.radius << "\" fill=\""
              << shape.colour << "\"/>\n";
            break;
        case Shape::Disc:
            s << "  <circle cx=\"" << shape.x << "\" cy=\"" << shape.y << "\" r=\"" << shape.w
              << "\" fill=\"" << shape.colour << "\"/>\n";
            break;
        case Shape::Ring:
            s << "  <circle cx=\"" << shape.x << "\" cy=\"" << shape.y << "\" r=\"" << shape.w
              << "\" fill=\"none\" stroke=\"" << shape.colour << "\" stroke-width=\""
              << shape.radius << "\"/>\n";
            break;
        }
    }
    s << "</svg>\n";
    return out;
}

QImage png(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    for (const Shape &shape : shapes()) {
        const QColor colour(shape.colour);
        switch (shape.kind) {
        case Shape::RoundedRect:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(shape.x, shape.y, shape.w, shape.h), shape.radius,
                              shape.radius);
            break;
        case Shape::Disc:
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawEllipse(QPointF(shape.x, shape.y), shape.w, shape.h);
            break;
        case Shape::Ring:
            p.setPen(QPen(colour, shape.radius));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(shape.x, shape.y), shape.w, shape.h);
            break;
        }
    }
    p.end();
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <icon theme dir> <icon name> <size>...\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/");
    const QString name = QString::fromLocal8Bit(argv[2]);

    const QString scalable = root + QStringLiteral("scalable/apps");
    if (!QDir().mkpath(scalable) || !writeFile(scalable + '/' + name + ".svg", svg().toUtf8())) {
        std::fprintf(stderr, "cannot write the SVG icon under %s\n", qPrintable(scalable));
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = root + QStringLiteral("%1x%1/apps").arg(size);
        if (!QDir().mkpath(dir) || !png(size).save(dir + '/' + name + ".png", "PNG")) {
            std::fprintf(stderr, "cannot write the %dpx icon under %s\n", size, qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
