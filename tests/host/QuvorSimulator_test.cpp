#include "tests/host/HostTestSupport.h"

#include "ui_QuvorCommand.h"

#include "common/Angles.h"
#include "link/CmdManager.h"
#include "tests/link/LogCapture.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QtEndian>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

QByteArray flightStateBytes(const FlightStateRecord& record, int size = int(FlightStateRecord::Size))
{
    std::vector<uint8_t> bytes = record.encode();
    bytes.resize(size_t(size));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), size);
}

QByteArray flightState(float time, float z = 0, uint8_t flags = 0x03, int size = int(FlightStateRecord::Size))
{
    FlightStateRecord record;
    record.flags = flags;
    record.z = z;
    record.time = time;
    return flightStateBytes(record, size);
}

// A flight state with one float of the record replaced.
QByteArray flightStateWith(float FlightStateRecord::*field, float value, float time)
{
    FlightStateRecord record;
    record.flags = 0x03;
    record.time = time;
    record.*field = value;
    return flightStateBytes(record);
}

class Simulation : public ::testing::Test {
protected:
    void click(QPushButton* button)
    {
        ASSERT_TRUE(button->isEnabled());
        button->click();
    }
    void receive(uint8_t cmdId, const QByteArray& payload)
    {
        host.dev.receive(cmd::SimulationSet, cmdId, payload);
        QCoreApplication::processEvents();
    }
    // Drives the zero-state countdown to its end; the timer may tick in between.
    QList<QByteArray> zeroStates()
    {
        for (int i = 0; i < 12; ++i)
            host.simulator->onStopSignalProc();
        QList<QByteArray> zeros;
        for (const QByteArray& d : host.udp.take())
            if (!d.contains("SenderIP"))
                zeros << d;
        host.udp.received.clear();
        return zeros;
    }

    TestHost host;
};

