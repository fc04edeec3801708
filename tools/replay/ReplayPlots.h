#pragma once

#include "Recording.h"

#include <QWidget>

#include <QtCharts/QChartView>

namespace QtCharts {
class QChart;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

namespace replay {

// Height, horizontal speed and attitude against recording time, one chart
// each, with a cursor line at the current time; a click on a chart asks to
// seek there.
class ReplayPlots : public QWidget {
    Q_OBJECT
public:
    explicit ReplayPlots(QWidget* parent = nullptr);

    void setData(const PlotData& data, qint64 durationMs);
    void setCursorTime(qint64 ms);
    qint64 cursorTime() const { return mCursorMs; }

    QtCharts::QChartView* chartView(int index) const { return mViews.value(index); }
    int chartCount() const { return mViews.size(); }
    // Recording time under a point of a chart view (the point in view coordinates).
    qint64 timeAt(int chart, const QPoint& point) const;

signals:
    void seekRequested(qint64 ms);

private:
    struct Chart {
        QtCharts::QChart* chart = nullptr;
        QtCharts::QValueAxis* x = nullptr;
        QtCharts::QValueAxis* y = nullptr;
        QVector<QtCharts::QLineSeries*> series;
        QtCharts::QLineSeries* cursor = nullptr;
    };

    Chart makeChart(const QString& title, const QString& unit, const QStringList& names);

    QVector<QtCharts::QChartView*> mViews;
    QVector<Chart> mCharts;
    qint64 mDurationMs = 0;
    qint64 mCursorMs = 0;
};

} // namespace replay
