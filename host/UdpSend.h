#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

// Sends state datagrams. Knows nothing of what they hold; StateDatagram
// (common/) encodes them.
//
//   UdpSend udp(StateDatagram::Port);
//   udp.createSocket();
//   udp.send(StateDatagram::encode(state));
//
// GUI thread only.
class UdpSend : public QObject {
public:
    explicit UdpSend(quint16 port, QObject* parent = nullptr);

    // Creates the socket unless there is one; true when a socket exists.
    // The socket is never bound: the first send takes an ephemeral port.
    bool createSocket();

    // true: 255.255.255.255; false (initial): 127.0.0.1.
    void setBroadcast(bool broadcast);
    QHostAddress destination() const;

    // Sends the bytes as one datagram to destination():port. false, without
    // retry, when there is no socket, nothing to send, or the datagram was not
    // written whole.
    bool send(const QByteArray& datagram);

private:
    quint16 mPort;
    bool mBroadcast = false;
    QUdpSocket* mSocket = nullptr; // child of this object
};
