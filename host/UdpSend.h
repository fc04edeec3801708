#pragma once

#include <QHostAddress>
#include <QObject>
#include <QStringList>

class QUdpSocket;

// Sends one state datagram built from an ordered list of key/value pairs.
// Knows nothing of what the keys mean; StateDatagram (common/) supplies them.
//
//   UdpSend udp(StateDatagram::Port);
//   udp.createSocket();
//   udp.clearPairs();
//   udp.addPair("Roll", "0.5");
//   udp.addPair("SenderIP", "\"10.0.0.2\"");   // string values come quoted
//   udp.sendPairs();                            // {"Roll":0.5,"SenderIP":"10.0.0.2"}
//
// GUI thread only. Pairs stay after a send; clear them before the next one.
class UdpSend : public QObject {
public:
    explicit UdpSend(quint16 port, QObject* parent = nullptr);

    // Creates the socket unless there is one; true when a socket exists.
    // The socket is never bound: the first send takes an ephemeral port.
    bool createSocket();

    void clearPairs();
    // value is finished datagram text: a string value includes its quotes.
    void addPair(const QString& key, const QString& value);

    // true: 255.255.255.255; false (initial): 127.0.0.1.
    void setBroadcast(bool broadcast);
    QHostAddress destination() const;

    // Sends the pairs as one Latin-1 datagram to destination():port. false,
    // without retry, when there is no socket, no pair, a key without a value,
    // or the datagram was not written whole.
    bool sendPairs();

private:
    quint16 mPort;
    bool mBroadcast = false;
    QUdpSocket* mSocket = nullptr; // child of this object
    QStringList mKeys;
    QStringList mValues;
};