TEST_F(Simulation, RunFromStartToStopAndAgain)
{
    host.startUp();
    host.connect();
    host.dev.clearCommands();

    click(host.dialog->ui->pushButton_enter);
    host.simulator->onStopSignalProc(); // a zero-state tick during the run
    auto start = host.dev.commands(cmd::SimulationSet, 1);
    ASSERT_EQ(1u, start.size());
    EXPECT_EQ(QByteArray("\x00\x01\x00\x00", 4), start[0].payload);
    EXPECT_EQ(3, start[0].receiverType);
    EXPECT_TRUE(host.dialog->mSimRunning);
    EXPECT_FALSE(host.dialog->ui->pushButton_enter->isEnabled());
    EXPECT_TRUE(host.dialog->ui->pushButton_exit->isEnabled());

    // The first state reply starts the heartbeat and is acknowledged once.
    receive(1, QByteArray("\x00\x00\x00\x00", 4));
    receive(1, QByteArray("\x00\x00\x00\x00", 4));
    ASSERT_EQ(1u, host.dev.commands(cmd::SimulationSet, 2).size());
    EXPECT_EQ(QByteArray(1, '\x01'), host.dev.commands(cmd::SimulationSet, 2)[0].payload);
    EXPECT_TRUE(host.simulator->heartbeatRunning());
    host.simulator->sendHeartbeat();
    EXPECT_EQ(QByteArray(4, '\0'), host.dev.commands(cmd::SimulationSet, 1).back().payload);

    // Parameter request: only the low four bits name the product; the
    // environment carries the dialog's position in radians.
    host.dialog->ui->doubleSpinBox_latitude->setValue(-33.5);
    host.dialog->ui->doubleSpinBox_longtitude->setValue(151.25);
    receive(3, QByteArray(1, '\x21'));
    EXPECT_EQ(ProductNerio3, host.simulator->productType());
    auto environment = host.dev.commands(cmd::SimulationSet, 4);
    ASSERT_EQ(1u, environment.size());
    const QByteArray env = environment[0].payload;
    ASSERT_EQ(40, env.size());
    EXPECT_EQ(QByteArray::fromHex("000114 0a"), env.left(4));
    EXPECT_DOUBLE_EQ(151.25 * Pi / 180, qFromLittleEndian<double>(env.constData() + 4));
    EXPECT_DOUBLE_EQ(-33.5 * Pi / 180, qFromLittleEndian<double>(env.constData() + 12));
    EXPECT_DOUBLE_EQ(0.1, qFromLittleEndian<double>(env.constData() + 20));
    EXPECT_EQ(QByteArray::fromHex("ff07000e0000000000000000"), env.mid(28));

    // Flight states: one datagram each, the run counter moves once per run.
    receive(6, flightState(10, 1.5f, 0x05));
    receive(6, flightState(11));
    ASSERT_TRUE(host.udp.waitFor(2));
    const QVariantMap first = parsedDatagram(host.udp.received[0]);
    EXPECT_EQ(StateDatagram::stateKeys(), datagramKeys(host.udp.received[0]));
    EXPECT_EQ(10, first["Time"].toInt());
    EXPECT_DOUBLE_EQ(-1.5, first["WorldZ"].toDouble());
    EXPECT_EQ(1, first["MotorStarted"].toInt());
    EXPECT_EQ(2, first["FlyingState"].toInt());
    EXPECT_EQ(2, first["ProductType"].toInt());
    EXPECT_EQ(host.simulator->senderIp(), first["SenderIP"].toString());
    EXPECT_EQ(1, first["SimulatorCommand"].toInt());
    EXPECT_EQ(1, parsedDatagram(host.udp.received[1])["SimulatorCommand"].toInt());
    host.udp.received.clear();

    click(host.dialog->ui->pushButton_exit);
    ASSERT_EQ(2u, host.dev.commands(cmd::SimulationSet, 4).size());
    QByteArray stop(40, '\0');
    stop[0] = 2;
    EXPECT_EQ(stop, host.dev.commands(cmd::SimulationSet, 4).back().payload);
    EXPECT_FALSE(host.simulator->heartbeatRunning());
    EXPECT_FALSE(host.dialog->mSimRunning);

    // Nine zero states, each with a new counter, then silence.
    const QList<QByteArray> zeros = zeroStates();
    ASSERT_EQ(9, zeros.size());
    for (int i = 0; i < zeros.size(); ++i) {
        EXPECT_TRUE(zeros[i].startsWith("{\"Roll\":0,\"Pitch\":0,")) << zeros[i].constData();
        EXPECT_TRUE(zeros[i].endsWith(QString(",\"ProductType\":2,\"SimulatorCommand\":%1}").arg(2 + i).toLatin1()))
            << zeros[i].constData();
    }

    // A second run acknowledges its first reply again and counts once more.
    host.dev.clearCommands();
    click(host.dialog->ui->pushButton_enter);
    receive(1, QByteArray("\x00\x00\x00\x00", 4));
    EXPECT_EQ(1u, host.dev.commands(cmd::SimulationSet, 2).size());
    receive(6, flightState(1));
    ASSERT_TRUE(host.udp.waitFor(1));
    EXPECT_EQ(11, parsedDatagram(host.udp.received.last())["SimulatorCommand"].toInt());
    EXPECT_TRUE(zeroStates().isEmpty()); // none while running
}

TEST_F(Simulation, IgnoresForeignAndUnknownPackages)
{
    host.dev.clearCommands();
    host.dev.receive(cmd::SimulationSet, 1, QByteArray(4, '\0'), /*senderType*/ 4);
    host.dev.receive(cmd::SimulationSet, 6, flightState(1), /*senderType*/ 4);
    host.dev.receive(cmd::SimulationSet, 5, flightState(1));
    host.dev.receive(0x0C, 6, flightState(1));
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.dev.commands().empty());
    EXPECT_FALSE(host.simulator->heartbeatRunning());
    EXPECT_TRUE(host.udp.take().isEmpty());
}

