#include "host/UdpSend.h"

#include "common/StateDatagram.h"

#include <QUdpSocket>

UdpSend::UdpSend(quint16 port, QObject* parent)
    : QObject(parent)
    , mPort(port)
{
}

bool UdpSend::createSocket()
{
    if (!mSocket)
        mSocket = new QUdpSocket(this);
    return mSocket != nullptr;
}

void UdpSend::clearPairs()
{
    mKeys.clear();
    mValues.clear();
}

void UdpSend::addPair(const QString& key, const QString& value)
{
    mKeys.append(key);
    mValues.append(value);
}

void UdpSend::setBroadcast(bool broadcast)
{
    mBroadcast = broadcast;
}

QHostAddress UdpSend::destination() const
{
    return mBroadcast ? QHostAddress(QHostAddress::Broadcast) : QHostAddress(QHostAddress::LocalHost);
}

bool UdpSend::sendPairs()
{
    if (!mSocket || mKeys.isEmpty() || mKeys.size() != mValues.size())
        return false;
    // An empty value would put "key": straight before the next comma or brace,
    // which no receiver can read.
    for (const QString& value : qAsConst(mValues)) {
        if (value.isEmpty())
            return false;
    }
    const QByteArray datagram = StateDatagram::text(mKeys, mValues).toLatin1();
    return mSocket->writeDatagram(datagram, destination(), mPort) == datagram.size();
}
