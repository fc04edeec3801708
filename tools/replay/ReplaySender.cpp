#include "tools/replay/ReplaySender.h"

#include "common/StateDatagram.h"

#include <QHostInfo>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace replay {

ReplaySender::ReplaySender() : mPort(StateDatagram::Port)
{
    // A blocking socket: a full send buffer holds the replay back (it then skips
    // late states) instead of refusing datagrams; the time-out bounds the wait.
    mSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (mSocket >= 0) {
        const int on = 1;
        ::setsockopt(mSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        const timeval limit{0, 200 * 1000};
        ::setsockopt(mSocket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    } else {
        mFirstReason = QString::fromLocal8Bit(std::strerror(errno));
    }
}

ReplaySender::~ReplaySender()
{
    if (mSocket >= 0)
        ::close(mSocket);
}

bool ReplaySender::setTarget(const QString& host, quint16 port, QString& error)
{
    QHostAddress address;
    if (!address.setAddress(host)) {
        const QHostInfo info = QHostInfo::fromName(host);
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                address = a;
                break;
            }
        }
        if (address.isNull()) {
            error = QString("cannot resolve host '%1'").arg(host);
            return false;
        }
    }
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        error = QString("'%1' is not an IPv4 address").arg(host);
        return false;
    }
    if (port == 0) {
        error = "port must be from 1 to 65535";
        return false;
    }
    mAddress = address;
    mPort = port;
    return true;
}

QString ReplaySender::targetText() const { return QString("%1:%2").arg(mAddress.toString()).arg(mPort); }

bool ReplaySender::send(const QByteArray& datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(mPort);
    to.sin_addr.s_addr = htonl(mAddress.toIPv4Address());
    ssize_t n = -1;
    if (mSocket >= 0) {
        do
            n = ::sendto(mSocket, datagram.constData(), size_t(datagram.size()), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
        while (n < 0 && errno == EINTR);
    }
    if (n == datagram.size()) {
        ++mSent;
        return true;
    }
    if (mFailed++ == 0 && mSocket >= 0)
        mFirstReason = QString::fromLocal8Bit(n < 0 ? std::strerror(errno) : "datagram cut short");
    return false;
}

QString ReplaySender::failureText() const
{
    if (mFailed == 0)
        return QString();
    return QString("%1 datagram%2 could not be sent to %3 (%4)")
        .arg(mFailed)
        .arg(mFailed == 1 ? "" : "s")
        .arg(targetText(), mFirstReason);
}

} // namespace replay