TEST_F(Simulation, MalformedPayloadsAreNeverReadPastTheirEnd)
{
    host.dialog->mSimRunning = true; // keeps zero states out of the way
    testing::internal::CaptureStdout();
    receive(6, flightState(1, 0, 0, int(FlightStateRecord::Size) - 1));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, console.find("Flight state of 57 bytes dropped")) << console;
    EXPECT_TRUE(host.udp.take().isEmpty());

    // Longer records are fine; only the first 58 bytes count.
    receive(6, flightState(7, 0, 0, 80));
    ASSERT_TRUE(host.udp.waitFor(1));
    EXPECT_EQ(7, parsedDatagram(host.udp.received[0])["Time"].toInt());

    // An empty state reply or parameter request still gets its answer.
    receive(1, QByteArray());
    EXPECT_EQ(1u, host.dev.commands(cmd::SimulationSet, 2).size());
    receive(3, QByteArray());
    EXPECT_EQ(ProductTavik1, host.simulator->productType());
}

TEST_F(Simulation, StatesFromTheListenerThreadArriveWholeAndInOrder)
{
    host.connect();
    host.dialog->ui->pushButton_enter->click();
    constexpr int Count = 3000;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        for (int i = 1; i <= Count; ++i)
            host.dev.receive(cmd::SimulationSet, 6, flightState(float(i), float(-i)));
        done = true;
    });
    // The GUI thread keeps converting while the listener queues new copies.
    waitUntil([&] { return host.udp.take(), done.load(); }, 30000);
    listener.join();
    // A burst may overrun the test's socket buffer; the next state still arrives.
    host.udp.take();
    host.dev.receive(cmd::SimulationSet, 6, flightState(float(Count + 1), float(-(Count + 1))));
    ASSERT_TRUE(waitUntil([&] {
        const auto& all = host.udp.take();
        return !all.isEmpty() && parsedDatagram(all.last())["Time"].toInt() == Count + 1;
    }));
    int previous = 0;
    for (const QByteArray& d : host.udp.received) {
        const QVariantMap m = parsedDatagram(d);
        const int time = m["Time"].toInt();
        EXPECT_GT(time, previous); // in order, never an older or mixed record
        EXPECT_DOUBLE_EQ(double(time), m["WorldZ"].toDouble());
        previous = time;
    }
}

TEST_F(Simulation, DeviceLogPackagesReachTheirWindowAndSimulationGoesOn)
{
    host.dev.receive(0x00, 0x0E, QByteArray("\x11hello", 6));
    EXPECT_NE(nullptr, host.simulator->deviceLog().window(17));
    EXPECT_EQ(nullptr, host.simulator->deviceLog().window(3));
}

TEST_F(Simulation, StatesWithANonFiniteValueAreNotSentAndReportedOncePerRun)
{
    const struct {
        const char* key;
        float FlightStateRecord::*field;
    } reals[] = {
        {"Roll", &FlightStateRecord::roll},
        {"Pitch", &FlightStateRecord::pitch},
        {"Yaw", &FlightStateRecord::yaw},
        {"WorldX", &FlightStateRecord::x},
        {"WorldY", &FlightStateRecord::y},
        {"WorldZ", &FlightStateRecord::z},
        {"WorldLatitude", &FlightStateRecord::latitude},
        {"WorldLongitude", &FlightStateRecord::longitude},
        {"VelocityX", &FlightStateRecord::vx},
        {"VelocityY", &FlightStateRecord::vy},
        {"VelocityZ", &FlightStateRecord::vz},
    };
    const float nonFinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity()};
    host.connect();
    click(host.dialog->ui->pushButton_enter);
    LogCapture console;
    for (const auto& real : reals) {
        for (const float value : nonFinite) {
            SCOPED_TRACE(real.key);
            receive(6, flightStateWith(real.field, value, 5));
            EXPECT_TRUE(host.udp.take().isEmpty()) << host.udp.received.value(0).constData();
        }
    }
    // Degrees of a finite but huge angle overflow as well.
    receive(6, flightStateWith(&FlightStateRecord::latitude, 1e38f, 5));
    EXPECT_TRUE(host.udp.take().isEmpty());

    // A huge finite position is a number like any other.
    receive(6, flightStateWith(&FlightStateRecord::x, 1e38f, 6));
    ASSERT_TRUE(host.udp.waitFor(1));
    EXPECT_TRUE(host.udp.received[0].contains("\"WorldX\":1e+38,")) << host.udp.received[0].constData();

    const auto warnings = [&] {
        const std::string said = console.text();
        return std::count(said.begin(), said.end(), '\n');
    };
    EXPECT_EQ(1, warnings()) << console.text();
    EXPECT_NE(std::string::npos, console.text().find("non-finite Roll")) << console.text();

    // The next run says it again, once.
    click(host.dialog->ui->pushButton_exit);
    click(host.dialog->ui->pushButton_enter);
    for (const float value : nonFinite)
        receive(6, flightStateWith(&FlightStateRecord::z, value, 7));
    EXPECT_EQ(2, warnings()) << console.text();
}

