#include "viewer/app/ReceiveDrops.h"

#include <QCoreApplication>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

using ReceiveDrops::Report;

TEST(ReceiveDropsReport, OneLinePerFloodOnceItIsOver)
{
    struct Reading {
        uint32_t dropped;
        int64_t atMs;
        const char* said; // part of the line due, or null
    };
    const struct {
        const char* name;
        std::vector<Reading> readings;
    } cases[] = {
        {"no drops", {{7, 0, nullptr}, {7, 5000, nullptr}}},
        {"drops before the first reading are not ours", {{40, 0, nullptr}, {40, 2000, nullptr}}},
        {"a flood, said after a quiet second",
         {{0, 0, nullptr},
          {100, 10, nullptr},
          {250, 900, nullptr},
          {250, 1899, nullptr},
          {250, 1900, "dropped 250 datagrams on UDP port 5566 within 0.9 s"},
          {250, 5000, nullptr}}},
        {"two floods, two lines",
         {{0, 0, nullptr},
          {3, 100, nullptr},
          {3, 1100, "dropped 3 datagrams"},
          {10, 4000, nullptr},
          {10, 5000, "dropped 7 datagrams"}}},
        {"the count wraps", {{4294967290u, 0, nullptr}, {4u, 10, nullptr}, {4u, 1010, "dropped 10 datagrams"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Report report(5566);
        for (const Reading& r : c.readings) {
            const QString line = report.update(r.dropped, r.atMs);
            if (r.said)
                EXPECT_TRUE(line.contains(r.said)) << r.atMs << ": " << line.toStdString();
            else
                EXPECT_TRUE(line.isEmpty()) << r.atMs << ": " << line.toStdString();
            if (r.said) {
                EXPECT_FALSE(report.pending()) << "said once";
            }
        }
    }
}

// A host datagram of typical length.
const QByteArray kState =
    "{\"Roll\":0.012345,\"Pitch\":-0.023456,\"Yaw\":1.690000,\"WorldX\":12.345678,\"WorldY\":-3.456789,"
    "\"WorldZ\":10.250000,\"WorldLatitude\":22.537018,\"WorldLongitude\":113.953640,\"VelocityX\":0.500000,"
    "\"VelocityY\":-0.250000,\"VelocityZ\":0.125000,\"Time\":123456,\"TransformState\":2,\"MotorStarted\":1,"
    "\"FlyingState\":1,\"ProductType\":1,\"SimulatorCommand\":3,\"SenderIP\":\"192.168.1.20\"}";

int drain(QUdpSocket& socket)
{
    int read = 0;
    char buffer[2048];
    while (socket.hasPendingDatagrams() && socket.readDatagram(buffer, sizeof buffer) >= 0)
        ++read;
    return read;
}

TEST(ReceiveDropsSocket, HoldsHalfASecondOfStatesAndCountsWhatItDrops)
{
    int argc = 1;
    char name[] = "receive_drops_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const int fd = int(receiver.socketDescriptor());
    const int buffer = ReceiveDrops::enlargeReceiveBuffer(fd);
    ASSERT_GT(buffer, 0);
    if (buffer < ReceiveDrops::kNeededBufferBytes)
        GTEST_SKIP() << "this system caps receive buffers at " << buffer << " bytes (net.core.rmem_max)";
    ASSERT_TRUE(ReceiveDrops::droppedSoFar(fd).has_value());
    EXPECT_EQ(*ReceiveDrops::droppedSoFar(fd), 0u);

    // Nobody reads while they arrive: the buffer alone has to hold them.
    QUdpSocket sender;
    const auto send = [&](int count) {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(sender.writeDatagram(kState, QHostAddress::LocalHost, receiver.localPort()), kState.size());
    };
    send(500);
    EXPECT_EQ(drain(receiver), 500);
    EXPECT_EQ(*ReceiveDrops::droppedSoFar(fd), 0u);

    const int flood = 20000;
    send(flood);
    const int read = drain(receiver);
    EXPECT_LT(read, flood);
    EXPECT_EQ(*ReceiveDrops::droppedSoFar(fd), uint32_t(flood - read)) << "every datagram not read was counted";
}

} // namespace
