#include "ReplayPlots.h"

#include <QMouseEvent>
#include <QVBoxLayout>

#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace replay {
namespace {

class SeekView : public QChartView {
public:
    SeekView(QChart* chart, std::function<void(const QPoint&)> onClick, QWidget* parent)
        : QChartView(chart, parent),
          mOnClick(std::move(onClick))
    {
        setRenderHint(QPainter::Antialiasing);
        setMinimumHeight(120);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && chart()->plotArea().contains(event->pos())) {
            mOnClick(event->pos());
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }

private:
    std::function<void(const QPoint&)> mOnClick;
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
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    mCharts = {makeChart("Height", "m", {"WorldZ"}), makeChart("Horizontal speed", "m/s", {"speed"}),
               makeChart("Attitude", "deg", {"roll", "pitch", "yaw"})};
    for (int i = 0; i < mCharts.size(); ++i) {
        auto* view = new SeekView(
            mCharts[i].chart, [this, i](const QPoint& p) { emit seekRequested(timeAt(i, p)); }, this);
        mViews.append(view);
        layout->addWidget(view);
    }
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
    for (int i = 0; i < mCharts.size(); ++i) {
        Chart& c = mCharts[i];
        double low = 0, high = 0;
        bool any = false;
        for (int k = 0; k < c.series.size(); ++k) {
            const int channel = channels[i][k];
            QVector<QPointF> points;
            points.reserve(int(data.buckets().size()) * 2);
            for (const PlotData::Bucket& b : data.buckets()) {
                const double t = b.timeMs / 1000.0;
                points.append(QPointF(t, b.low[channel]));
                if (b.high[channel] != b.low[channel])
                    points.append(QPointF(t, b.high[channel]));
                low = any ? std::min<double>(low, b.low[channel]) : b.low[channel];
                high = any ? std::max<double>(high, b.high[channel]) : b.high[channel];
                any = true;
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
