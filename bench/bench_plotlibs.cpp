// SPDX-License-Identifier: GPL-3.0-or-later
// The two live-plotting libraries of Debian side by side, at the scope's
// worst load: a 30 s window of a kind 2 stream at 1000 reports/s (three
// channels of 11,000 samples a second, 330,000 points each, and the 1 kHz
// steering channel), on an 800 x 400 plot, shown (offscreen). Each frame
// appends one display frame's worth of samples (1/60 s), drops what left the
// window and redraws. Prints the CPU time per frame and the share of one
// core at 60 frames a second.
//
//     build/bench/bench_plotlibs [frames]
//     BENCH_PLOT_NO_AA=1 draws QCustomPlot without antialiasing, as the scope does
#include "BenchSupport.h"

#include <QApplication>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <qcustomplot.h>

#include <qwt/qwt_plot.h>
#include <qwt/qwt_plot_canvas.h>
#include <qwt/qwt_plot_curve.h>
#include <qwt/qwt_series_data.h>

namespace {

constexpr double windowSeconds = 30.0;
constexpr int torqueRate = 11000;
constexpr int steeringRate = 1000;
constexpr int frameRate = 60;

double torqueAt(double t, int channel)
{
    return 80.0 * std::sin(2 * M_PI * 0.7 * t + channel * 0.3) + 25.0 * std::sin(2 * M_PI * 13 * t);
}

struct Result {
    double setupSeconds;
    double perFrameMs;
};

// QCustomPlot: one QCPGraph per channel, samples appended in order (its
// data container keeps them sorted), adaptive sampling on (its default).
Result benchCustomPlot(int frames)
{
    QCustomPlot plot;
    plot.resize(800, 400);
    plot.legend->setVisible(true);
    plot.xAxis->setLabel(QStringLiteral("s"));
    plot.yAxis->setLabel(QStringLiteral("%"));
    plot.yAxis->setRange(-120, 120);
    QCPGraph *graphs[4];
    for (int c = 0; c < 4; ++c) {
        graphs[c] = plot.addGraph();
        graphs[c]->setPen(QPen(QColor::fromHsv(c * 80, 200, 200)));
    }
    if (qEnvironmentVariableIsSet("BENCH_PLOT_NO_AA"))
        plot.setNotAntialiasedElements(QCP::aeAll);
    plot.show();
    QApplication::processEvents();

    const double setupStart = bench::threadCpuSeconds();
    double t = 0;
    auto append = [&](double until) {
        const int firstTorque = int(std::ceil(t * torqueRate));
        const int lastTorque = int(until * torqueRate);
        for (int c = 0; c < 3; ++c) {
            QVector<QCPGraphData> data;
            data.reserve(lastTorque - firstTorque + 1);
            for (int i = firstTorque; i < lastTorque; ++i) {
                const double ti = double(i) / torqueRate;
                data.append({ti, torqueAt(ti, c)});
            }
            graphs[c]->data()->add(data, true);
        }
        QVector<QCPGraphData> steer;
        for (int i = int(std::ceil(t * steeringRate)); i < int(until * steeringRate); ++i)
            steer.append({double(i) / steeringRate, 50 * std::sin(double(i) / steeringRate)});
        graphs[3]->data()->add(steer, true);
        t = until;
        for (QCPGraph *g : graphs)
            g->data()->removeBefore(t - windowSeconds);
        plot.xAxis->setRange(t - windowSeconds, t);
    };
    append(windowSeconds);
    plot.replot();
    plot.repaint();
    const double setup = bench::threadCpuSeconds() - setupStart;

    const double start = bench::threadCpuSeconds();
    for (int f = 0; f < frames; ++f) {
        append(t + 1.0 / frameRate);
        plot.replot(QCustomPlot::rpImmediateRefresh);
        plot.repaint();
    }
    const Result result{setup, 1e3 * (bench::threadCpuSeconds() - start) / frames};
    if (qEnvironmentVariableIsSet("BENCH_PLOT_PICTURES"))
        plot.grab().save(QStringLiteral("bench_plot_qcustomplot.png"));
    return result;
}

// Qwt: one QwtPlotCurve per channel over contiguous arrays (raw samples,
// no copy per frame), with its point filter and polygon clipping on.
Result benchQwt(int frames)
{
    QwtPlot plot;
    plot.resize(800, 400);
    plot.setAxisTitle(QwtPlot::xBottom, QStringLiteral("s"));
    plot.setAxisTitle(QwtPlot::yLeft, QStringLiteral("%"));
    plot.setAxisScale(QwtPlot::yLeft, -120, 120);
    plot.setAutoReplot(false);
    QwtPlotCurve *curves[4];
    std::vector<double> xs[4], ys[4];
    size_t begin[4] = {0, 0, 0, 0};
    for (int c = 0; c < 4; ++c) {
        curves[c] = new QwtPlotCurve(QStringLiteral("channel %1").arg(c));
        curves[c]->setPen(QPen(QColor::fromHsv(c * 80, 200, 200)));
        curves[c]->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
        curves[c]->setPaintAttribute(QwtPlotCurve::ClipPolygons, true);
        curves[c]->attach(&plot);
        xs[c].reserve(2 * windowSeconds * torqueRate);
        ys[c].reserve(2 * windowSeconds * torqueRate);
    }
    plot.show();
    QApplication::processEvents();

    const double setupStart = bench::threadCpuSeconds();
    double t = 0;
    auto append = [&](double until) {
        const int firstTorque = int(std::ceil(t * torqueRate));
        const int lastTorque = int(until * torqueRate);
        for (int c = 0; c < 3; ++c)
            for (int i = firstTorque; i < lastTorque; ++i) {
                const double ti = double(i) / torqueRate;
                xs[c].push_back(ti);
                ys[c].push_back(torqueAt(ti, c));
            }
        for (int i = int(std::ceil(t * steeringRate)); i < int(until * steeringRate); ++i) {
            xs[3].push_back(double(i) / steeringRate);
            ys[3].push_back(50 * std::sin(double(i) / steeringRate));
        }
        t = until;
        for (int c = 0; c < 4; ++c) {
            while (begin[c] < xs[c].size() && xs[c][begin[c]] < t - windowSeconds)
                ++begin[c];
            if (begin[c] > xs[c].size() / 2) { // compact now and then
                xs[c].erase(xs[c].begin(), xs[c].begin() + long(begin[c]));
                ys[c].erase(ys[c].begin(), ys[c].begin() + long(begin[c]));
                begin[c] = 0;
            }
            curves[c]->setRawSamples(xs[c].data() + begin[c], ys[c].data() + begin[c],
                                     int(xs[c].size() - begin[c]));
        }
        plot.setAxisScale(QwtPlot::xBottom, t - windowSeconds, t);
    };
    append(windowSeconds);
    plot.replot();
    plot.canvas()->repaint();
    const double setup = bench::threadCpuSeconds() - setupStart;

    const double start = bench::threadCpuSeconds();
    for (int f = 0; f < frames; ++f) {
        append(t + 1.0 / frameRate);
        plot.replot();
        plot.canvas()->repaint();
    }
    const Result result{setup, 1e3 * (bench::threadCpuSeconds() - start) / frames};
    if (qEnvironmentVariableIsSet("BENCH_PLOT_PICTURES"))
        plot.grab().save(QStringLiteral("bench_plot_qwt.png"));
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    const int frames = argc > 1 ? std::atoi(argv[1]) : 120;
    QApplication application(argc, argv);

    std::printf("bench_plotlibs: 30 s window, 3 channels at 11 kHz + 1 at 1 kHz (%d points), "
                "800 x 400, %d frames, %s\n",
                int(windowSeconds * (3 * torqueRate + steeringRate)), frames,
                qPrintable(QGuiApplication::platformName()));
    const Result custom = benchCustomPlot(frames);
    std::printf("  QCustomPlot %s  first fill %.0f ms, per frame %.2f ms CPU = %.0f %% of a core "
                "at 60 frames/s\n",
                QCUSTOMPLOT_VERSION_STR, 1e3 * custom.setupSeconds, custom.perFrameMs,
                custom.perFrameMs * 60 / 10);
    const Result qwt = benchQwt(frames);
    std::printf("  Qwt %s          first fill %.0f ms, per frame %.2f ms CPU = %.0f %% of a core "
                "at 60 frames/s\n",
                QWT_VERSION_STR, 1e3 * qwt.setupSeconds, qwt.perFrameMs, qwt.perFrameMs * 60 / 10);
    return 0;
}
