// SPDX-License-Identifier: GPL-3.0-or-later
// Saves what an X display shows as a PNG, cut to the area that differs from
// the empty background: run under Xvfb beside a program whose window is to
// be pictured (make screenshot).
//
//     zud_grab_screen OUTPUT.png [DELAY_MS]
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

namespace {

// The smallest rectangle holding every pixel that differs from the colour of
// the bottom-right corner, which the window does not cover.
QRect contentRect(const QImage &image)
{
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == background)
                continue;
            left = qMin(left, x);
            right = qMax(right, x);
            top = qMin(top, y);
            bottom = qMax(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [DELAY_MS]\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 0;
    QThread::msleep(ulong(qMax(0, delayMs)));

    // The window may still be on its way: try for a few seconds.
    for (int attempt = 0; attempt < 50; ++attempt) {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        const QRect content = contentRect(shot);
        if (content.width() > 100 && content.height() > 100) {
            if (!shot.copy(content).save(output, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
                return 1;
            }
            std::printf("wrote %s (%dx%d)\n", qPrintable(output), content.width(),
                        content.height());
            return 0;
        }
        QThread::msleep(100);
    }
    std::fprintf(stderr, "nothing on the screen to save\n");
    return 1;
}
