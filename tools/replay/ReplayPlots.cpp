#include "tools/replay/ReplayPlots.h"

#include <QMouseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace replay {
namespace {

// A click seeks, the wheel zooms the time axis around the pointer and a drag
// pans it; the owner moves every chart, so they stay in step.
class SeekView : public QChartView {
public:
    struct Actions {
        std::function<void(const QPoint&)> click;
        std::function<void(const QPoint&, int steps)> zoom;
        std::function<void(int dxPixels)> pan;
    };
    SeekView(QChart* chart, Actions actions, QWidget* parent) : QChartView(chart, parent), mActions(std::move(actions))
    {
        setRenderHint(QPainter::Antialiasing);
        setMinimumHeight(120);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && chart()->plotArea().contains(event->pos())) {
            mPressed = true;
            mDragged = false;
            mPressX = mLastX = event->pos().x();
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (mPressed && (event->buttons() & Qt::LeftButton)) {
            // A few pixels of jitter still count as a click.
            if (!mDragged && std::abs(event->pos().x() - mPressX) > 4)
                mDragged = true;
            if (mDragged) {
                mActions.pan(event->pos().x() - mLastX);
                mLastX = event->pos().x();
            }
            event->accept();
            return;
        }
        QChartView::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (mPressed && event->button() == Qt::LeftButton) {
            mPressed = false;
            if (!mDragged)
                mActions.click(event->pos());
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override
    {
        mWheel += event->angleDelta().y();
        const int steps = mWheel / 120;
        mWheel -= steps * 120;
        if (steps != 0)
            mActions.zoom(event->position().toPoint(), steps);
        event->accept();
    }

private:
    Actions mActions;
    bool mPressed = false;
    bool mDragged = false;
    int mPressX = 0;
    int mLastX = 0;
    int mWheel = 0; // eighths of a degree not yet a whole step
};

// 1, 2 or 5 times a power of ten, at least rough.
double niceStep(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(std::max(rough, 1e-3))));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= rough)
            return m * power;
    return 10 * power;
}

} // namespace

ReplayPlots::ReplayPlots(QWidget* parent) : QWidget(parent)
{
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* layout = new QVBoxLayout;
    layout->setSpacing(0);
    outer->addLayout(layout, 3);
    mCharts = {makeChart("Height", "m", {"WorldZ"}), makeChart("Horizontal speed", "m/s", {"speed"}),
               makeChart("Attitude", "deg", {"roll", "pitch", "yaw"}), makeChart("", "", {"value"})};
    for (int i = 0; i < mCharts.size(); ++i) {
        SeekView::Actions actions;
        actions.click = [this, i](const QPoint& p) { emit seekRequested(timeAt(i, p)); };
        actions.zoom = [this, i](const QPoint& p, int steps) { zoomAt(timeAt(i, p), steps); };
        actions.pan = [this, i](int dx) { panBy(i, dx); };
        auto* view = new SeekView(mCharts[i].chart, actions, this);
        mViews.append(view);
        layout->addWidget(view);
    }
    // The chosen key's chart stays hidden until a key is chosen.
    mViews.last()->hide();

    auto* track = new QChart;
    track->setTitle("Track (from above)");
    track->setAnimationOptions(QChart::NoAnimation);
    track->setMargins(QMargins(4, 2, 4, 2));
    track->legend()->setVisible(false);
    mTrackX = new QValueAxis;
    mTrackX->setTitleText("WorldX, m");
    mTrackY = new QValueAxis;
    mTrackY->setTitleText("WorldY, m");
    track->addAxis(mTrackX, Qt::AlignBottom);
    track->addAxis(mTrackY, Qt::AlignLeft);
    mTrack = new QLineSeries;
    mTrack->setName("track");
    mTrackDot = new QScatterSeries;
    mTrackDot->setName("now");
    mTrackDot->setColor(QColor(220, 30, 30));
    mTrackDot->setMarkerSize(9);
    for (QtCharts::QXYSeries* s :
         {static_cast<QtCharts::QXYSeries*>(mTrack), static_cast<QtCharts::QXYSeries*>(mTrackDot)}) {
        track->addSeries(s);
        s->attachAxis(mTrackX);
        s->attachAxis(mTrackY);
    }
    // A click seeks to the moment the aircraft was nearest to that point.
    SeekView::Actions trackActions;
    trackActions.click = [this](const QPoint& p) {
        if (mTrackPoints.empty())
            return;
        QChart* c = mTrackView->chart();
        const QPointF at = c->mapToValue(c->mapFromScene(mTrackView->mapToScene(p)), mTrack);
        const auto nearest =
            std::min_element(mTrackPoints.begin(), mTrackPoints.end(), [&](const auto& a, const auto& b) {
                return std::hypot(a.x - at.x(), a.y - at.y()) < std::hypot(b.x - at.x(), b.y - at.y());
            });
        emit seekRequested(nearest->timeMs);
    };
    trackActions.zoom = [](const QPoint&, int) {};
    trackActions.pan = [](int) {};
    mTrackView = new SeekView(track, trackActions, this);
    connect(track, &QChart::plotAreaChanged, this, &ReplayPlots::fitTrackAxes);
    outer->addWidget(mTrackView, 2);
    setData(PlotData(), 0);
}

