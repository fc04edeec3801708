#pragma once

#include <QString>

// Silence in the flight states of a run, as when the aircraft stalls: one
// line once they have stopped for a second, one when they come back, with the
// length of the gap. The clock is the caller's, in milliseconds.
class StateGap {
public:
    static constexpr qint64 kSilenceMs = 1000;

    // A flight state arrived; the line to say, or an empty text.
    QString onState(qint64 nowMs);
    // Called often while a run lasts; the line to say, or an empty text.
    QString check(qint64 nowMs);
    // The run ended: the next state starts afresh.
    void reset() { *this = StateGap(); }

private:
    bool mSeen = false;
    bool mSilent = false;
    qint64 mLastMs = 0;
};
