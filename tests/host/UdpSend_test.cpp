#include "host/UdpSend.h"

#include "common/StateDatagram.h"

#include "tests/common/QtPrint.h"
#include "tests/link/LogCapture.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

// Console lines said since the last call.
class SaidLines {
public:
    std::vector<std::string> take()
    {
        const std::string text = capture.text();
        std::vector<std::string> lines;
        size_t start = mSeen;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        mSeen = start;
        return lines;
    }

private:
    LogCapture capture;
    size_t mSeen = 0;
};

TEST_F(UdpSendTest, FailedSendsAreSaidAtTheStartEvery10sAndWhenTheyGoOutAgain)
{
    qint64 now = 0;
    UdpSend udp(port, nullptr, [&now] { return now; });
    udp.createSocket();
    const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
    const QByteArray tooLarge = "{\"Roll\":" + QByteArray(70000, '1') + "}";
    const struct {
        qint64 atMs;
        bool fits;
        const char* said; // part of the one line due, or null for none
    } steps[] = {
        {0, false, "Cannot send state datagrams to 127.0.0.1:"},
        {5000, false, nullptr},
        {9999, false, nullptr},
        {10000, false, "3 more state datagrams to 127.0.0.1:"},
        {15000, false, nullptr},
        {20000, false, "2 more state datagrams to 127.0.0.1:"},
        {21500, true, "State datagrams reach 127.0.0.1:"},
        {21600, true, nullptr},
        {22000, false, "Cannot send state datagrams"},
    };
    SaidLines said;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.atMs);
        now = step.atMs;
        EXPECT_EQ(udp.send(step.fits ? QByteArray("{}") : tooLarge), step.fits);
        const std::vector<std::string> lines = said.take();
        if (!step.said) {
            EXPECT_TRUE(lines.empty()) << lines.front();
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(step.said), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(where.toStdString()), std::string::npos) << lines[0];
    }
    // The line that ends an episode counts all of it.
    now = 30000;
    udp.send("{}");
    const std::vector<std::string> back = said.take();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_NE(back[0].find("again; 1 could not be sent in 8.0 s."), std::string::npos) << back[0];
}

TEST_F(UdpSendTest, EachDestinationIsSentToAndReportedOnItsOwn)
{
    QUdpSocket second;
    ASSERT_TRUE(second.bind(QHostAddress(QHostAddress::LocalHost), 0));
    qint64 now = 0;
    UdpSend udp(StateDatagram::Port, nullptr, [&now] { return now; });
    udp.createSocket();
    udp.setBroadcast(true); // destinations of their own win over the broadcast choice
    // Port 0 is refused by the system on every send.
    const QList<UdpSend::Destination> to = {{QHostAddress(QHostAddress::LocalHost), port},
                                            {QHostAddress(QHostAddress::LocalHost), 0},
                                            {QHostAddress(QHostAddress::LocalHost), second.localPort()}};
    udp.setDestinations(to);
    ASSERT_EQ(udp.destinations().size(), 3);
    SaidLines said;
    for (int i = 0; i < 3; ++i) {
        now += 1000;
        EXPECT_FALSE(udp.send(QByteArray::number(i)));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(receive().data(), QByteArray::number(i));
        ASSERT_TRUE(second.hasPendingDatagrams() || second.waitForReadyRead(5000));
        EXPECT_EQ(second.receiveDatagram().data(), QByteArray::number(i));
    }
    std::vector<std::string> lines = said.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Cannot send state datagrams to 127.0.0.1:0: "), std::string::npos) << lines[0];

    // Leaving the failing one says what it lost.
    udp.setDestinations({to[0]});
    lines = said.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("3 state datagrams to 127.0.0.1:0 could not be sent in 2.0 s; no longer sending there"),
              std::string::npos)
        << lines[0];
    udp.setDestinations({});
    EXPECT_EQ(udp.destination(), QHostAddress("255.255.255.255"));
}

TEST_F(UdpSendTest, DestinationsAreHostAndPort)
{
    const struct {
        const char* text;
        const char* address; // null: refused
        quint16 port;
        const char* error;
    } cases[] = {
        {"192.168.1.20", "192.168.1.20", 5566, nullptr},
        {"192.168.1.20:6000", "192.168.1.20", 6000, nullptr},
        {"localhost:7000", "127.0.0.1", 7000, nullptr},
        {"10.0.0.1:0", nullptr, 0, "port from 1 to 65535"},
        {"10.0.0.1:70000", nullptr, 0, "port from 1 to 65535"},
        {"10.0.0.1:", nullptr, 0, "port from 1 to 65535"},
        {":5566", nullptr, 0, "names no host"},
        {"::1", nullptr, 0, "IPv6"},
        {"no-such-host.invalid", nullptr, 0, "cannot find the host 'no-such-host.invalid'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UdpDestination d;
        QString error;
        const bool ok = parseUdpDestination(c.text, 5566, d, error);
        ASSERT_EQ(ok, c.address != nullptr) << error.toStdString();
        if (ok) {
            EXPECT_EQ(d.address, QHostAddress(c.address));
            EXPECT_EQ(d.port, c.port);
        } else {
            EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
        }
    }
}

} // namespace
