#pragma once

#include "tools/replay/Recording.h"

#include <QWidget>

#include <QtCharts/QChartView>

namespace QtCharts {
class QChart;
class QLineSeries;
class QScatterSeries;
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

    // The time shown by every chart; setData shows the whole recording. The
    // window keeps at least MinWindowMs and stays inside the recording.
    static constexpr qint64 MinWindowMs = 100;
    void setTimeWindow(qint64 fromMs, qint64 toMs);
    qint64 windowFrom() const { return mWindowFromMs; }
    qint64 windowTo() const { return mWindowToMs; }
    // Wheel steps (positive: in) around a recording time; a drag of dx pixels on a chart.
    void zoomAt(qint64 ms, int steps);
    void panBy(int chart, int dxPixels);

    // The time charts (height, speed, attitude); the track is apart.
    QtCharts::QChartView* chartView(int index) const { return mViews.value(index); }
    // The path from above, with a dot where the aircraft is at the cursor time.
    QtCharts::QChartView* trackView() const { return mTrackView; }
    QPointF trackCursor() const;

    // A fourth time chart with any recorded key (its values in the Height
    // channel of `curve`); an empty key hides it.
    void setExtraCurve(const QString& key, const PlotData& curve);
    QString extraCurve() const { return mExtraKey; }
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
        QVector<QtCharts::QLineSeries*> markers; // one vertical line each
    };

    Chart makeChart(const QString& title, const QString& unit, const QStringList& names);
    void applyTimeWindow();
    void showMarkers(const PlotData& data);
    void fitTrackAxes();

    QVector<QtCharts::QChartView*> mViews;
    QtCharts::QChartView* mTrackView = nullptr;
    QtCharts::QValueAxis* mTrackX = nullptr;
    QtCharts::QValueAxis* mTrackY = nullptr;
    QtCharts::QLineSeries* mTrack = nullptr;
    QtCharts::QScatterSeries* mTrackDot = nullptr;
    std::vector<PlotData::TrackPoint> mTrackPoints;
    QRectF mTrackBounds;
    bool mFittingTrack = false;
    QVector<Chart> mCharts;
    qint64 mDurationMs = 0;
    qint64 mCursorMs = 0;
    std::vector<PlotData::Marker> mMarkers;
    QString mExtraKey;
    qint64 mWindowFromMs = 0;
    qint64 mWindowToMs = 0;
};

} // namespace replay
