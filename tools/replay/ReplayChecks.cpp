#include "tools/replay/ReplayChecks.h"

#include "tools/replay/ReplayPlots.h"
#include "tools/replay/ReplayWindow.h"

#include "tools/check/CheckFile.h"
#include "tools/check/RecordingCheck.h"

#include <QBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace replay {

using namespace QtCharts;

namespace {

const QColor FailColour(230, 120, 0);
const QColor PassColour(30, 140, 60);

} // namespace

bool judgeForReplay(const QString& checksPath, const QString& recordingPath, int run, QVector<CheckMark>& marks,
                    QString& summary, QString& error)
{
    check::CheckSuite suite;
    if (!check::readCheckFile(checksPath, suite, error))
        return false;
    check::RecordingJudgement judged;
    if (!check::judgeRecording(recordingPath, suite, judged, error))
        return false;
    const int runs = judged.flights.size();
    if (run > runs && runs > 0) {
        error = QString("--run %1: the recording holds %2 run%3").arg(run).arg(runs).arg(runs == 1 ? "" : "s");
        return false;
    }
    const int chosen = check::chooseFlight(judged.flights, run);
    marks.clear();
    if (chosen < 0) {
        summary = QString("%1: the recording holds no run").arg(suite.name);
        for (const check::Verdict& v : check::FlightJudge(suite).verdicts())
            marks.append({v.name, false, 0, v.evidence});
        return true;
    }
    const check::RecordedFlight& f = judged.flights[chosen];
    int failed = 0;
    for (const check::Verdict& v : f.verdicts) {
        marks.append({v.name, v.passed, qint64(std::llround((f.start + v.time) * 1000)), v.evidence});
        failed += v.passed ? 0 : 1;
    }
    summary = QString("%1\nrun %2 of %3: %4 passed, %5 failed")
                  .arg(suite.name)
                  .arg(chosen + 1)
                  .arg(runs)
                  .arg(f.verdicts.size() - failed)
                  .arg(failed);
    return true;
}

