#pragma once

#include <QHostAddress>
#include <QString>
#include <QUdpSocket>

namespace replay {

// Where a replay goes and the socket it leaves by.
class ReplaySender {
public:
    ReplaySender();

    // host may be a dotted quad or a name (resolved once, first IPv4 address).
    bool setTarget(const QString& host, quint16 port, QString& error);
    QHostAddress address() const { return mAddress; }
    quint16 port() const { return mPort; }
    QString targetText() const;

    // False when the system refused the datagram; the replay goes on.
    bool send(const QByteArray& datagram);
    qint64 sent() const { return mSent; }
    qint64 failed() const { return mFailed; }

private:
    QUdpSocket mSocket;
    QHostAddress mAddress{QHostAddress::LocalHost};
    quint16 mPort;
    qint64 mSent = 0;
    qint64 mFailed = 0;
};

} // namespace replay
