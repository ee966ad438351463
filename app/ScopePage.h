// SPDX-License-Identifier: GPL-3.0-or-later
// The "Scope" page: a live plot of every sample the telemetry recorder
// keeps for the kind of update the wheel base sends, over a chosen time
// window, with pause, the output's clipping share, channel toggles, a
// picture and a CSV export of what is shown, and the step test.
#pragma once

#include "app/StepTest.h"
#include "livedata/ScopeTrace.h"
#include "livedata/TelemetryRecorder.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QCPGraph;
class QCPLayer;
class QCustomPlot;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class UsbDeviceZudWheelBase;

class ScopePage : public QWidget {
    Q_OBJECT

public:
    // Redraws per second while the page is shown: half a display's 60 Hz,
    // smooth for a scrolling trace at half the cost of every refresh.
    static constexpr int framesPerSecond = 30;
    // The clipping share looks back this far.
    static constexpr double clippingSeconds = 10.0;

    explicit ScopePage(const TelemetryRecorder &recorder, QWidget *parent = nullptr);
    ~ScopePage() override;

    // The wheel base that is selected (null: none); set while it exists,
    // cleared before it may be deleted. A new device starts a new picture.
    void setWheelBase(UsbDeviceZudWheelBase *wheelBase);

    StepTest &stepTest() { return stepTest_; }
    bool isPaused() const { return paused_; }
    // The visible time window in seconds.
    double windowSeconds() const;
    // Frames drawn so far (for benchmarks).
    quint64 framesDrawn() const { return frames_; }

    // The visible window as CSV: "Time s,Channel,Value" rows, CR LF.
    QByteArray visibleCsv() const;
    // The clipping label's text for a share and a peak.
    static QString clippingText(const TelemetryClipping &clipping, bool hasOutput);
    // How much wider and taller the page would have to be to show its
    // controls, legend and plot without scrolling (zero when it fits).
    QSize shortfall() const;

signals:
    // A short note for the window's status bar.
    void statusMessage(const QString &text);

public slots:
    // Takes the newest samples into the plot and redraws it.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_pushButton_ScopePause_clicked();
    void on_comboBox_ScopeWindow_currentIndexChanged(int index);
    void on_pushButton_TestForce_clicked();
    void on_pushButton_ScopeSavePicture_clicked();
    void on_pushButton_ScopeExportCsv_clicked();

private:
    void setPaused(bool paused);
    void showKind(int kind);
    void clearChannel(int channel);
    void clearChannels();
    // Takes the channel's samples from..until into its trace and graph.
    void syncGraph(int channel, double from, double until);
    // Draws the window that ends at latest (recorder time).
    void draw(double latest);
    void updateClipping();
    void updateControls();

    const TelemetryRecorder &recorder_;
    StepTest stepTest_;
    QCustomPlot *plot_;
    QComboBox *window_;
    QPushButton *pause_;
    QLabel *clipping_;
    QSpinBox *testForce_;
    QSpinBox *testDuration_;
    QPushButton *testButton_;
    QCheckBox *toggles_[telemetryChannelCount];
    QGridLayout *toggleGrid_;
    QCPGraph *graphs_[telemetryChannelCount];
    // Per channel: the samples of the window and the envelope drawn, and the
    // time up to which the graph holds the envelope's settled points.
    ScopeTrace traces_[telemetryChannelCount];
    double handedOver_[telemetryChannelCount];
    QTimer frameTimer_;
    QElapsedTimer clippingClock_;
    bool paused_ = false;
    // The end of the window drawn last.
    double shownLatest_ = 0;
    int shownKind_ = -1;
    // Recorder reports at the last frame; fewer means it started over.
    uint64_t seenReports_ = 0;
    quint64 frames_ = 0;
    // The layer of the curves, the grid and the axes; whether the next frame
    // lays the plot out and draws it whole.
    QCPLayer *curvesLayer_ = nullptr;
    bool layoutDue_ = true;
    QScrollArea *scroll_ = nullptr;
};
