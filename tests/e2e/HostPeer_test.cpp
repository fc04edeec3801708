// The host program against a scripted flight controller on a pseudo-terminal:
// every command the host writes is checked byte for byte.
#include "tests/e2e/AircraftPeer.h"
#include "tests/common/FlightStateSample.h"
#include "tests/common/ProcessSignal.h"
#include "tests/e2e/E2eSupport.h"

#include "common/Angles.h"
#include "link/Messages.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <limits>
#include <thread>

namespace {

QByteArray flightState()
{
    const std::vector<uint8_t> bytes = sampleFlightState().encode();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

class HostWithPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        e2eApp();
        ASSERT_TRUE(udp.bound) << "UDP port 5566 is taken";
        ASSERT_FALSE(peer.path.isEmpty());
        host.writeSettings("{ \"mFontSize\" : 12, \"m_latitude\" : 47.5, \"m_longitude\" : -122.25, "
                           "\"m_path\" : \"" +
                           host.dir.path().toUtf8() + "/LOG_FILES/\", \"m_time\" : true }");
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
        EXPECT_TRUE(
            d.text.startsWith("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
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

    signalProcess(host.process.processId(), SIGTERM);
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

TEST_F(HostWithPeer, InterruptSendsStopBeforeExit)
{
    Frame f;
    ASSERT_TRUE(peer.send(0x0B, 1, QByteArray::fromHex("00000000")));
    ASSERT_TRUE(peer.expect(0x0B, 2, f));
    signalProcess(host.process.processId(), SIGINT);
    ASSERT_TRUE(peer.expect(0x0B, 4, f, 3000));
    QByteArray stop(40, '\0');
    stop[0] = 2;
    EXPECT_EQ(stop, f.payload);
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

TEST_F(HostWithPeer, NonFiniteFlightStatesAreNotSent)
{
    const float xs[] = {1e38f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(), 4.0f};
    for (const float x : xs) {
        QByteArray state = flightState();
        char bytes[sizeof x];
        qToLittleEndian(x, bytes);
        ASSERT_TRUE(peer.send(0x0B, 6, state.replace(14, int(sizeof x), bytes, int(sizeof x))));
    }
    // States are converted in order, so once the last one is out every earlier one has been judged.
    ASSERT_TRUE(udp.waitFor(
        [](const QList<Datagram>& d) { return !d.isEmpty() && d.last().text.contains("\"WorldX\":4,"); }, 5000));
    ASSERT_EQ(2, udp.received.size());
    EXPECT_TRUE(udp.received[0].text.contains("\"WorldX\":1e+38,")) << udp.received[0].text.constData();
    signalProcess(host.process.processId(), SIGTERM);
    ASSERT_TRUE(host.finished(5000));
    const QByteArray said = host.process.readAllStandardOutput();
    EXPECT_EQ(1, said.count("non-finite")) << said.constData();
}

// What the aircraft's log can throw at the host: 900-byte log frames as fast as
// the line takes them, with a flight state now and then.
class LogFlood {
public:
    explicit LogFlood(int master) : mMaster(master)
    {
        QByteArray text(900 - 20, 'x');
        text[0] = char(7); // log type
        text[text.size() - 1] = '\0';
        mLog = buildPackageFrom(makeAddress(3, 0), 0x00, 0x0E, reinterpret_cast<const uint8_t*>(text.constData()),
                                size_t(text.size()), 10, 0, 0);
        const QByteArray state = flightState();
        mState = buildPackageFrom(makeAddress(3, 0), 0x0B, 6, reinterpret_cast<const uint8_t*>(state.constData()),
                                  size_t(state.size()), 10, 0, 0);
        mThread = std::thread([this] { run(); });
    }
    ~LogFlood() { stop(); }
    void stop()
    {
        mStop = true;
        if (mThread.joinable())
            mThread.join();
    }
    std::atomic<long> logFrames{0};

private:
    bool writeAll(const std::vector<uint8_t>& frame)
    {
        size_t done = 0;
        while (done < frame.size() && !mStop) {
            const ssize_t n = ::write(mMaster, frame.data() + done, frame.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN)
                return false;
            pollfd p{mMaster, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        return done == frame.size();
    }
    void run()
    {
        while (!mStop) {
            for (int i = 0; i < 50 && !mStop; ++i) {
                if (!writeAll(mLog))
                    return;
                ++logFrames;
            }
            if (!writeAll(mState))
                return;
        }
    }

    int mMaster;
    std::vector<uint8_t> mLog;
    std::vector<uint8_t> mState;
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

long residentKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

TEST_F(HostWithPeer, DeviceLogFloodLeavesStatesMemoryAndCtrlCAlone)
{
    Frame f;
    ASSERT_TRUE(peer.send(0x0B, 1, QByteArray::fromHex("00000000")));
    ASSERT_TRUE(peer.expect(0x0B, 2, f));
    const qint64 pid = host.process.processId();
    const long before = residentKiB(pid);

    LogFlood flood(peer.master);
    // Flight states still turn into datagrams while the log pours in.
    ASSERT_TRUE(udp.waitFor([](const QList<Datagram>& d) { return d.size() >= 20; }, 30000))
        << flood.logFrames << " log frames, " << udp.received.size() << " datagrams";
    const long firstFrames = flood.logFrames;
    long peak = 0;
    // Several seconds' worth: an unbounded queue grows by hundreds of megabytes meanwhile.
    waitUntil(
        [&] {
            peak = std::max(peak, residentKiB(pid));
            return flood.logFrames > firstFrames + 20000;
        },
        15000);
    std::printf("resident memory: %ld KiB before the flood, at most %ld KiB after %ld log frames\n", before, peak,
                long(flood.logFrames));
    EXPECT_LT(peak - before, 300 * 1024);

    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    signalProcess(pid, SIGINT);
    ASSERT_TRUE(peer.expect(0x0B, 4, f, 10000)) << flood.logFrames << " log frames";
    QByteArray stop(40, '\0');
    stop[0] = 2;
    EXPECT_EQ(stop, f.payload);
    ASSERT_TRUE(host.finished(10000));
    std::printf("exit %lld ms after the interrupt\n", sinceInterrupt.elapsed());
    flood.stop();
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

struct CommandLineCase {
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
