#include "viewer/view/FramePacer.h"

#include <algorithm>

bool FramePacer::tick(qint64 nowNs, bool changing)
{
    if (mRequested || changing)
        return true;
    mLastIdleTickNs = nowNs;
    ++mSkipped;
    ++mIdleTicks;
    return false;
}

double FramePacer::beginFrame(qint64 nowNs)
{
    double seconds = 0;
    if (mLastFrameNs >= 0) {
        const qint64 since = std::max(mLastFrameNs, mLastIdleTickNs);
        seconds = double(std::max<qint64>(nowNs - since, 0)) / 1e9;
    }
    mLastFrameNs = nowNs;
    mRequested = false;
    mIdleTicks = 0;
    ++mFrames;
    return seconds;
}
