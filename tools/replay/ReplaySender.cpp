#include "ReplaySender.h"

#include "common/StateDatagram.h"

#include <QHostInfo>

namespace replay {

ReplaySender::ReplaySender() : mPort(StateDatagram::Port) { }

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
    if (mSocket.writeDatagram(datagram, mAddress, mPort) == datagram.size()) {
        ++mSent;
        return true;
    }
    ++mFailed;
    return false;
}

} // namespace replay
