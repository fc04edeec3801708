#include "host/UdpSend.h"

#include <QUdpSocket>

UdpSend::UdpSend(quint16 port, QObject* parent) : QObject(parent), mPort(port) { }

bool UdpSend::createSocket()
{
    if (!mSocket)
        mSocket = new QUdpSocket(this);
    return mSocket != nullptr;
}

void UdpSend::setBroadcast(bool broadcast) { mBroadcast = broadcast; }

QHostAddress UdpSend::destination() const
{
    return mBroadcast ? QHostAddress(QHostAddress::Broadcast) : QHostAddress(QHostAddress::LocalHost);
}

bool UdpSend::send(const QByteArray& datagram)
{
    if (!mSocket || datagram.isEmpty())
        return false;
    return mSocket->writeDatagram(datagram, destination(), mPort) == datagram.size();
}