CheckTimeline::CheckTimeline(const QVector<CheckMark>& marks, qint64 durationMs, QWidget* parent)
    : QWidget(parent),
      mMarks(marks),
      mDurationMs(durationMs)
{
    setObjectName("checkTimeline");
    setMinimumHeight(12);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

int CheckTimeline::xOf(qint64 ms) const
{
    // Where the timeline's slider puts its handle for that time.
    QSlider probe(Qt::Horizontal);
    QStyleOptionSlider option;
    option.initFrom(&probe);
    option.orientation = Qt::Horizontal;
    const int handle = style()->pixelMetric(QStyle::PM_SliderLength, &option, &probe);
    const int span = std::max(1, width() - handle);
    const double share = mDurationMs > 0 ? double(std::clamp<qint64>(ms, 0, mDurationMs)) / double(mDurationMs) : 0;
    return handle / 2 + int(std::lround(share * span));
}

int CheckTimeline::markAt(int x) const
{
    int best = -1;
    int bestDistance = 6;
    for (int i = 0; i < mMarks.size(); ++i) {
        if (mMarks[i].passed)
            continue;
        const int d = std::abs(xOf(mMarks[i].ms) - x);
        if (d <= bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

void CheckTimeline::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    for (const CheckMark& m : mMarks) {
        if (m.passed)
            continue;
        const int x = xOf(m.ms);
        p.fillRect(QRect(x - 1, 0, 3, height()), FailColour);
    }
}

void CheckTimeline::mousePressEvent(QMouseEvent* event)
{
    const int i = markAt(event->pos().x());
    if (i >= 0)
        emit seekRequested(mMarks[i].ms);
}

bool CheckTimeline::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        const int i = markAt(static_cast<QHelpEvent*>(e)->pos().x());
        if (i >= 0)
            QToolTip::showText(static_cast<QHelpEvent*>(e)->globalPos(),
                               QString("FAIL %1: %2").arg(mMarks[i].name, mMarks[i].evidence), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

ChecksPanel::ChecksPanel(const QString& summary, const QVector<CheckMark>& marks, QWidget* parent) : QWidget(parent)
{
    setObjectName("checksPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(summary.toHtmlEscaped().replace('\n', "<br>").prepend("<b>").append("</b>"), this);
    title->setObjectName("label_checks");
    title->setWordWrap(true);
    layout->addWidget(title);
    mList = new QListWidget(this);
    mList->setObjectName("listWidget_checks");
    mList->setWordWrap(true);
    mList->setFocusPolicy(Qt::NoFocus);
    for (const CheckMark& m : marks) {
        auto* item = new QListWidgetItem(QString("%1  %2").arg(m.passed ? "PASS" : "FAIL", m.name), mList);
        item->setForeground(m.passed ? PassColour : FailColour.darker(130));
        item->setToolTip(m.evidence);
        item->setData(Qt::UserRole, m.ms);
    }
    layout->addWidget(mList, 1);
    connect(mList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit seekRequested(item->data(Qt::UserRole).toLongLong()); });
    setMinimumWidth(260);
}

void markPlots(ReplayPlots& plots, const QVector<qint64>& failedMs)
{
    for (int i = 0; i < plots.chartCount(); ++i) {
        QChart* chart = plots.chartView(i)->chart();
        const QList<QAbstractAxis*> xs = chart->axes(Qt::Horizontal);
        const QList<QAbstractAxis*> ys = chart->axes(Qt::Vertical);
        auto* y = ys.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(ys.first());
        if (xs.isEmpty() || !y)
            continue;
        for (qint64 ms : failedMs) {
            auto* line = new QLineSeries(chart);
            line->setObjectName("checkMark");
            line->setName("failed check");
            QPen pen(FailColour, 1.5, Qt::DashLine);
            line->setPen(pen);
            chart->addSeries(line);
            line->attachAxis(xs.first());
            line->attachAxis(y);
            for (QLegendMarker* marker : chart->legend()->markers(line))
                marker->setVisible(false);
            const double t = ms / 1000.0;
            auto place = [line, t](qreal low, qreal high) {
                line->replace(QVector<QPointF>{QPointF(t, low), QPointF(t, high)});
            };
            place(y->min(), y->max());
            QObject::connect(y, &QValueAxis::rangeChanged, line, place);
        }
    }
}

void showChecks(ReplayWindow& window, const QString& summary, const QVector<CheckMark>& marks)
{
    ReplayPlots* plots = window.plots();
    auto* slider = window.findChild<QSlider*>("horizontalSlider_time");
    auto* column = qobject_cast<QBoxLayout*>(window.centralWidget()->layout());
    if (!plots || !slider || !column || !window.engine())
        return;
    const qint64 durationMs = window.engine()->recording().durationMs();
    auto* panel = new ChecksPanel(summary, marks, window.centralWidget());
    auto* timeline = new CheckTimeline(marks, durationMs, window.centralWidget());

    // The plots share their row with the panel; the strip lies under the timeline.
    const int plotsAt = column->indexOf(plots);
    column->removeWidget(plots);
    auto* row = new QHBoxLayout;
    row->addWidget(plots, 1);
    row->addWidget(panel);
    column->insertLayout(plotsAt, row, 1);
    column->insertWidget(column->indexOf(slider) + 1, timeline);

    QVector<qint64> failed;
    for (const CheckMark& m : marks)
        if (!m.passed)
            failed.append(m.ms);
    markPlots(*plots, failed);

    auto seek = [&window](qint64 ms) {
        if (window.engine()) {
            window.engine()->seek(ms);
            window.refresh();
        }
    };
    QObject::connect(panel, &ChecksPanel::seekRequested, &window, seek);
    QObject::connect(timeline, &CheckTimeline::seekRequested, &window, seek);
    // The verdicts belong to this recording: another one takes them away.
    QObject::connect(&window, &QWidget::windowTitleChanged, panel, [panel, timeline, plots] {
        panel->deleteLater();
        timeline->deleteLater();
        for (int i = 0; i < plots->chartCount(); ++i)
            for (QAbstractSeries* s : plots->chartView(i)->chart()->series())
                if (s->objectName() == "checkMark") {
                    plots->chartView(i)->chart()->removeSeries(s);
                    s->deleteLater();
                }
    });
}

} // namespace replay
