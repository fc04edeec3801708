#include "host/UdpSend.h"

#include "common/QtPrint.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A receiver of our own on a free loopback port stands in for the visualiser.
class UdpSendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "UdpSend_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            app = std::make_unique<QCoreApplication>(argc, argv);
    }

    static void TearDownTestSuite() { app.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0)) << receiver.errorString().toStdString();
        port = receiver.localPort();
    }

    QNetworkDatagram receive()
    {
        if (!receiver.hasPendingDatagrams() && !receiver.waitForReadyRead(5000))
            return QNetworkDatagram();
        return receiver.receiveDatagram();
    }

    static std::unique_ptr<QCoreApplication> app;
    QUdpSocket receiver;
    quint16 port = 0;
};

std::unique_ptr<QCoreApplication> UdpSendTest::app;

TEST_F(UdpSendTest, SendsThePairsAsOneLatin1DatagramToTheLocalHost)
{
    UdpSend udp(port);
    ASSERT_TRUE(udp.createSocket());
    ASSERT_TRUE(udp.createSocket()); // a second call keeps the socket
    udp.addPair("Roll", "0.5");
    udp.addPair("SenderIP", "\"10.0.0.2\"");
    EXPECT_TRUE(udp.sendPairs());

    QNetworkDatagram datagram = receive();
    EXPECT_EQ(datagram.data(), QByteArray("{\"Roll\":0.5,\"SenderIP\":\"10.0.0.2\"}"));
    EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));

    // Pairs survive a send; a cleared list is rebuilt from scratch.
    EXPECT_TRUE(udp.sendPairs());
    EXPECT_EQ(receive().data(), QByteArray("{\"Roll\":0.5,\"SenderIP\":\"10.0.0.2\"}"));
    udp.clearPairs();
    udp.addPair("Note", QString("\"caf%1\"").arg(QChar(0xE9)));
    EXPECT_TRUE(udp.sendPairs());
    EXPECT_EQ(receive().data(), QByteArray("{\"Note\":\"caf\xE9\"}"));
}

TEST_F(UdpSendTest, RefusesWhatCannotBeSentWhole)
{
    const struct {
        const char* name;
        bool socket;
        QString key;
        QString value;
    } cases[] = {
        {"no socket", false, "Roll", "0.5"},
        {"no pairs", true, QString(), QString()},
        {"key without a value", true, "Roll", ""},
        {"larger than a datagram", true, "Roll", QString(70000, QChar('1'))},
    };
    for (const auto& c : cases) {
        UdpSend udp(port);
        if (c.socket)
            udp.createSocket();
        if (!c.key.isNull())
            udp.addPair(c.key, c.value);
        EXPECT_FALSE(udp.sendPairs()) << c.name;
    }

    // Nothing of the above reached the receiver: the next datagram is this one.
    UdpSend udp(port);
    udp.createSocket();
    udp.addPair("Marker", "1");
    ASSERT_TRUE(udp.sendPairs());
    EXPECT_EQ(receive().data(), QByteArray("{\"Marker\":1}"));
}

TEST_F(UdpSendTest, BroadcastFlagSwitchesTheDestination)
{
    // A broadcast would leave this machine, so only the address choice is
    // checked for it; switching back must deliver on loopback again.
    UdpSend udp(port);
    udp.createSocket();
    EXPECT_EQ(udp.destination(), QHostAddress(QHostAddress::LocalHost));
    udp.setBroadcast(true);
    EXPECT_EQ(udp.destination(), QHostAddress("255.255.255.255"));
    udp.setBroadcast(false);
    EXPECT_EQ(udp.destination(), QHostAddress("127.0.0.1"));
    udp.addPair("Roll", "0");
    ASSERT_TRUE(udp.sendPairs());
    EXPECT_EQ(receive().data(), QByteArray("{\"Roll\":0}"));
}

} // namespace
