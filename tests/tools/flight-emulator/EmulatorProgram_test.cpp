// The emulator program on its pseudo-terminal, driven by the link library's
// serial device I/O as the host drives an aircraft.

#include "link/CmdManager.h"
#include "tests/common/Poll.h"
#include "link/Connector.h"
#include "link/ConsoleLog.h"
#include "link/DevIo.h"
#include "tests/tools/flight-emulator/SimulationPayloads.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/stat.h>

namespace {

QCoreApplication* app()
{
    static int argc = 1;
    static char name[] = "emulator_e2e_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return instance;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) { return pollUntil(done, timeoutMs); }

struct Package {
    uint8_t sender, set, id;
    uint16_t seq;
    std::vector<uint8_t> payload;
};

// Keeps every package the device I/O hands out (on its listener thread).
class Recorder : public zel::DevListener {
public:
    int32_t onNotify(const DevNotify* n) override
    {
        if (const PackageProperty_V1* p = n->package()) {
            std::lock_guard<std::mutex> lock(mutex);
            packages.push_back({p->sender,
                                p->cmdSet,
                                p->cmdId,
                                uint16_t(p->seq()),
                                {p->payload(), p->payload() + p->payloadLength()}});
        }
        return 0;
    }
    size_t count(uint8_t set, uint8_t id)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return size_t(std::count_if(packages.begin(), packages.end(),
                                    [&](const Package& p) { return p.set == set && p.id == id; }));
    }
    std::vector<Package> all(uint8_t set, uint8_t id)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Package> out;
        for (const Package& p : packages)
            if (p.set == set && p.id == id)
                out.push_back(p);
        return out;
    }

private:
    std::mutex mutex;
    std::vector<Package> packages;
};

// The emulator as a child process, its event lines collected.
class Emulator {
public:
    explicit Emulator(const QStringList& args)
    {
        process.setProgram(QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")) + "/QuvorFlightEmulator");
        process.setArguments(args);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
    }
    ~Emulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool waitLine(const QString& prefix)
    {
        bool found = false;
        waitUntil([&] {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
            for (const QString& l : lines)
                found = found || l.startsWith(prefix);
            return found || process.state() == QProcess::NotRunning;
        });
        if (!found)
            ADD_FAILURE() << process.program().toStdString() << " " << process.errorString().toStdString()
                          << ", lines so far:\n"
                          << lines.join("\n").toStdString();
        return found;
    }
    // Stops it the way a user does and returns the exit code.
    int terminate()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            return -1;
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcess process;
    QStringList lines;
};

void send(zel::SimpleDevIo& device, uint8_t set, uint8_t id, std::vector<uint8_t> payload, uint16_t seq = 0)
{
    const auto frame = buildPackage(set, id, payload.data(), payload.size(), 3, 0, seq);
    ASSERT_TRUE(device.write(frame.data(), frame.size()));
}

using emutest::environmentPayload;

class EmulatorEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath("fc");
        device.addListener(&recorder);
    }
    void TearDown() override { device.removeListener(&recorder); }

    QTemporaryDir dir;
    QString link;
    zel::SimpleDevIo device;
    Recorder recorder;
};

} // namespace

TEST_F(EmulatorEndToEnd, SimulationRunOverThePseudoTerminal)
{
    Emulator emulator({"--link", link, "--rate", "200", "--mission", "hover", "--product", "nerio"});
    ASSERT_TRUE(emulator.waitLine("waiting for a host")) << emulator.lines.join("\n").toStdString();
    struct stat st;
    ASSERT_EQ(lstat(link.toLocal8Bit().constData(), &st), 0);
    ASSERT_TRUE(S_ISLNK(st.st_mode));

    device.onDeviceArrival(link);
    ASSERT_TRUE(device.isOpen());
    ASSERT_TRUE(emulator.waitLine("connected"));

    send(device, 0, 12, {0});
    ASSERT_TRUE(waitUntil([&] { return recorder.count(0, 12) == 1; }));
    const Package status = recorder.all(0, 12)[0];
    EXPECT_EQ(status.sender, 0x03);
    EXPECT_EQ(status.payload.at(2) & 1, 0);

    send(device, 11, 1, {0, 1, 0, 0}, 1);
    ASSERT_TRUE(waitUntil([&] { return recorder.count(11, 1) == 1 && recorder.count(11, 3) >= 1; }));
    EXPECT_EQ(recorder.all(11, 1)[0].payload.at(1), 0);
    EXPECT_EQ(recorder.all(11, 3)[0].payload.at(0) & 0x0F, 1) << "Nerio3";
    EXPECT_EQ(recorder.all(11, 3)[0].seq, 1);
    ASSERT_TRUE(emulator.waitLine("start: product Nerio3, mission hover"));

    send(device, 11, 2, {1}, 2);
    send(device, 11, 4, environmentPayload(0.4, 1.9), 2);
    ASSERT_TRUE(emulator.waitLine("environment received"));
    ASSERT_TRUE(emulator.waitLine("mission phase: take-off"));
    // Climbing: z is negative above the ground.
    ASSERT_TRUE(waitUntil([&] {
        const auto states = recorder.all(11, 6);
        return !states.empty() && emutest::flightState(states.back().payload).z < -0.5f;
    }));
    for (const Package& p : recorder.all(11, 6)) {
        ASSERT_EQ(p.payload.size(), 58u);
        EXPECT_EQ(p.sender, 0x03);
        EXPECT_NEAR(emutest::flightState(p.payload).latitude, 0.4f, 1e-5f);
    }
    EXPECT_GE(recorder.count(0, 14), 2u) << "device logs";

    send(device, 11, 1, {0, 0, 0, 0}, 3);
    ASSERT_TRUE(waitUntil([&] { return recorder.count(11, 1) == 2; }));
    EXPECT_EQ(recorder.all(11, 1)[1].payload.at(1), 1);

    send(device, 11, 4, emutest::stopPayload(), 4);
    ASSERT_TRUE(emulator.waitLine("stop"));
    waitUntil([] { return false; }, 200); // states already in the terminal drain
    const size_t states = recorder.count(11, 6);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(recorder.count(11, 6), states) << "no flight states after the stop";

    device.onDeviceRemoveComplete(link);
    ASSERT_TRUE(emulator.waitLine("disconnected"));
    EXPECT_EQ(emulator.terminate(), 0);
    EXPECT_NE(lstat(link.toLocal8Bit().constData(), &st), 0) << "link removed on exit";
}

