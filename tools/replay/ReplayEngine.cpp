#include "tools/replay/ReplayEngine.h"

#include "tools/replay/PlaybackDatagram.h"

#include <QElapsedTimer>

#include <algorithm>

namespace replay {
namespace {

constexpr qint64 MaxWaitMs = 60 * 1000;

} // namespace

ReplayEngine::Clock ReplayEngine::steadyClock()
{
    return [] {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        return clock.nsecsElapsed() / 1000;
    };
}

ReplayEngine::ReplayEngine(Recording& recording, ReplaySender& sender, bool local, Clock clock, QObject* parent)
    : QObject(parent),
      mRecording(recording),
      mSender(sender),
      mLocal(local),
      mClock(std::move(clock)),
      mPlayer(recording)
{
    mTimer.setSingleShot(true);
    mTimer.setTimerType(Qt::PreciseTimer);
    connect(&mTimer, &QTimer::timeout, this, &ReplayEngine::onTimer);
}

bool ReplayEngine::send(int index)
{
    const QByteArray recorded = mRecording.payload(index);
    if (recorded.isEmpty()) {
        stopChanged();
        return false;
    }
    mSender.send(playbackDatagram(recorded, mRecording.kind(index), mRecording.timeMs(index), mLocal));
    ++mSentCount;
    emit stateSent(index);
    return true;
}

void ReplayEngine::stopChanged()
{
    const bool wasPlaying = mPlayer.playing();
    mPlayer.pause(mClock());
    mTimer.stop();
    if (wasPlaying)
        emit playingChanged(false);
    emit failed(mRecording.changedText());
}

void ReplayEngine::schedule()
{
    const qint64 due = mPlayer.nextDueUs();
    if (due < 0) {
        mTimer.stop();
        return;
    }
    // Rounded up: a timer never fires before the state is due. A long wait (a slow
    // speed over a long gap) is taken in steps, each within what a timer holds.
    const qint64 waitUs = due - mClock();
    mTimer.start(waitUs <= 0 ? 0 : int(std::min<qint64>((waitUs + 999) / 1000, MaxWaitMs)));
}

void ReplayEngine::onTimer()
{
    const bool wasPlaying = mPlayer.playing();
    // Once a slice: a file cut or rewritten would send fragments of other lines.
    if (wasPlaying && !mRecording.unchanged()) {
        stopChanged();
        return;
    }
    const qint64 now = mClock();
    // Behind the schedule the schedule is kept: a short delay is caught up, but
    // with more due than one slice carries, what is long overdue is skipped.
    mSkippedCount += mPlayer.skipLate(now, FrameUs, SliceStates);
    for (int index : mPlayer.takeDue(now, SliceStates)) {
        if (now - mPlayer.dueUs(index) > FrameUs)
            ++mLateCount;
        if (!send(index))
            return;
    }
    if (wasPlaying && !mPlayer.playing()) {
        emit playingChanged(false);
        emit finished();
    }
    schedule();
}

void ReplayEngine::setRange(qint64 fromMs, qint64 toMs)
{
    mPlayer.setRange(fromMs, toMs);
    schedule();
}

void ReplayEngine::play()
{
    if (mPlayer.playing())
        return;
    mPlayer.play(mClock());
    emit playingChanged(mPlayer.playing());
    onTimer();
}

void ReplayEngine::pause()
{
    if (!mPlayer.playing())
        return;
    mPlayer.pause(mClock());
    mTimer.stop();
    emit playingChanged(false);
}

void ReplayEngine::togglePlay()
{
    if (mPlayer.playing())
        pause();
    else
        play();
}

void ReplayEngine::seek(qint64 ms)
{
    const bool wasPlaying = mPlayer.playing();
    const int index = mPlayer.seek(ms, mClock());
    if (index >= 0)
        send(index);
    if (wasPlaying != mPlayer.playing())
        emit playingChanged(mPlayer.playing());
    schedule();
}

void ReplayEngine::step(int delta)
{
    const bool wasPlaying = mPlayer.playing();
    const int index = mPlayer.step(delta, mClock());
    if (index >= 0)
        send(index);
    if (wasPlaying)
        emit playingChanged(false);
    schedule();
}

void ReplayEngine::setSpeed(double speed)
{
    mPlayer.setSpeed(speed, mClock());
    schedule();
}

void ReplayEngine::setLoop(bool loop)
{
    mPlayer.setLoop(loop);
    schedule();
}

QString ReplayEngine::paceText() const
{
    QStringList parts;
    auto states = [](qint64 n) { return QString(n == 1 ? "%1 state" : "%1 states").arg(n); };
    if (mLateCount > 0)
        parts << states(mLateCount) + " sent late";
    if (mSkippedCount > 0)
        parts << (mLateCount > 0 ? QString::number(mSkippedCount) : states(mSkippedCount)) + " skipped";
    return parts.isEmpty() ? QString() : "the pace could not be held: " + parts.join(", ");
}

qint64 ReplayEngine::positionMs() const { return mPlayer.positionMs(mClock()); }

} // namespace replay
