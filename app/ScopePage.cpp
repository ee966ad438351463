// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ScopePage.h"

#include "app/NonBlockingBox.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "livedata/CsvLog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include <qcustomplot.h>

namespace {

const double windowChoices[] = {1.0, 5.0, 30.0};
constexpr int defaultWindow = 1; // 5 s
constexpr int togglesPerRow = 4;
// The y axes are fitted to the data this often (frames): fitting looks at
// every visible sample.
constexpr int framesPerRescale = 10;
constexpr int clippingUpdateMs = 250;
// Envelope buckets per window at the least.
constexpr int minimumColumns = 200;

// Angles go on the right axis, everything else on the left one.
bool onRightAxis(TelemetryChannel c)
{
    return c == TelemetryChannel::Steering || c == TelemetryChannel::MotorAngle ||
           c == TelemetryChannel::MechAngle || c == TelemetryChannel::ElAngle;
}

// Each channel's line. The colours are the Okabe-Ito palette, which people
// with the common colour-vision deficiencies tell apart; channels that
// usually lie on top of each other (a torque asked for, sent and measured)
// differ in their dashes as well, and so do the Hall inputs from the PWM
// outputs of the same phase.
QPen channelPen(TelemetryChannel c)
{
    const QColor black(0, 0, 0), orange(230, 159, 0), skyBlue(86, 180, 233),
        bluishGreen(0, 158, 115), blue(0, 114, 178), vermillion(213, 94, 0),
        reddishPurple(204, 121, 167);
    const auto pen = [](const QColor &color, Qt::PenStyle style) {
        QPen p(color);
        p.setStyle(style);
        return p;
    };
    switch (c) {
    case TelemetryChannel::Steering:
        return pen(black, Qt::SolidLine);
    case TelemetryChannel::FfbIn:
    case TelemetryChannel::TorqueIn:
    case TelemetryChannel::MechAngle:
        return pen(blue, Qt::SolidLine);
    case TelemetryChannel::FfbOut:
    case TelemetryChannel::TorqueOut:
        return pen(vermillion, Qt::DashLine);
    case TelemetryChannel::TorqueActual:
        return pen(orange, Qt::DotLine);
    case TelemetryChannel::MotorAngle:
    case TelemetryChannel::RotorPos:
        return pen(bluishGreen, Qt::SolidLine);
    case TelemetryChannel::ElAngle:
        return pen(vermillion, Qt::DashDotLine);
    case TelemetryChannel::PwmU:
        return pen(orange, Qt::SolidLine);
    case TelemetryChannel::PwmV:
        return pen(skyBlue, Qt::SolidLine);
    case TelemetryChannel::PwmW:
        return pen(reddishPurple, Qt::SolidLine);
    case TelemetryChannel::HallU:
        return pen(orange, Qt::DashLine);
    case TelemetryChannel::HallV:
        return pen(skyBlue, Qt::DashLine);
    case TelemetryChannel::HallW:
        return pen(reddishPurple, Qt::DashLine);
    case TelemetryChannel::HallPsu:
        return pen(bluishGreen, Qt::DashDotLine);
    }
    return pen(black, Qt::SolidLine);
}

} // namespace

