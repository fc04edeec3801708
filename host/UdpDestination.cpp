#include "host/UdpDestination.h"

#include <QHostInfo>

bool parseUdpDestination(const QString& text, quint16 defaultPort, UdpDestination& out, QString& error)
{
    QString host = text;
    quint16 port = defaultPort;
    const int colon = text.lastIndexOf(':');
    if (colon >= 0) {
        if (text.indexOf(':') != colon) {
            error = QStringLiteral("'%1' is not HOST[:PORT] (IPv6 addresses are not supported)").arg(text);
            return false;
        }
        bool ok = false;
        const uint value = text.mid(colon + 1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            error = QStringLiteral("'%1' needs a port from 1 to 65535 after the ':'").arg(text);
            return false;
        }
        host = text.left(colon);
        port = quint16(value);
    }
    if (host.isEmpty()) {
        error = QStringLiteral("'%1' names no host").arg(text);
        return false;
    }
    QHostAddress address;
    if (!address.setAddress(host)) {
        const QHostInfo info = QHostInfo::fromName(host);
        for (const QHostAddress& found : info.addresses()) {
            if (found.protocol() == QAbstractSocket::IPv4Protocol) {
                address = found;
                break;
            }
        }
        if (address.isNull()) {
            error = QStringLiteral("cannot find the host '%1': %2")
                        .arg(host,
                             info.error() == QHostInfo::NoError ? QStringLiteral("it has no IPv4 address")
                                                                : info.errorString());
            return false;
        }
    }
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        error = QStringLiteral("'%1' is not an IPv4 address").arg(host);
        return false;
    }
    out = UdpDestination{address, port};
    return true;
}
