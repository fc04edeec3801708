#pragma once

#include <QHostAddress>
#include <QString>

// One place the host sends its state datagrams to.
struct UdpDestination {
    QHostAddress address;
    quint16 port = 0;
    QString text() const { return QStringLiteral("%1:%2").arg(address.toString()).arg(port); }
};

// "HOST[:PORT]" (HOST a name or an IPv4 address; PORT 1 to 65535, else
// defaultPort) to one IPv4 destination; false with the reason otherwise.
// A name is looked up here, once.
bool parseUdpDestination(const QString& text, quint16 defaultPort, UdpDestination& out, QString& error);