ScopePage::ScopePage(const TelemetryRecorder &recorder, QWidget *parent)
    : QWidget(parent), recorder_(recorder)
{
    // The page scrolls when the window is small, so that the window keeps
    // the minimum size it has without the scope.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll_ = scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    auto *layout = new QVBoxLayout(content);

    auto *top = new QHBoxLayout;
    window_ = new QComboBox(this);
    window_->setObjectName(QStringLiteral("comboBox_ScopeWindow"));
    for (double seconds : windowChoices)
        window_->addItem(tr("%1 s").arg(seconds));
    window_->setCurrentIndex(defaultWindow);
    pause_ = new QPushButton(tr("Pause"), this);
    pause_->setObjectName(QStringLiteral("pushButton_ScopePause"));
    clipping_ = new QLabel(this);
    clipping_->setObjectName(QStringLiteral("label_ScopeClipping"));
    // A fixed width: a new text does not lay the page out again.
    const QFontMetrics metrics = clipping_->fontMetrics();
    clipping_->setFixedSize(
        metrics.horizontalAdvance(QStringLiteral("Clipping: 100.0 %, peak 327.68 %")) + 8,
        metrics.height() + 4);
    auto *savePicture = new QPushButton(tr("Save Picture…"), this);
    savePicture->setObjectName(QStringLiteral("pushButton_ScopeSavePicture"));
    auto *exportCsv = new QPushButton(tr("Export CSV…"), this);
    exportCsv->setObjectName(QStringLiteral("pushButton_ScopeExportCsv"));
    top->addWidget(window_);
    top->addWidget(pause_);
    top->addStretch(1);
    top->addWidget(savePicture);
    top->addWidget(exportCsv);
    layout->addLayout(top);
    layout->addWidget(clipping_);

    plot_ = new QCustomPlot(this);
    plot_->setObjectName(QStringLiteral("plot_Scope"));
    plot_->setMinimumSize(300, 180);
    plot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Thousands of samples per pixel column: antialiasing would only cost.
    plot_->setNotAntialiasedElements(QCP::aeAll);
    plot_->setNoAntialiasingOnDrag(true);
    plot_->xAxis->setLabel(tr("Time (s)"));
    plot_->yAxis2->setVisible(true);
    // The legend in a row of its own above the curves, which it would hide.
    plot_->legend->setVisible(true);
    // Names and numbers need no shaping; laid out 30 times a second, they
    // skip the text shaper.
    QFont plainFont = font();
    plainFont.setStyleStrategy(QFont::PreferNoShaping);
    for (QCPAxis *axis : {plot_->xAxis, plot_->yAxis, plot_->xAxis2, plot_->yAxis2}) {
        axis->setLabelFont(plainFont);
        axis->setTickLabelFont(plainFont);
    }
    plot_->legend->setFont(plainFont);
    plot_->legend->setBorderPen(Qt::NoPen);
    plot_->legend->setWrap(3);
    plot_->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot_->axisRect()->insetLayout()->take(plot_->legend);
    plot_->plotLayout()->insertRow(0);
    plot_->plotLayout()->addElement(0, 0, plot_->legend);
    plot_->plotLayout()->setRowStretchFactor(0, 0.001);
    layout->addWidget(plot_, 1);

    // A frame moves the time axis and the curves only. They are drawn, with
    // the grid and the axes, on a layer of their own, so that most frames
    // redraw that layer alone; the legend and the plot's layout change with
    // the channels shown and the axes' scale, and are drawn then. The grids
    // go below the curves (added after them), the axes above. With "main"
    // at the bottom the other layers share one buffer, so that the picture
    // is still put together from two.
    curvesLayer_ = plot_->layer(QStringLiteral("main"));
    for (QCPAxis *axis : {plot_->xAxis, plot_->yAxis, plot_->xAxis2, plot_->yAxis2})
        axis->grid()->setLayer(curvesLayer_);
    auto *toggles = new QGridLayout;
    toggleGrid_ = toggles;
    for (int c = 0; c < telemetryChannelCount; ++c) {
        const auto channel = TelemetryChannel(c);
        QCPGraph *graph =
            plot_->addGraph(plot_->xAxis, onRightAxis(channel) ? plot_->yAxis2 : plot_->yAxis);
        // Units are on the axes.
        graph->setName(QString::fromLatin1(telemetryChannelInfo(channel).name));
        graph->setPen(channelPen(channel));
        graph->setVisible(false);
        graph->removeFromLegend();
        graphs_[c] = graph;

        auto *toggle = new QCheckBox(QString::fromLatin1(telemetryChannelInfo(channel).name), this);
        toggle->setObjectName(
            QStringLiteral("checkBox_Scope") +
            QString::fromLatin1(telemetryChannelInfo(channel).name).remove(QLatin1Char(' ')));
        toggle->setChecked(true);
        toggle->setVisible(false);
        connect(toggle, &QCheckBox::toggled, this, [this, c](bool on) {
            graphs_[c]->setVisible(on);
            if (on)
                graphs_[c]->addToLegend();
            else
                graphs_[c]->removeFromLegend();
            clearChannel(c);
            if (paused_)
                draw(shownLatest_);
            else
                refresh();
        });
        toggles_[c] = toggle;
        toggles->addWidget(toggle, c / togglesPerRow, c % togglesPerRow);
    }
    layout->addLayout(toggles);
    for (QCPAxis *axis : {plot_->xAxis, plot_->yAxis, plot_->xAxis2, plot_->yAxis2})
        axis->setLayer(curvesLayer_);
    curvesLayer_->setMode(QCPLayer::lmBuffered);
    plot_->moveLayer(curvesLayer_, plot_->layer(QStringLiteral("background")),
                     QCustomPlot::limBelow);
    plot_->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);

    auto *test = new QHBoxLayout;
    testForce_ = new QSpinBox(this);
    testForce_->setObjectName(QStringLiteral("spinBox_TestForce"));
    testForce_->setRange(StepTest::minLevelPercent, StepTest::maxLevelPercent);
    testForce_->setValue(5);
    testForce_->setSuffix(tr(" %"));
    testDuration_ = new QSpinBox(this);
    testDuration_->setObjectName(QStringLiteral("spinBox_TestDuration"));
    testDuration_->setRange(StepTest::minDurationMs, StepTest::maxDurationMs);
    testDuration_->setSingleStep(100);
    testDuration_->setValue(500);
    testDuration_->setSuffix(tr(" ms"));
    testButton_ = new QPushButton(tr("Apply Test Force"), this);
    testButton_->setObjectName(QStringLiteral("pushButton_TestForce"));
    auto *testLabel = new QLabel(tr("Step test:"), this);
    test->addWidget(testLabel);
    test->addWidget(testForce_);
    test->addWidget(testDuration_);
    test->addWidget(testButton_);
    test->addStretch(1);
    layout->addLayout(test);

    frameTimer_.setInterval(1000 / framesPerSecond);
    connect(&frameTimer_, &QTimer::timeout, this, &ScopePage::refresh);
    connect(&stepTest_, &StepTest::started, this, &ScopePage::updateControls);
    // Called when a device leaves too: the box must not wait.
    connect(&stepTest_, &StepTest::releaseFailed, this, [this](const QString &product) {
        openMessageBox(this, QMessageBox::Critical, tr("Test force not released"),
                       tr("The test force of 0 could not be sent to %1: the wheel base may "
                          "still apply the test force.\nSwitch the wheel base off now.")
                           .arg(product));
    });
    connect(&stepTest_, &StepTest::released, this, [this](bool timeUp) {
        updateControls();
        // The response stays on screen: the picture stops shortly after a
        // test has run its time.
        if (timeUp)
            QTimer::singleShot(500, this, [this] {
                if (!stepTest_.isRunning())
                    setPaused(true);
            });
    });

    QMetaObject::connectSlotsByName(this);
    clipping_->setText(clippingText({}, false));
    showKind(0);
    updateControls();
}

