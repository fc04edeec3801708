// The host program against a scripted flight controller on a pseudo-terminal:
// every command the host writes is checked byte for byte.
#include "AircraftPeer.h"
#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <csignal>

namespace {

constexpr double Pi = 3.141592653589793;

QByteArray flightState()
{
    QByteArray r(58, '\0');
    r[1] = 0x03;
    const float values[] = {0.5f, -0.25f, 1.5f, 1, 2, -3, 0.5f, 2, 0.5f, 0, -0.25f, 1200.7f, 0, 0};
    for (int i = 0; i < 14; ++i)
        qToLittleEndian(values[i], r.data() + 2 + 4 * i);
    return r;
}

class HostWithPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        e2eApp();
        ASSERT_TRUE(udp.bound) << "UDP port 5566 is taken";
        ASSERT_FALSE(peer.path.isEmpty());
        host.writeSettings("{ \"mFontSize\" : 12, \"m_latitude\" : 47.5, \"m_longitude\" : -122.25, "
                           "\"m_path\" : \"" + host.dir.path().toUtf8() + "/LOG_FILES/\", \"m_time\" : true }");
        host.start({"--port", peer.path, "--auto-start"});
        // Connecting asks for the status; --auto-start then presses Start.
        Frame f;
        ASSERT_TRUE(peer.expect(0x00, 0x0C, f, 5000));
        ASSERT_TRUE(peer.send(0x00, 0x0C, QByteArray::fromHex("000000000000")));
        ASSERT_TRUE(peer.expect(0x0B, 1, f, 5000));
        EXPECT_EQ(QByteArray::fromHex("00010000"), f.payload);
    }

    StateListener udp;
    AircraftPeer peer;
    HostProcess host;
};

TEST_F(HostWithPeer, WholeRunFromStartToLinkLoss)
{
    Frame f;
    ASSERT_TRUE(peer.send(0x0B, 1, QByteArray::fromHex("00000000")));
    ASSERT_TRUE(peer.expect(0x0B, 2, f));
    EXPECT_EQ(QByteArray::fromHex("01"), f.payload);

    // Heartbeats about a second apart.
    Frame beat1, beat2;
    ASSERT_TRUE(peer.expect(0x0B, 1, beat1, 3000));
    ASSERT_TRUE(peer.expect(0x0B, 1, beat2, 3000));
    EXPECT_EQ(QByteArray(4, '\0'), beat2.payload);
    EXPECT_GT(beat2.atMs - beat1.atMs, 500);
    EXPECT_LT(beat2.atMs - beat1.atMs, 2000);

    // The environment carries the position from the settings file.
    ASSERT_TRUE(peer.send(0x0B, 3, QByteArray::fromHex("02")));
    ASSERT_TRUE(peer.expect(0x0B, 4, f));
    ASSERT_EQ(40, f.payload.size());
    EXPECT_EQ(0, f.payload.at(0));
    EXPECT_NEAR(-122.25 * Pi / 180, qFromLittleEndian<double>(f.payload.constData() + 4), 1e-12);
    EXPECT_NEAR(47.5 * Pi / 180, qFromLittleEndian<double>(f.payload.constData() + 12), 1e-12);

    // One datagram per flight state, keys and formats as the visualiser reads them.
    // (States that arrive faster than the host converts them replace each other.)
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(peer.send(0x0B, 6, flightState()));
        ASSERT_TRUE(udp.waitFor([i](const QList<Datagram>& d) { return d.size() >= i; }, 3000));
    }
    for (const Datagram& d : udp.received) {
        EXPECT_TRUE(d.text.startsWith("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
                                      "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,"
                                      "\"VelocityY\":0,\"VelocityZ\":0.25,\"Time\":1200,\"TransformState\":0,"
                                      "\"MotorStarted\":1,\"FlyingState\":1,\"ProductType\":3,\"SenderIP\":\""))
            << d.text.constData();
        EXPECT_TRUE(d.text.endsWith("\",\"SimulatorCommand\":1}")) << d.text.constData();
    }
    udp.received.clear();

    // The aircraft goes away: the run ends within about a second and nine zero
    // states follow, 300 ms apart, each with the next run counter.
    peer.hangUp();
    ASSERT_TRUE(udp.waitFor([](const QList<Datagram>& d) { return d.size() >= 9; }, 6000))
        << udp.received.size() << " datagrams; host said: " << host.process.readAll().constData();
    waitUntil([] { return false; }, 700);
    const QList<Datagram>& zeros = udp.take();
    ASSERT_EQ(9, zeros.size());
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(zeros[i].text.startsWith("{\"Roll\":0,")) << zeros[i].text.constData();
        EXPECT_FALSE(zeros[i].text.contains("SenderIP"));
        EXPECT_TRUE(zeros[i].text.endsWith(QString("\"ProductType\":3,\"SimulatorCommand\":%1}").arg(2 + i).toLatin1()))
            << zeros[i].text.constData();
    }
    const double spacing = double(zeros[8].atMs - zeros[0].atMs) / 8;
    EXPECT_GT(spacing, 200);
    EXPECT_LT(spacing, 600);

    ::kill(pid_t(host.process.processId()), SIGTERM);
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

TEST_F(HostWithPeer, InterruptSendsStopBeforeExit)
{
    Frame f;
    ASSERT_TRUE(peer.send(0x0B, 1, QByteArray::fromHex("00000000")));
    ASSERT_TRUE(peer.expect(0x0B, 2, f));
    ::kill(pid_t(host.process.processId()), SIGINT);
    ASSERT_TRUE(peer.expect(0x0B, 4, f, 3000));
    QByteArray stop(40, '\0');
    stop[0] = 2;
    EXPECT_EQ(stop, f.payload);
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

struct CommandLineCase
{
    QStringList args;
    int exitCode;
    const char* says;
};

TEST(HostCommandLine, BadArgumentsAndPortsAreReportedNotWaitedOn)
{
    e2eApp();
    const CommandLineCase cases[] = {
        {{"--help"}, 0, "--auto-start"},
        {{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
        {{"--port"}, 2, "--port needs a device path"},
        {{"--port", "/nonexistent/ttyQ9"}, 1, "cannot open the aircraft port /nonexistent/ttyQ9"},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        HostProcess host;
        QByteArray output;
        EXPECT_EQ(c.exitCode, host.run(c.args, &output));
        EXPECT_TRUE(output.contains(c.says)) << output.constData();
    }
}

} // namespace
