#include "viewer/app/ReceiveDrops.h"

#include <linux/sock_diag.h>
#include <sys/socket.h>

namespace ReceiveDrops {

int enlargeReceiveBuffer(int fd)
{
    // The system doubles what it is asked for, for its bookkeeping.
    int wanted = 1024 * 1024;
    int size = 0;
    socklen_t length = sizeof size;
    // The forced size ignores net.core.rmem_max but needs CAP_NET_ADMIN; the
    // plain one is capped by it.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return -1;
    return size;
}

std::optional<uint32_t> droppedSoFar(int fd)
{
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 || length <= SK_MEMINFO_DROPS * sizeof info[0])
        return std::nullopt;
    return info[SK_MEMINFO_DROPS];
}

QString Report::update(uint32_t dropped, int64_t nowMs)
{
    if (!mStarted) {
        mStarted = true;
        mLast = dropped;
    }
    if (dropped != mLast) {
        if (mUnsaid == 0)
            mFirstMs = nowMs;
        mUnsaid += uint32_t(dropped - mLast); // the count wraps at 2^32
        mLast = dropped;
        mLastDropMs = nowMs;
        return QString();
    }
    if (mUnsaid == 0 || nowMs - mLastDropMs < kQuietMs)
        return QString();
    const QString line = QStringLiteral("The system dropped %1 datagrams on UDP port %2 within %3 s: they came faster "
                                        "than this program could read them.")
                             .arg(mUnsaid)
                             .arg(mPort)
                             .arg(double(mLastDropMs - mFirstMs) / 1000.0, 0, 'f', 1);
    mUnsaid = 0;
    return line;
}

} // namespace ReceiveDrops