TEST_F(Simulation, AGapInTheFlightStatesOfARunIsSaidWhenItStartsAndEnds)
{
    qint64 now = 0;
    host.simulator->setClock([&now] { return now; });
    host.connect();
    LogCapture console;
    const auto lines = [&] {
        const std::string text = console.text();
        return std::count(text.begin(), text.end(), '\n');
    };
    host.simulator->checkStateGap();
    click(host.dialog->ui->pushButton_enter);
    now = 5000;
    host.simulator->checkStateGap();
    EXPECT_EQ(0, lines()) << "no states yet: the aircraft is still switching";

    const struct {
        qint64 atMs;
        bool state; // a flight state arrives, else the timer checks
        const char* said;
    } steps[] = {
        {5000, true, nullptr},
        {5900, true, nullptr},
        {6899, false, nullptr},
        {6900, false, "No flight state for 1.0 s."},
        {9000, false, nullptr},
        {16200, true, "Flight states are back after a gap of 10.3 s."},
        {16300, true, nullptr},
        {17299, false, nullptr},
        {17300, false, "No flight state for 1.0 s."},
    };
    long said = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.atMs);
        now = step.atMs;
        if (step.state)
            receive(6, flightState(float(now) / 1000));
        else
            host.simulator->checkStateGap();
        said += step.said ? 1 : 0;
        ASSERT_EQ(said, lines()) << console.text();
        if (step.said) {
            EXPECT_NE(std::string::npos, console.text().find(step.said)) << console.text();
        }
    }
    // A stopped run is silent, and the next one starts afresh.
    click(host.dialog->ui->pushButton_exit);
    now = 30000;
    host.simulator->checkStateGap();
    click(host.dialog->ui->pushButton_enter);
    receive(6, flightState(1));
    now = 30500;
    host.simulator->checkStateGap();
    EXPECT_EQ(said, lines()) << console.text();
}

// The simulation object on its own, as readers of the dialog find it before the
// dialog exists and after it is gone.
TEST(SimulationWithoutDialog, SendsZeroPositionAndNoZeroStates)
{
    testApp();
    ASSERT_EQ(nullptr, gCommandDialog);
    QTemporaryDir dir;
    RecordingDevIo dev;
    DatagramListener udp;
    zel::DevIo::setCurrent(&dev);
    {
        qCmdManager manager;
        QuvorSimulator simulator(dir.path(), udp.port());
        dev.addListener(&simulator);
        dev.receive(cmd::SimulationSet, 3, QByteArray(1, '\x02'));
        QCoreApplication::processEvents();
        const auto environment = dev.commands(cmd::SimulationSet, 4);
        ASSERT_EQ(1u, environment.size());
        EXPECT_EQ(0.0, qFromLittleEndian<double>(environment[0].payload.constData() + 4));
        EXPECT_EQ(0.0, qFromLittleEndian<double>(environment[0].payload.constData() + 12));
        for (int i = 0; i < 12; ++i)
            simulator.onStopSignalProc();
        EXPECT_TRUE(udp.take().isEmpty());
    }
    zel::DevIo::setCurrent(nullptr);
}

} // namespace
