#include "tools/replay/ReplayPlayer.h"

#include <algorithm>
#include <cmath>

namespace replay {

ReplayPlayer::ReplayPlayer(const TimeTable& table) : mTable(table)
{
    const int n = table.count();
    setRange(0, n > 0 ? table.timeMs(n - 1) : 0);
}

void ReplayPlayer::setRange(qint64 fromMs, qint64 toMs)
{
    const int n = mTable.count();
    mFirst = 0;
    mLast = n - 1;
    if (n == 0)
        return;
    // Index of the first state at or after fromMs, and of the last at or before toMs.
    const int first = std::min(mTable.firstFrom(fromMs), n - 1);
    int last = mTable.indexAt(toMs);
    if (last < first)
        last = first; // a range between two states still plays the one after it
    mFirst = first;
    mLast = last;
    mFromMs = mTable.timeMs(first);
    mToMs = mTable.timeMs(last);
    mNext = mFirst;
    mCurrent = -1;
    mPausedMs = mFromMs;
    mAnchorMs = double(mFromMs);
}

double ReplayPlayer::recordingMsAt(qint64 nowUs) const
{
    return mAnchorMs + double(nowUs - mAnchorUs) / 1000.0 * mSpeed;
}

void ReplayPlayer::anchor(double recordingMs, qint64 nowUs)
{
    mAnchorMs = recordingMs;
    mAnchorUs = nowUs;
}

void ReplayPlayer::setSpeed(double speed, qint64 nowUs)
{
    if (!std::isfinite(speed))
        return;
    speed = std::clamp(speed, MinSpeed, MaxSpeed);
    if (mPlaying)
        anchor(recordingMsAt(nowUs), nowUs);
    mSpeed = speed;
}

void ReplayPlayer::play(qint64 nowUs)
{
    if (mPlaying || mLast < 0)
        return;
    if (atEnd()) {
        mNext = mFirst;
        mCurrent = -1;
    }
    // From the time last shown, so the gap to the next state is kept.
    anchor(double(mCurrent >= 0 ? mPausedMs : mTable.timeMs(mNext)), nowUs);
    mPlaying = true;
}

void ReplayPlayer::pause(qint64 nowUs)
{
    if (!mPlaying)
        return;
    mPausedMs = positionMs(nowUs);
    mPlaying = false;
}

int ReplayPlayer::seek(qint64 ms, qint64 nowUs)
{
    if (mLast < 0)
        return -1;
    ms = std::clamp(ms, mFromMs, mToMs);
    const int index = std::clamp(mTable.indexAt(ms), mFirst, mLast);
    mCurrent = index;
    mNext = index + 1;
    mPausedMs = std::max(ms, mTable.timeMs(index));
    anchor(double(mPausedMs), nowUs);
    if (mPlaying && atEnd() && !mLoop)
        mPlaying = false;
    return index;
}

int ReplayPlayer::step(int delta, qint64 nowUs)
{
    if (mLast < 0)
        return -1;
    mPlaying = false;
    const qint64 from = mCurrent >= 0 ? mCurrent : (delta > 0 ? mFirst - 1 : mFirst);
    const int index = int(std::clamp<qint64>(from + delta, mFirst, mLast));
    mCurrent = index;
    mNext = index + 1;
    mPausedMs = mTable.timeMs(index);
    anchor(double(mPausedMs), nowUs);
    return index;
}

qint64 ReplayPlayer::dueUs(int index) const
{
    const double gapMs = double(mTable.timeMs(index)) - mAnchorMs;
    return mAnchorUs + qint64(std::ceil(std::max(0.0, gapMs) * 1000.0 / mSpeed));
}

int ReplayPlayer::skipLate(qint64 nowUs, qint64 lateUs, int backlog)
{
    if (!mPlaying || atEnd())
        return 0;
    // Due times grow with the index: the newest state due, then the first of those
    // before it that is not yet late by more than lateUs.
    int lo = mNext, hi = mLast + 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (dueUs(mid) <= nowUs)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int newest = lo - 1;
    if (newest - mNext < backlog)
        return 0;
    lo = mNext;
    hi = newest;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (dueUs(mid) < nowUs - lateUs)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int skipped = lo - mNext;
    mNext = lo;
    if (skipped > 0)
        mCurrent = lo - 1;
    return skipped;
}

std::vector<int> ReplayPlayer::takeDue(qint64 nowUs, int limit)
{
    std::vector<int> due;
    bool restarted = false;
    while (mPlaying) {
        if (atEnd()) {
            if (!mLoop) {
                mPlaying = false;
                mPausedMs = mTable.timeMs(mLast);
                break;
            }
            if (restarted || !due.empty())
                break; // at most one pass per call, however late the caller is
            restarted = true;
            // The first state follows the last after the mean gap between states
            // (100 ms of clock time for a range without duration), so a loop never spins.
            const double gapMs = mToMs > mFromMs ? double(mToMs - mFromMs) / (mLast - mFirst) : 100 * mSpeed;
            const qint64 endUs = dueUs(mLast);
            mNext = mFirst;
            anchor(double(mFromMs) - gapMs, endUs);
        }
        if (int(due.size()) >= limit || dueUs(mNext) > nowUs)
            break;
        due.push_back(mNext);
        mCurrent = mNext++;
    }
    return due;
}

qint64 ReplayPlayer::nextDueUs() const
{
    if (!mPlaying)
        return -1;
    if (atEnd())
        return mLoop ? dueUs(mLast) : -1;
    return dueUs(mNext);
}

qint64 ReplayPlayer::positionMs(qint64 nowUs) const
{
    if (mLast < 0)
        return 0;
    if (mPlaying) {
        const double ms = recordingMsAt(nowUs);
        const qint64 shown = mCurrent >= 0 ? mTable.timeMs(mCurrent) : mFromMs;
        // Never ahead of the next state that has yet to leave, never behind the last sent.
        const qint64 limit = atEnd() ? mToMs : mTable.timeMs(mNext);
        return std::clamp(qint64(ms), shown, std::max(shown, limit));
    }
    return mCurrent >= 0 ? mPausedMs : mFromMs;
}

} // namespace replay
