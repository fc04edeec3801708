#include "common/LocalAddresses.h"
#include "tests/common/QtPrint.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

QStringList texts(const QList<QHostAddress>& addresses)
{
    QStringList result;
    for (const QHostAddress& address : addresses)
        result << address.toString();
    return result;
}

TEST(NonLoopbackIPv4Addresses, SkipLoopbackAndUnspecifiedAddressesByValueAndKeepTheOrder)
{
    const struct {
        QStringList addresses;
        QStringList kept;
    } cases[] = {
        // By value: the text "127.0." also occurs in 10.127.0.5.
        {{"127.0.0.1", "10.127.0.5"}, {"10.127.0.5"}},
        {{"127.1.2.3", "0.0.0.0", "192.168.1.4", "10.0.0.2"}, {"192.168.1.4", "10.0.0.2"}},
        {{"::1", "fe80::1", "127.255.255.254", "172.16.127.0"}, {"172.16.127.0"}},
        {{"::1", "127.0.0.1", "not an address"}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.addresses.join(' ').toStdString());
        QList<QHostAddress> addresses;
        for (const QString& text : c.addresses)
            addresses << QHostAddress(text);
        EXPECT_EQ(c.kept, texts(nonLoopbackIPv4Addresses(addresses)));
    }
}

} // namespace
