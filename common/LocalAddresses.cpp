#include "common/LocalAddresses.h"

#include <QNetworkInterface>

QList<QHostAddress> nonLoopbackIPv4Addresses() { return nonLoopbackIPv4Addresses(QNetworkInterface::allAddresses()); }

QList<QHostAddress> nonLoopbackIPv4Addresses(const QList<QHostAddress>& addresses)
{
    QList<QHostAddress> result;
    for (const QHostAddress& address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isNull() || address.isLoopback() ||
            address == QHostAddress(QHostAddress::AnyIPv4))
            continue;
        result.append(address);
    }
    return result;
}