ScopePage::~ScopePage()
{
    stepTest_.release();
}

void ScopePage::setWheelBase(UsbDeviceZudWheelBase *wheelBase)
{
    stepTest_.setWheelBase(wheelBase);
    clearChannels();
    seenReports_ = 0;
    updateControls();
    plot_->replot();
}

double ScopePage::windowSeconds() const
{
    const int i = window_->currentIndex();
    return windowChoices[i >= 0 ? i : defaultWindow];
}

QString ScopePage::clippingText(const TelemetryClipping &clipping, bool hasOutput)
{
    if (!hasOutput)
        return tr("Clipping: -");
    return tr("Clipping: %1 %, peak %2 %")
        .arg(100.0 * clipping.share(), 0, 'f', 1)
        .arg(double(clipping.peak), 0, 'f', 1);
}

void ScopePage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    frameTimer_.start();
    refresh();
}

void ScopePage::hideEvent(QHideEvent *event)
{
    // Nobody watches the wheel any more: a running test force ends.
    stepTest_.release();
    frameTimer_.stop();
    QWidget::hideEvent(event);
}

void ScopePage::showKind(int kind)
{
    shownKind_ = kind;
    const std::vector<TelemetryChannel> channels = telemetryChannelsOfKind(kind);
    QGridLayout *grid = toggleGrid_;
    for (int c = 0; c < telemetryChannelCount; ++c) {
        grid->removeWidget(toggles_[c]);
        toggles_[c]->setVisible(false);
        graphs_[c]->setVisible(false);
        graphs_[c]->removeFromLegend();
        clearChannel(c);
    }
    int position = 0;
    for (TelemetryChannel channel : channels) {
        const int c = int(channel);
        grid->addWidget(toggles_[c], position / togglesPerRow, position % togglesPerRow);
        ++position;
        toggles_[c]->setVisible(true);
        graphs_[c]->setVisible(toggles_[c]->isChecked());
        if (toggles_[c]->isChecked())
            graphs_[c]->addToLegend();
    }
    switch (kind) {
    case 1:
        plot_->yAxis->setLabel(tr("FFB"));
        plot_->yAxis2->setLabel(tr("Angle (deg)"));
        break;
    case 2:
        plot_->yAxis->setLabel(tr("Torque (%)"));
        plot_->yAxis2->setLabel(tr("Steering (deg)"));
        break;
    case 3:
        plot_->yAxis->setLabel(tr("PWM, Hall"));
        plot_->yAxis2->setLabel(tr("Steering (deg), angles (rad)"));
        break;
    default:
        plot_->yAxis->setLabel(QString());
        plot_->yAxis2->setLabel(tr("Steering (deg)"));
        break;
    }
}

