#pragma once

#include <QHostAddress>
#include <QList>

// This machine's IPv4 addresses as another machine would see them: every
// IPv4 address of its interfaces but the null one, 0.0.0.0 and the loopback
// ones (127.0.0.0/8, judged by value: 10.127.0.5 is kept), in the order the
// system lists them.
QList<QHostAddress> nonLoopbackIPv4Addresses();
// The same choice among the given addresses, kept in their order.
QList<QHostAddress> nonLoopbackIPv4Addresses(const QList<QHostAddress>& addresses);
