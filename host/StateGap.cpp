#include "host/StateGap.h"

QString StateGap::onState(qint64 nowMs)
{
    QString line;
    if (mSilent)
        line = QStringLiteral("Flight states are back after a gap of %1 s.")
                   .arg(double(nowMs - mLastMs) / 1000.0, 0, 'f', 1);
    mSeen = true;
    mSilent = false;
    mLastMs = nowMs;
    return line;
}

QString StateGap::check(qint64 nowMs)
{
    if (!mSeen || mSilent || nowMs - mLastMs < kSilenceMs)
        return QString();
    mSilent = true;
    return QStringLiteral("No flight state for %1 s.").arg(double(kSilenceMs) / 1000.0, 0, 'f', 1);
}