void ScopePage::clearChannel(int channel)
{
    layoutDue_ = true; // shown, hidden or started again: the legend may change
    traces_[channel].clear();
    graphs_[channel]->data()->clear();
    handedOver_[channel] = -std::numeric_limits<double>::infinity();
}

void ScopePage::clearChannels()
{
    for (int c = 0; c < telemetryChannelCount; ++c)
        clearChannel(c);
}

void ScopePage::syncGraph(int channel, double from, double until)
{
    const TelemetryRing &ring = recorder_.channel(TelemetryChannel(channel));
    ScopeTrace &trace = traces_[channel];
    const double lastTime =
        trace.empty() ? -std::numeric_limits<double>::infinity() : trace.lastTime();
    size_t i = ring.lowerBound(std::max(from, lastTime));
    while (i < ring.size() && ring.at(i).time <= lastTime)
        ++i;
    for (; i < ring.size() && ring.at(i).time <= until; ++i)
        trace.append(ring.at(i).time, ring.at(i).value);
    trace.dropBefore(from);

    // The graph holds the settled points handed over before; the points of
    // the bucket still open then are replaced by what the trace has now.
    QSharedPointer<QCPGraphDataContainer> data = graphs_[channel]->data();
    double &handedOver = handedOver_[channel];
    if (std::isinf(handedOver))
        data->clear();
    else
        data->removeAfter(handedOver);
    QVector<QCPGraphData> added;
    trace.forEachPointAfter(handedOver, [&added](double time, float value) {
        added.append(QCPGraphData(time, double(value)));
    });
    data->add(added, true);
    data->removeBefore(from);
    handedOver = trace.settledUntil();
}

