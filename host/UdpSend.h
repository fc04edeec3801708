#pragma once

#include "host/UdpDestination.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

class QUdpSocket;

// Sends state datagrams. Knows nothing of what they hold; StateDatagram
// (common/) encodes them.
//
//   UdpSend udp(StateDatagram::Port);
//   udp.createSocket();
//   udp.send(StateDatagram::encode(state));
//
// Sends that fail are said on the console for each destination, not once per
// datagram: a line at the first failure (destination and reason), a count
// every 10 s while they keep failing, and a line when they go out again.
//
// GUI thread only.
class UdpSend : public QObject {
public:
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    using Destination = UdpDestination;

    // clock: empty for the process's monotonic clock.
    explicit UdpSend(quint16 port, QObject* parent = nullptr, Clock clock = Clock());
    ~UdpSend() override;

    // Creates the socket unless there is one; true when a socket exists.
    // The socket is never bound: the first send takes an ephemeral port.
    bool createSocket();

    // true: 255.255.255.255; false (initial): 127.0.0.1. No effect while
    // destinations of their own are set.
    void setBroadcast(bool broadcast);
    QHostAddress destination() const;

    // Sends to these instead of the local host or the broadcast address; an
    // empty list goes back to those.
    void setDestinations(const QList<Destination>& destinations);
    // Where send() sends now.
    QList<Destination> destinations() const;

    // Sends the bytes as one datagram to each destination. false, without
    // retry, when there is no socket, nothing to send, or the datagram was not
    // written whole to every destination.
    bool send(const QByteArray& datagram);

    // While sends fail, a count of the failures is said this often.
    static constexpr qint64 kFailureCountEveryMs = 10000;

private:
    // Failed sends to one destination since a datagram last went out there.
    struct Failures {
        QString reason;
        qint64 sinceMs = 0;
        qint64 lastSaidMs = 0;
        int total = 0;
        int unsaid = 0; // failures since the last line
    };
    void noteSent(const QString& destination);
    void noteFailed(const QString& destination, const QString& reason);
    // Says what was lost to destinations no longer sent to (all: to every one).
    void leaveUnused(bool all = false);

    quint16 mPort;
    bool mBroadcast = false;
    QList<Destination> mDestinations;
    QUdpSocket* mSocket = nullptr; // child of this object
    Clock mClock;
    std::map<QString, Failures> mFailures; // by Destination::text()
};