TEST_F(EmulatorEndToEnd, HostLinkLayerStaysInStepWithTheEmulator)
{
    // The host's own connection and command managers on the same device.
    zel::DevIo::setCurrent(&device);
    qConnector connector;
    qCmdManager manager;
    device.addListener(&connector);
    device.addListener(&manager);
    std::mutex logMutex;
    QStringList logs;
    QObject::connect(&manager, &qCmdManager::deviceLog, [&](int, int type, QString text, int senderType, int) {
        std::lock_guard<std::mutex> lock(logMutex);
        logs << QString("%1/%2: %3").arg(senderType).arg(type).arg(text.trimmed());
    });
    auto logged = [&](const QString& part) {
        std::lock_guard<std::mutex> lock(logMutex);
        return !logs.filter(part).isEmpty();
    };

    Emulator emulator({"--link", link, "--rate", "100"});
    ASSERT_TRUE(emulator.waitLine("waiting for a host"));
    device.onDeviceArrival(link);
    // The connection asks for the status; the ready answer starts the command
    // writer and moves the sequence counter on.
    ASSERT_TRUE(waitUntil([&] { return manager.deviceStatus(0x03) == 0; }));
    EXPECT_TRUE(manager.writer()->writing());
    EXPECT_EQ(manager.sequence(), 1);

    const uint8_t start[] = {0, 1, 0, 0};
    manager.sendCommand(1, 11, start, sizeof start, 3, 0, true);
    ASSERT_TRUE(waitUntil([&] { return manager.sequence() == 2; }));
    const auto env = environmentPayload(0.4, 1.9);
    manager.sendCommand(4, 11, env.data(), env.size(), 3, 0, true);
    // The two logs leave back to back but may reach the host in separate reads.
    ASSERT_TRUE(waitUntil([&] { return logged("3/2: GPS: 3D fix") && logged("3/1: Mission square: motors started"); }))
        << [&] {
               std::lock_guard<std::mutex> lock(logMutex);
               return logs.join("\n").toStdString();
           }();
    const uint8_t heartbeat[] = {0, 0, 0, 0};
    const uint16_t before = manager.sequence();
    manager.sendCommand(1, 11, heartbeat, sizeof heartbeat, 3, 0, true);
    ASSERT_TRUE(waitUntil([&] { return manager.sequence() == before + 1; }));

    device.onDeviceRemoveComplete(link);
    ASSERT_TRUE(emulator.waitLine("disconnected"));
    device.removeListener(&manager);
    device.removeListener(&connector);
    zel::DevIo::setCurrent(nullptr);
    EXPECT_EQ(emulator.terminate(), 0);
}

TEST_F(EmulatorEndToEnd, FlightStatesStillGetThroughInjectedFaults)
{
    // The host's decoder reports refused frames through the console logger.
    struct LogToFile {
        FILE* file = std::tmpfile();
        FILE* previous = ConsoleLogger::global().setStream(file);
        ~LogToFile()
        {
            ConsoleLogger::global().setStream(previous);
            if (file)
                std::fclose(file);
        }
    } log;
    ASSERT_NE(log.file, nullptr);

    Emulator emulator({"--link", link, "--rate", "500", "--faults", "0.002", "--seed", "3"});
    ASSERT_TRUE(emulator.waitLine("waiting for a host"));
    device.onDeviceArrival(link);
    ASSERT_TRUE(device.isOpen());
    send(device, 11, 1, {0, 1, 0, 0});
    // A damaged parameter request is repeated until one gets through.
    ASSERT_TRUE(waitUntil([&] { return recorder.count(11, 3) > 0; }));
    send(device, 11, 4, environmentPayload(0.4, 1.9));
    ASSERT_TRUE(waitUntil([&] { return recorder.count(11, 6) >= 500; }));
    for (const Package& p : recorder.all(11, 6))
        ASSERT_EQ(p.payload.size(), 58u);

    std::fflush(log.file);
    std::rewind(log.file);
    int checksumErrors = 0;
    for (char line[512]; std::fgets(line, sizeof line, log.file);)
        checksumErrors += std::strstr(line, "Checksum Error!") != nullptr;
    EXPECT_GT(checksumErrors, 0) << "damaged frames reached the host and were refused";
    EXPECT_EQ(emulator.terminate(), 0);
}
