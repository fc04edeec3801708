// The host program with the flight-controller emulator on its pseudo-terminal
// and a listener where the visualiser would be.
#include "tests/e2e/E2eSupport.h"
#include "tests/common/ProcessSignal.h"

#include "common/StateDatagram.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QVariantMap>

#include <csignal>

namespace {

class Emulator {
public:
    explicit Emulator(const QString& link, const QStringList& extra = {})
    {
        process.setProgram(binDir() + "/QuvorFlightEmulator");
        process.setArguments(QStringList{"--link", link} + extra);
        process.start();
        process.waitForStarted(5000);
    }
    ~Emulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    // Waits for a line of the emulator's event output that contains text.
    bool saw(const QString& text, int timeoutMs)
    {
        return waitUntil(
            [&] {
                output += process.readAllStandardOutput();
                return output.contains(text.toUtf8());
            },
            timeoutMs);
    }
    void signal(int number) { signalProcess(process.processId(), number); }

    QProcess process;
    QByteArray output;
};

class HostWithEmulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        e2eApp();
        ASSERT_TRUE(udp.bound) << "UDP port 5566 is taken";
        link = host.dir.path() + "/fc";
        emulator =
            std::make_unique<Emulator>(link, QStringList{"--product", "nerio", "--rate", "200", "--mission", "hover"});
        ASSERT_TRUE(emulator->saw("pseudo-terminal", 5000)) << emulator->process.readAllStandardError().constData();
        host.writeSettings("{ \"mFontSize\" : 12, \"m_latitude\" : 10.5, \"m_longitude\" : 20.25, \"m_save\" : true, "
                           "\"m_path\" : \"" +
                           host.dir.path().toUtf8() + "/LOG_FILES/\", \"m_time\" : true }");
        host.start({"--port", link, "--auto-start"});
        ASSERT_TRUE(emulator->saw("environment received: latitude 10.500000, longitude 20.250000", 8000))
            << emulator->output.constData();
    }

    StateListener udp;
    HostProcess host;
    QString link;
    std::unique_ptr<Emulator> emulator;
};

TEST_F(HostWithEmulator, FlightStatesBecomeDatagramsUntilTheAircraftGoes)
{
    ASSERT_TRUE(udp.waitFor([](const QList<Datagram>& d) { return d.size() >= 100; }, 5000));
    double lastTime = -1;
    for (const Datagram& d : udp.received) {
        ASSERT_EQ(StateDatagram::stateKeys(), datagramKeys(d.text)) << d.text.constData();
        const QVariantMap state = parsedDatagram(d.text);
        EXPECT_EQ(2, state["ProductType"].toInt());
        EXPECT_EQ(1, state["SimulatorCommand"].toInt());
        EXPECT_NEAR(10.5, state["WorldLatitude"].toDouble(), 0.01);
        EXPECT_NEAR(20.25, state["WorldLongitude"].toDouble(), 0.01);
        EXPECT_GE(state["Time"].toDouble(), lastTime);
        lastTime = state["Time"].toDouble();
    }

    // The aircraft's log messages are saved in this run's folder.
    auto savedLogs = [&] {
        QByteArray all;
        QDirIterator files(host.dir.path() + "/LOG_FILES", {"Log_type_*.txt"}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    };
    EXPECT_TRUE(waitUntil([&] { return savedLogs().contains("GPS: 3D fix"); }, 5000)) << savedLogs().constData();

    // The emulator ends: the run stops within about a second and nine zero
    // states follow, 300 ms apart, then nothing.
    // The socket is read while waiting, so each datagram keeps its arrival time.
    emulator->signal(SIGTERM);
    ASSERT_TRUE(waitUntil(
        [&] {
            udp.take();
            return emulator->saw("exit", 0);
        },
        5000));
    // Counted from the run's last state, not from when the exit line was read:
    // zero states can reach the socket before the test reads that line.
    auto lastRunState = [&] {
        const QList<Datagram>& all = udp.take();
        int last = -1;
        for (int i = 0; i < all.size(); ++i)
            if (all[i].text.contains("SenderIP"))
                last = i;
        return last;
    };
    auto zeros = [&] { return udp.take().mid(lastRunState() + 1); };
    ASSERT_TRUE(waitUntil([&] { return zeros().size() >= 9; }, 6000)) << zeros().size() << " zero states";
    waitUntil([] { return false; }, 700);
    const QList<Datagram> z = zeros();
    ASSERT_EQ(9, z.size());
    EXPECT_LT(z[0].atMs - udp.received[lastRunState()].atMs, 2500); // Start enabled again within about a second
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(2 + i, parsedDatagram(z[i].text)["SimulatorCommand"].toInt());
    const double spacing = double(z[8].atMs - z[0].atMs) / 8;
    EXPECT_GT(spacing, 200);
    EXPECT_LT(spacing, 600);

    signalProcess(host.process.processId(), SIGTERM);
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(0, host.process.exitCode());
}

// The emulator dies without a word and a new one takes the same link: the
// host opens it again, auto-starts and the states flow as before.
TEST_F(HostWithEmulator, ANewEmulatorOnTheSameLinkFliesAgain)
{
    ASSERT_TRUE(udp.waitFor([](const QList<Datagram>& d) { return d.size() >= 20; }, 10000));
    const int firstRun = parsedDatagram(udp.received.last().text)["SimulatorCommand"].toInt();
    emulator->signal(SIGKILL);
    ASSERT_TRUE(emulator->process.waitForFinished(5000));

    emulator =
        std::make_unique<Emulator>(link, QStringList{"--product", "nerio", "--rate", "200", "--mission", "hover"});
    ASSERT_TRUE(emulator->saw("pseudo-terminal", 5000)) << emulator->process.readAllStandardError().constData();
    ASSERT_TRUE(emulator->saw("environment received: latitude 10.500000, longitude 20.250000", 10000))
        << emulator->output.constData();
    // States of a new run: the run counter has moved on.
    auto secondRun = [&] {
        int n = 0;
        for (const Datagram& d : udp.take())
            n += d.text.contains("SenderIP") && parsedDatagram(d.text)["SimulatorCommand"].toInt() > firstRun;
        return n;
    };
    EXPECT_TRUE(waitUntil([&] { return secondRun() >= 100; }, 8000)) << secondRun();

    signalProcess(host.process.processId(), SIGTERM);
    ASSERT_TRUE(host.finished(5000));
    const QByteArray output = host.process.readAllStandardOutput() + host.process.readAllStandardError();
    EXPECT_EQ(2, output.count("Device Connected : " + link.toUtf8())) << output.constData();
    EXPECT_FALSE(output.contains("Device Open Error")) << output.constData();
}

TEST_F(HostWithEmulator, CtrlCStopsTheAircraftBeforeTheHostExits)
{
    ASSERT_TRUE(udp.waitFor([](const QList<Datagram>& d) { return !d.isEmpty(); }, 5000));
    signalProcess(host.process.processId(), SIGINT);
    EXPECT_TRUE(emulator->saw("\nstop\n", 3000)) << emulator->output.constData();
    ASSERT_TRUE(host.finished(5000));
    EXPECT_EQ(QProcess::NormalExit, host.process.exitStatus());
    EXPECT_EQ(0, host.process.exitCode());
}

} // namespace