ReplayPlots::Chart ReplayPlots::makeChart(const QString& title, const QString& unit, const QStringList& names)
{
    Chart c;
    c.chart = new QChart;
    c.chart->setTitle(title);
    c.chart->setAnimationOptions(QChart::NoAnimation);
    c.chart->setMargins(QMargins(4, 2, 4, 2));
    c.x = new QValueAxis;
    c.x->setLabelFormat("%.1f");
    c.x->setTitleText("s");
    c.y = new QValueAxis;
    c.y->setTitleText(unit);
    c.chart->addAxis(c.x, Qt::AlignBottom);
    c.chart->addAxis(c.y, Qt::AlignLeft);
    for (const QString& name : names) {
        auto* s = new QLineSeries;
        s->setName(name);
        c.chart->addSeries(s);
        s->attachAxis(c.x);
        s->attachAxis(c.y);
        c.series.append(s);
    }
    c.cursor = new QLineSeries;
    c.cursor->setName("now");
    c.cursor->setPen(QPen(QColor(220, 30, 30), 1.5));
    c.chart->addSeries(c.cursor);
    c.cursor->attachAxis(c.x);
    c.cursor->attachAxis(c.y);
    c.chart->legend()->setVisible(names.size() > 1);
    if (names.size() > 1)
        c.chart->legend()->markers(c.cursor).first()->setVisible(false);
    // Above the plot, so all three plots keep the same width and the cursors line up.
    c.chart->legend()->setAlignment(Qt::AlignTop);
    return c;
}

void ReplayPlots::setData(const PlotData& data, qint64 durationMs)
{
    mDurationMs = durationMs;
    const double seconds = std::max(0.001, durationMs / 1000.0);
    // Channels per chart: height, speed, then roll, pitch and yaw together.
    const QVector<QVector<int>> channels = {
        {PlotData::Height}, {PlotData::HorizontalSpeed}, {PlotData::Roll, PlotData::Pitch, PlotData::Yaw}};
    for (int i = 0; i < channels.size(); ++i) {
        Chart& c = mCharts[i];
        double low = 0, high = 0;
        bool any = false;
        for (int k = 0; k < c.series.size(); ++k) {
            const int channel = channels[i][k];
            QVector<QPointF> points;
            points.reserve(int(data.buckets().size()) * 2);
            for (const PlotData::Bucket& b : data.buckets()) {
                const double t = b.timeMs / 1000.0;
                // A value beyond a float (1e308, inf) has no place on the plot: it
                // is left out, and the axes span what is shown.
                if (std::isfinite(b.low[channel]))
                    points.append(QPointF(t, b.low[channel]));
                if (b.high[channel] != b.low[channel] && std::isfinite(b.high[channel]))
                    points.append(QPointF(t, b.high[channel]));
                for (const float value : {b.low[channel], b.high[channel]}) {
                    if (!std::isfinite(value))
                        continue;
                    low = any ? std::min<double>(low, value) : value;
                    high = any ? std::max<double>(high, value) : value;
                    any = true;
                }
            }
            c.series[k]->replace(points);
        }
        const double pad = std::max(0.5, (high - low) * 0.05);
        c.x->setRange(0, seconds);
        c.x->setTickType(QValueAxis::TicksDynamic);
        c.x->setTickAnchor(0);
        c.x->setTickInterval(niceStep(seconds / 8));
        c.x->setLabelFormat(c.x->tickInterval() >= 1 ? "%.0f" : "%.2f");
        c.y->setRange(low - pad, high + pad);
        c.y->applyNiceNumbers();
        c.y->setLabelFormat("%g");
    }
    mWindowFromMs = 0;
    mWindowToMs = durationMs;
    applyTimeWindow();
    mMarkers = data.markers;
    showMarkers(data);
    setExtraCurve(QString(), PlotData());

    mTrackPoints = data.track;
    QVector<QPointF> path;
    path.reserve(int(mTrackPoints.size()));
    // The path's bounding box.
    double left = 0, right = 0, bottom = 0, top = 0;
    for (const PlotData::TrackPoint& p : mTrackPoints) {
        const bool first = path.isEmpty();
        left = first ? p.x : std::min<double>(left, p.x);
        right = first ? p.x : std::max<double>(right, p.x);
        bottom = first ? p.y : std::min<double>(bottom, p.y);
        top = first ? p.y : std::max<double>(top, p.y);
        path.append(QPointF(p.x, p.y));
    }
    mTrack->replace(path);
    mTrackBounds = QRectF(QPointF(left, bottom), QPointF(right, top));
    fitTrackAxes();
    // A trace.txt holds positions only: say so instead of drawing flat lines.
    const bool attitude = data.hasAttitude || data.buckets().empty();
    mCharts[2].chart->setTitle(attitude ? "Attitude"
                                        : "Attitude: none in this recording (a trace.txt holds positions only)");
    for (QLineSeries* s : mCharts[2].series)
        s->setVisible(attitude);
    setCursorTime(0);
}

