#pragma once

#include <QString>
#include <QVector>
#include <QWidget>

class QListWidget;

namespace replay {

class ReplayPlots;
class ReplayWindow;

// One verdict of a check file on the recording, placed on its timeline.
struct CheckMark {
    QString name;
    bool passed = false;
    qint64 ms = 0; // recording time at which it was decided
    QString evidence;
};

// The verdicts of a check file on one flight of the recording (run, 1-based;
// 0: the longest), as QuvorCheck judges it. False with a message.
bool judgeForReplay(const QString& checksPath, const QString& recordingPath, int run, QVector<CheckMark>& marks,
                    QString& summary, QString& error);

// A strip under the timeline with a tick at every failed check; a click on a
// tick asks to seek there.
class CheckTimeline : public QWidget {
    Q_OBJECT
public:
    CheckTimeline(const QVector<CheckMark>& marks, qint64 durationMs, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {200, 12}; }
    // The tick of a failed check nearest to x within a few pixels; -1 when none.
    int markAt(int x) const;
    int xOf(qint64 ms) const;

signals:
    void seekRequested(qint64 ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QVector<CheckMark> mMarks;
    qint64 mDurationMs;
};

// The list of checks, PASS or FAIL, beside the plots; a click on one seeks to
// the time it was decided.
class ChecksPanel : public QWidget {
    Q_OBJECT
public:
    ChecksPanel(const QString& summary, const QVector<CheckMark>& marks, QWidget* parent = nullptr);
    QListWidget* list() const { return mList; }

signals:
    void seekRequested(qint64 ms);

private:
    QListWidget* mList = nullptr;
};

// Every failed check as a dashed line on each plot.
void markPlots(ReplayPlots& plots, const QVector<qint64>& failedMs);

// The panel beside the plots, the strip under the timeline and the marks on the
// plots of the window's recording; clicks seek the replay. Opening another
// recording takes them away.
void showChecks(ReplayWindow& window, const QString& summary, const QVector<CheckMark>& marks);

} // namespace replay
