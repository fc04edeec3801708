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

TEST_F(UdpSendTest, SendsTheBytesAsOneDatagramToTheLocalHost)
{
    UdpSend udp(port);
    ASSERT_TRUE(udp.createSocket());
    ASSERT_TRUE(udp.createSocket()); // a second call keeps the socket
    const QByteArray text("{\"Roll\":0.5,\"SenderIP\":\"10.0.0.2\"}");
    EXPECT_TRUE(udp.send(text));

    QNetworkDatagram datagram = receive();
    EXPECT_EQ(datagram.data(), text);
    EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));

    // Every byte goes as it is, none is re-encoded.
    EXPECT_TRUE(udp.send("{\"Note\":\"caf\xE9\"}"));
    EXPECT_EQ(receive().data(), QByteArray("{\"Note\":\"caf\xE9\"}"));
}

TEST_F(UdpSendTest, RefusesWhatCannotBeSentWhole)
{
    const struct {
        const char* name;
        bool socket;
        QByteArray datagram;
    } cases[] = {
        {"no socket", false, "{\"Roll\":0.5}"},
        {"nothing to send", true, QByteArray()},
        {"larger than a datagram", true, "{\"Roll\":" + QByteArray(70000, '1') + "}"},
    };
    for (const auto& c : cases) {
        UdpSend udp(port);
        if (c.socket)
            udp.createSocket();
        EXPECT_FALSE(udp.send(c.datagram)) << c.name;
    }

    // Nothing of the above reached the receiver: the next datagram is this one.
    UdpSend udp(port);
    udp.createSocket();
    ASSERT_TRUE(udp.send("{\"Marker\":1}"));
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
    ASSERT_TRUE(udp.send("{\"Roll\":0}"));
    EXPECT_EQ(receive().data(), QByteArray("{\"Roll\":0}"));
}

} // namespace