void ScopePage::refresh()
{
    if (paused_)
        return;
    if (recorder_.reportsReceived() < seenReports_)
        clearChannels();
    seenReports_ = recorder_.reportsReceived();
    if (recorder_.kind() != shownKind_)
        showKind(recorder_.kind());
    draw(recorder_.reportsReceived() ? recorder_.latestTime() : 0.0);
}

void ScopePage::draw(double latest)
{
    shownLatest_ = latest;
    const double window = windowSeconds();
    const double from = latest - window;
    // One bucket of the envelope per pixel column of the curves (before the
    // first layout, a fine guess).
    const int columns =
        qMax(minimumColumns, qCeil(plot_->axisRect()->width() * plot_->devicePixelRatioF()));
    const double bucket = window / columns;
    // New buckets: the next sync hands each graph its whole envelope again.
    if (bucket != traces_[0].bucketSeconds())
        for (int c = 0; c < telemetryChannelCount; ++c) {
            traces_[c].setBucketSeconds(bucket);
            handedOver_[c] = -std::numeric_limits<double>::infinity();
        }
    for (TelemetryChannel channel : telemetryChannelsOfKind(shownKind_))
        if (toggles_[int(channel)]->isChecked())
            syncGraph(int(channel), from, latest);
    plot_->xAxis->setRange(from, latest);

    bool relayout = layoutDue_;
    if (frames_ % framesPerRescale == 0) {
        relayout = true;
        plot_->yAxis->rescale(true);
        plot_->yAxis2->rescale(true);
        // Torque keeps its full scale in view, so that clipping shows.
        if (shownKind_ == 2)
            plot_->yAxis->setRange(plot_->yAxis->range().expanded(QCPRange(-105, 105)));
        for (QCPAxis *axis : {plot_->yAxis, plot_->yAxis2}) {
            QCPRange r = axis->range();
            const double margin = std::max(r.size() * 0.05, 1e-3);
            axis->setRange(r.lower - margin, r.upper + margin);
        }
    }
    if (relayout) {
        layoutDue_ = false;
        plot_->replot(QCustomPlot::rpQueuedRefresh);
    } else {
        // The ticks for the new time range, then the curves' layer alone.
        plot_->axisRect()->update(QCPLayoutElement::upPreparation);
        curvesLayer_->replot();
    }
    ++frames_;

    if (!clippingClock_.isValid() || clippingClock_.elapsed() >= clippingUpdateMs) {
        clippingClock_.start();
        updateClipping();
    }
}

void ScopePage::updateClipping()
{
    const QString text = clippingText(recorder_.clipping(clippingSeconds),
                                      telemetryOutputChannel(recorder_.kind()) >= 0);
    if (clipping_->text() != text)
        clipping_->setText(text);
}

void ScopePage::setPaused(bool paused)
{
    if (paused) {
        // Pause stops a running test force too.
        stepTest_.release();
    }
    paused_ = paused;
    pause_->setText(paused ? tr("Resume") : tr("Pause"));
    if (!paused)
        refresh();
}

void ScopePage::on_pushButton_ScopePause_clicked()
{
    setPaused(!paused_);
}

void ScopePage::on_comboBox_ScopeWindow_currentIndexChanged(int)
{
    // A longer window needs the samples before the ones shown; a paused
    // picture keeps its end.
    clearChannels();
    if (paused_)
        draw(shownLatest_);
    else
        refresh();
}

void ScopePage::updateControls()
{
    const bool idle = stepTest_.wheelBase() && !stepTest_.isRunning();
    testButton_->setEnabled(idle);
    testForce_->setEnabled(idle);
    testDuration_->setEnabled(idle);
}