void ReplayPlots::setCursorTime(qint64 ms)
{
    mCursorMs = ms;
    const double t = ms / 1000.0;
    for (Chart& c : mCharts)
        c.cursor->replace(QVector<QPointF>{QPointF(t, c.y->min()), QPointF(t, c.y->max())});
    if (mTrackDot) {
        if (mTrackPoints.empty())
            mTrackDot->clear();
        else
            mTrackDot->replace(QVector<QPointF>{trackCursor()});
    }
}

void ReplayPlots::setExtraCurve(const QString& key, const PlotData& curve)
{
    mExtraKey = key;
    Chart& c = mCharts.last();
    mViews.last()->setVisible(!key.isEmpty());
    c.chart->setTitle(key);
    QVector<QPointF> points;
    double low = 0, high = 0;
    for (const PlotData::Bucket& b : curve.buckets()) {
        const double t = b.timeMs / 1000.0;
        const bool first = points.isEmpty();
        points.append(QPointF(t, b.low[PlotData::Height]));
        if (b.high[PlotData::Height] != b.low[PlotData::Height])
            points.append(QPointF(t, b.high[PlotData::Height]));
        low = first ? b.low[PlotData::Height] : std::min<double>(low, b.low[PlotData::Height]);
        high = first ? b.high[PlotData::Height] : std::max<double>(high, b.high[PlotData::Height]);
    }
    c.series.first()->setName(key);
    c.series.first()->replace(points);
    const double pad = std::max(0.5, (high - low) * 0.05);
    c.y->setRange(low - pad, high + pad);
    c.y->applyNiceNumbers();
    c.y->setLabelFormat("%g");
    PlotData markers;
    markers.markers = mMarkers;
    showMarkers(markers);
    setCursorTime(mCursorMs);
}

void ReplayPlots::showMarkers(const PlotData& data)
{
    for (Chart& c : mCharts) {
        for (QLineSeries* m : c.markers) {
            c.chart->removeSeries(m);
            delete m;
        }
        c.markers.clear();
        for (const PlotData::Marker& marker : data.markers) {
            const bool run = marker.kind == PlotData::Marker::RunStart || marker.kind == PlotData::Marker::RunEnd;
            const QColor colour = run                          ? QColor(40, 60, 160)
                : marker.kind == PlotData::Marker::MotorsStart ? QColor(20, 150, 40)
                                                               : QColor(230, 130, 0);
            QPen pen(colour, 1);
            pen.setStyle(run ? Qt::DashLine : Qt::DotLine);
            auto* line = new QLineSeries;
            line->setName(marker.kind == PlotData::Marker::RunStart          ? "run start"
                              : marker.kind == PlotData::Marker::RunEnd      ? "run end"
                              : marker.kind == PlotData::Marker::MotorsStart ? "motors start"
                                                                             : "motors stop");
            line->setPen(pen);
            const double t = marker.timeMs / 1000.0;
            line->replace(QVector<QPointF>{QPointF(t, c.y->min()), QPointF(t, c.y->max())});
            c.chart->addSeries(line);
            line->attachAxis(c.x);
            line->attachAxis(c.y);
            for (QLegendMarker* legend : c.chart->legend()->markers(line))
                legend->setVisible(false);
            c.markers.append(line);
        }
    }
}

