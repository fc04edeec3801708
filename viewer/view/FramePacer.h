#pragma once

#include <QtGlobal>

// Decides which ticks of the render timer draw a frame, and how far the frame
// advances the animations. A tick draws only when something on screen can have
// changed: a request from an event, or a scene that moves by itself or whose
// inputs differ from the last frame. Animations stay on real elapsed time: a
// frame advances them by the time since the last frame, or, when ticks were
// skipped, by the time since the last tick that saw nothing moving (anything
// that started moving did so after that tick). Times are in nanoseconds of one
// monotonic clock.
class FramePacer {
public:
    // Something outside the frame changed what the view shows.
    void request() { mRequested = true; }
    bool requested() const { return mRequested; }

    // One tick of the render timer; `changing` is true while the scene moves by
    // itself or its inputs differ from the last frame. True when the tick draws.
    bool tick(qint64 nowNs, bool changing);

    // A frame starts (from a tick or from the window system); clears the request.
    // Returns the seconds the animations advance in this frame.
    double beginFrame(qint64 nowNs);

    qint64 framesDrawn() const { return mFrames; }
    qint64 ticksSkipped() const { return mSkipped; }
    // Ticks skipped since the last frame.
    qint64 idleTicks() const { return mIdleTicks; }

private:
    bool mRequested = true; // the first tick draws
    qint64 mLastFrameNs = -1;
    qint64 mLastIdleTickNs = -1;
    qint64 mFrames = 0;
    qint64 mSkipped = 0;
    qint64 mIdleTicks = 0;
};