void ScopePage::on_pushButton_TestForce_clicked()
{
    if (!stepTest_.wheelBase() || stepTest_.isRunning())
        return;
    const int level = testForce_->value();
    const int duration = testDuration_->value();
    // The answer is for this wheel base only.
    const QPointer<UsbDeviceZudWheelBase> asked(stepTest_.wheelBase());
    const QString product = asked->getProductString();
    auto *box = new QMessageBox(
        QMessageBox::Warning, tr("Apply Test Force"),
        tr("The wheel will turn by itself with %1 % of full force for %2 ms.\n"
           "Keep your hands off the rim and make sure it can turn freely. Apply the force?")
            .arg(level)
            .arg(duration),
        QMessageBox::Yes | QMessageBox::Cancel, this);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Answered later, from the event loop: by then the wheel base may have
    // left, another device may be selected, or the page may be out of sight.
    connect(box, &QMessageBox::finished, this, [this, level, duration, asked, product](int result) {
        if (result != QMessageBox::Yes || stepTest_.isRunning())
            return;
        if (!asked || asked != stepTest_.wheelBase()) {
            emit statusMessage(
                tr("The test force was not applied: %1 is no longer selected.").arg(product));
            return;
        }
        if (!isVisible()) {
            emit statusMessage(tr("The test force was not applied: the Scope page was left."));
            return;
        }
        if (paused_)
            setPaused(false);
        stepTest_.start(level, duration);
    });
    box->open();
}

QSize ScopePage::shortfall() const
{
    const QWidget *content = scroll_->widget();
    const QSize wanted = content->sizeHint().expandedTo(content->minimumSizeHint());
    const QSize shown = scroll_->maximumViewportSize();
    return QSize(std::max(0, wanted.width() - shown.width()),
                 std::max(0, wanted.height() - shown.height()));
}

QByteArray ScopePage::visibleCsv() const
{
    QByteArray out("Time s,Channel,Value\r\n");
    const QCPRange range = plot_->xAxis->range();
    for (int c = 0; c < telemetryChannelCount; ++c) {
        const QCPGraph *graph = graphs_[c];
        if (!graph->visible())
            continue;
        const QByteArray name = QByteArray(telemetryChannelInfo(TelemetryChannel(c)).name);
        // Every sample of the window, not only the points drawn.
        for (const TelemetrySample &sample : traces_[c].samples()) {
            if (sample.time < range.lower)
                continue;
            if (sample.time > range.upper)
                break;
            out += QByteArray::number(sample.time, 'f', 6);
            out += ',';
            out += name;
            out += ',';
            out += csvGeneral(sample.value);
            out += "\r\n";
        }
    }
    return out;
}

namespace {

// Writes a file whole or not at all; an empty string on success, else why not.
QString writeWhole(const QString &fileName, const std::function<bool(QIODevice &)> &write)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (!write(file)) {
        file.cancelWriting();
        return file.errorString().isEmpty() ? ScopePage::tr("The data could not be written.")
                                            : file.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace

void ScopePage::on_pushButton_ScopeSavePicture_clicked()
{
    // The picture as it is now, before the dialog's own event loop moves it on.
    const QPixmap picture = plot_->toPixmap();
    const QString name = QFileDialog::getSaveFileName(this, tr("Save Picture"), QString(),
                                                      tr("PNG pictures (*.png)"));
    if (name.isEmpty())
        return;
    const QString error =
        writeWhole(name, [&picture](QIODevice &file) { return picture.save(&file, "PNG"); });
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("Picture not saved"),
                             tr("The picture could not be written to %1: %2")
                                 .arg(QDir::toNativeSeparators(name), error));
}

void ScopePage::on_pushButton_ScopeExportCsv_clicked()
{
    const QByteArray csv = visibleCsv();
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Export CSV"), QString(), tr("CSV files (*.csv)"));
    if (name.isEmpty())
        return;
    const QString error =
        writeWhole(name, [&csv](QIODevice &file) { return file.write(csv) == qint64(csv.size()); });
    if (!error.isEmpty())
        QMessageBox::warning(this, tr("CSV not exported"),
                             tr("The CSV file could not be written to %1: %2")
                                 .arg(QDir::toNativeSeparators(name), error));
}