void ReplayPlots::setTimeWindow(qint64 fromMs, qint64 toMs)
{
    const qint64 full = std::max<qint64>(mDurationMs, 1);
    qint64 width = std::clamp<qint64>(toMs - fromMs, std::min<qint64>(MinWindowMs, full), full);
    fromMs = std::clamp<qint64>(fromMs, 0, full - width);
    mWindowFromMs = fromMs;
    mWindowToMs = fromMs + width;
    applyTimeWindow();
}

void ReplayPlots::zoomAt(qint64 ms, int steps)
{
    // Each wheel step in shows 4/5 of the time, each step out 5/4, around ms.
    const double factor = std::pow(0.8, steps);
    const double from = ms - (ms - mWindowFromMs) * factor;
    const double to = ms + (mWindowToMs - ms) * factor;
    setTimeWindow(qint64(std::llround(from)), qint64(std::llround(to)));
}

void ReplayPlots::panBy(int chart, int dxPixels)
{
    const QChart* c = mCharts.value(chart).chart;
    const double pixels = c ? c->plotArea().width() : 0;
    if (pixels <= 0)
        return;
    const qint64 shift = qint64(std::llround(-dxPixels * double(mWindowToMs - mWindowFromMs) / pixels));
    setTimeWindow(mWindowFromMs + shift, mWindowToMs + shift);
}

void ReplayPlots::applyTimeWindow()
{
    const double from = mWindowFromMs / 1000.0;
    const double seconds = std::max(0.001, (mWindowToMs - mWindowFromMs) / 1000.0);
    for (Chart& c : mCharts) {
        c.x->setRange(from, from + seconds);
        c.x->setTickType(QValueAxis::TicksDynamic);
        c.x->setTickAnchor(0);
        c.x->setTickInterval(niceStep(seconds / 8));
        c.x->setLabelFormat(c.x->tickInterval() >= 1 ? "%.0f" : c.x->tickInterval() >= 0.1 ? "%.1f" : "%.2f");
    }
}

void ReplayPlots::fitTrackAxes()
{
    // The same metres per pixel on both axes, so a circle stays round, with a
    // margin that keeps the path off the frame. New ranges may change the label
    // widths and so the plot area once more.
    if (mFittingTrack)
        return;
    mFittingTrack = true;
    const QRectF area = mTrackView->chart()->plotArea();
    const double w = std::max(area.width(), 1.0), h = std::max(area.height(), 1.0);
    const double perPixel = std::max({mTrackBounds.width() / w, mTrackBounds.height() / h, 1.0 / std::min(w, h)}) * 1.1;
    const QPointF c = mTrackBounds.center();
    mTrackX->setRange(c.x() - perPixel * w / 2, c.x() + perPixel * w / 2);
    mTrackY->setRange(c.y() - perPixel * h / 2, c.y() + perPixel * h / 2);
    mFittingTrack = false;
}

QPointF ReplayPlots::trackCursor() const
{
    if (mTrackPoints.empty())
        return {};
    // The last point at or before the cursor.
    auto after = std::upper_bound(mTrackPoints.begin(), mTrackPoints.end(), mCursorMs,
                                  [](qint64 ms, const PlotData::TrackPoint& p) { return ms < p.timeMs; });
    const PlotData::TrackPoint& p = after == mTrackPoints.begin() ? *after : *(after - 1);
    return {p.x, p.y};
}

qint64 ReplayPlots::timeAt(int chart, const QPoint& point) const
{
    QChart* c = mCharts.value(chart).chart;
    if (!c)
        return 0;
    const double t = c->mapToValue(c->mapFromScene(mViews[chart]->mapToScene(point))).x();
    return std::clamp<qint64>(qint64(std::llround(t * 1000)), 0, mDurationMs);
}

} // namespace replay
