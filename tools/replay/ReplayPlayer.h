#pragma once

#include "tools/replay/Recording.h"

#include <climits>
#include <vector>

namespace replay {

// When each state of a recording is due, on a clock the caller passes in
// (microseconds, monotonic). Keeps no timer and sends nothing: the caller asks
// which states are due, sends them and sleeps until nextDueUs().
//
// While playing, recording time runs at speed × clock time from an anchor (a
// recording time and the clock time it was taken at), so timing never drifts
// and a change of speed or a seek simply sets a new anchor.
class ReplayPlayer {
public:
    static constexpr double MinSpeed = 1.0 / 64;
    static constexpr double MaxSpeed = 1024;

    explicit ReplayPlayer(const TimeTable& table);

    // Limits playing to states whose time lies in [fromMs, toMs].
    void setRange(qint64 fromMs, qint64 toMs);
    void setSpeed(double speed, qint64 nowUs);
    void setLoop(bool loop) { mLoop = loop; }

    void play(qint64 nowUs);
    void pause(qint64 nowUs);
    // The state to send at once for a jump to ms (clamped to the range).
    int seek(qint64 ms, qint64 nowUs);
    // Pauses and moves by delta states within the range; the state to send.
    int step(int delta, qint64 nowUs);

    // States due at nowUs, oldest first, in the order they must leave, at most limit;
    // marks them sent. Reaching the end pauses (or, with loop, starts over at the
    // range's first state).
    std::vector<int> takeDue(qint64 nowUs, int limit = INT_MAX);
    // Far behind the schedule, with more than backlog states due: passes over those
    // due more than lateUs before nowUs while a newer one is due, which then leaves
    // next; the number passed over. A smaller backlog is left to catch up.
    int skipLate(qint64 nowUs, qint64 lateUs, int backlog);
    // Clock time at which a state is due on the current schedule.
    qint64 dueUs(int index) const;
    // Clock time at which takeDue has work again; -1 when there is none (paused, or
    // at the end without loop, where takeDue pauses).
    qint64 nextDueUs() const;

    bool playing() const { return mPlaying; }
    bool loop() const { return mLoop; }
    double speed() const { return mSpeed; }
    bool atEnd() const { return mNext > mLast; }
    int current() const { return mCurrent; } // last state sent, -1 before the first
    int first() const { return mFirst; }
    int last() const { return mLast; }
    // Recording time shown to the user: runs smoothly while playing.
    qint64 positionMs(qint64 nowUs) const;
    qint64 fromMs() const { return mFromMs; }
    qint64 toMs() const { return mToMs; }

private:
    double recordingMsAt(qint64 nowUs) const;
    void anchor(double recordingMs, qint64 nowUs);

    const TimeTable& mTable;
    int mFirst = 0;
    int mLast = -1;
    qint64 mFromMs = 0;
    qint64 mToMs = 0;
    int mNext = 0;
    int mCurrent = -1;
    qint64 mPausedMs = 0; // time shown while paused: the state's, or a time sought between states
    bool mPlaying = false;
    bool mLoop = false;
    double mSpeed = 1;
    double mAnchorMs = 0;
    qint64 mAnchorUs = 0;
};

} // namespace replay
