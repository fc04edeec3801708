#pragma once

#include <QHostAddress>
#include <QString>

namespace replay {

// Where a replay goes and the socket it leaves by.
class ReplaySender {
public:
    ReplaySender();
    ~ReplaySender();
    ReplaySender(const ReplaySender&) = delete;
    ReplaySender& operator=(const ReplaySender&) = delete;

    // host may be a dotted quad or a name (resolved once, first IPv4 address).
    bool setTarget(const QString& host, quint16 port, QString& error);
    QHostAddress address() const { return mAddress; }
    quint16 port() const { return mPort; }
    QString targetText() const;

    // False when the system refused the datagram; the replay goes on.
    bool send(const QByteArray& datagram);
    qint64 sent() const { return mSent; }
    qint64 failed() const { return mFailed; }
    // "3 datagrams could not be sent to 10.1.2.3:5566 (Network is unreachable)", or empty.
    QString failureText() const;

private:
    int mSocket = -1;
    QHostAddress mAddress{QHostAddress::LocalHost};
    quint16 mPort;
    qint64 mSent = 0;
    qint64 mFailed = 0;
    QString mFirstReason;
};

} // namespace replay
