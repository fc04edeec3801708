#pragma once

#include "tools/replay/Recording.h"
#include "tools/replay/ReplayPlayer.h"
#include "tools/replay/ReplaySender.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace replay {

// Drives a ReplayPlayer from the event loop: a precise single-shot timer wakes
// it when the next state is due, and each due state leaves through the sender.
class ReplayEngine : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // microseconds, monotonic

    // Most states sent at one wake: between slices the event loop runs (Ctrl+C, the window).
    static constexpr int SliceStates = 256;
    // Far behind the schedule (more due than a slice), a state due more than a frame
    // of the visualiser (1/60 s) ago is skipped when a newer one is due.
    static constexpr qint64 FrameUs = 16667;

    static Clock steadyClock();

    ReplayEngine(Recording& recording, ReplaySender& sender, bool local, Clock clock = steadyClock(),
                 QObject* parent = nullptr);

    Recording& recording() { return mRecording; }
    const ReplayPlayer& player() const { return mPlayer; }

    void setRange(qint64 fromMs, qint64 toMs);
    void play();
    void pause();
    void togglePlay();
    // Sends the state at ms at once, so the visualiser follows a dragged timeline.
    void seek(qint64 ms);
    void step(int delta);
    void setSpeed(double speed);
    void setLoop(bool loop);

    qint64 positionMs() const;
    qint64 now() const { return mClock(); }
    qint64 sentCount() const { return mSentCount; }
    qint64 lateCount() const { return mLateCount; } // sent more than a frame after they were due
    qint64 skippedCount() const { return mSkippedCount; }
    // "the pace could not be held: 12 states sent late, 3400 skipped", or empty.
    QString paceText() const;
    // Milliseconds the engine sleeps before it looks again; -1 when it waits for nothing.
    qint64 wakeInMs() const { return mTimer.isActive() ? mTimer.interval() : -1; }

    // Timer work, public so tests with a hand-moved clock can call it.
    void onTimer();

signals:
    void stateSent(int index);
    void playingChanged(bool playing);
    void finished();
    // The recording changed under the replay, which stopped; the message names the file.
    void failed(const QString& message);

private:
    // False when the recording changed: playing stops and failed() says why.
    bool send(int index);
    void stopChanged();
    void schedule();

    Recording& mRecording;
    ReplaySender& mSender;
    bool mLocal;
    Clock mClock;
    ReplayPlayer mPlayer;
    QTimer mTimer;
    qint64 mSentCount = 0;
    qint64 mLateCount = 0;
    qint64 mSkippedCount = 0;
};

} // namespace replay
