#include "tests/link/LinkTestSupport.h"
#include "tests/link/LogCapture.h"
#include "link/PortReopener.h"

#include <QTemporaryDir>

#include <sys/resource.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

using namespace linktest;

namespace {

Bytes frame(uint8_t cmdId, size_t payloadLength, uint16_t seq = 0)
{
    const Bytes payload(payloadLength, uint8_t(cmdId + 1));
    return buildPackageFrom(makeAddress(3, 0), 11, cmdId, payload.data(), payload.size(), 10, 0, seq);
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class DevIoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        device.addListener(&recorder);
    }
    void arrive()
    {
        device.onDeviceArrival(QString::fromStdString(pty.slavePath));
        ASSERT_TRUE(device.isOpen());
    }

    PtyPair pty;
    zel::SimpleDevIo device;
    Recorder recorder;
    LogCapture log;
};

} // namespace

TEST_F(DevIoTest, ArrivalOpensRawAt115200AndRaisesConnected)
{
    // Something cooked and slow first, to show the device sets the line up itself.
    termios tio{};
    tcgetattr(pty.slave, &tio);
    tio.c_lflag |= ICANON | ECHO;
    tio.c_cflag |= PARENB | CSTOPB;
    cfsetospeed(&tio, B9600);
    tcsetattr(pty.slave, TCSANOW, &tio);

    arrive();
    EXPECT_EQ(recorder.codes(), std::vector<int>{DevConnected});
    EXPECT_EQ(recorder.entries()[0].thread, std::this_thread::get_id());
    EXPECT_FALSE(device.abnormal());
    EXPECT_EQ(device.portName(), QString::fromStdString(pty.slavePath));
    EXPECT_NE(log.text().find("] Device Connected : " + pty.slavePath + "\n"), std::string::npos);

    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(device.baudRate(), 115200);
    EXPECT_EQ(device.dataBits(), 8);
    EXPECT_EQ(device.parity(), 0);
    EXPECT_EQ(device.stopBits(), 1);
    EXPECT_EQ(device.handshaking(), 0);
}

TEST_F(DevIoTest, ChunkedStreamGivesOneNotificationPerFrameOnTheListenerThread)
{
    arrive();
    const Bytes a = frame(6, 58, 1), b = frame(1, 4, 2), c = frame(6, 1000, 3);
    Bytes bad = frame(3, 1, 4);
    bad[12] ^= 0xFF;
    Bytes stream = {0x01, 0x55};
    for (const Bytes* part : std::initializer_list<const Bytes*>{&a, &bad, &b, &c})
        stream.insert(stream.end(), part->begin(), part->end());
    // Irregular chunks; the short pauses let the reader see partial frames.
    const size_t chunks[] = {1, 3, 7, 70, 2, 500, 13};
    size_t at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const size_t n = std::min(chunks[i % 7], stream.size() - at);
        pty.send(Bytes(stream.begin() + long(at), stream.begin() + long(at + n)));
        at += n;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    ASSERT_TRUE(recorder.waitFor(DevPackageReceived, 3));
    std::vector<Bytes> frames;
    for (const auto& e : recorder.entries()) {
        if (e.code != DevPackageReceived)
            continue;
        frames.push_back(e.frame);
        EXPECT_NE(e.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(frames, (std::vector<Bytes>{a, b, c}));
    EXPECT_NE(log.text().find("[Decoder  @"), std::string::npos);
}

TEST_F(DevIoTest, WriteReachesThePeer)
{
    arrive();
    const Bytes f = buildPackage(11, 1, Bytes{0, 1, 0, 0}.data(), 4, 3, 0, 0);
    EXPECT_TRUE(device.write(f.data(), f.size()));
    EXPECT_EQ(pty.receive(f.size()), f);
}

TEST_F(DevIoTest, WriteTimesOutWhenThePeerStopsReading)
{
    arrive();
    const Bytes big(1023, 0xAA);
    int accepted = 0;
    while (device.write(big.data(), big.size()) && accepted < 10000)
        ++accepted;
    EXPECT_LT(accepted, 10000);
    EXPECT_NE(log.text().find("[Device   @"), std::string::npos);
    EXPECT_NE(log.text().find("] Write Timeout !\n"), std::string::npos);
    EXPECT_TRUE(device.isOpen()); // a time-out is not a disconnection
}

TEST_F(DevIoTest, RemovalClosesWhateverTheNameAndAlwaysRaisesDisconnected)
{
    arrive();
    device.onDeviceRemoveComplete("ttyUSB7");
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(device.abnormal());
    EXPECT_NE(log.text().find("] Device Remove Completed : ttyUSB7\n"), std::string::npos);
    device.onDeviceRemoveComplete("ttyUSB7"); // already closed: still raised, no second log line
    EXPECT_EQ(recorder.codes(), (std::vector<int>{DevConnected, DevDisconnected, DevDisconnected}));
    EXPECT_EQ(log.text().find("Remove Completed", log.text().find("Remove Completed") + 1), std::string::npos);

    const Bytes f = frame(1, 4);
    EXPECT_FALSE(device.write(f.data(), f.size()));
}

TEST_F(DevIoTest, SecondArrivalReopensAndRaisesConnectedOnce)
{
    arrive();
    arrive();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{DevConnected, DevConnected}));
    const Bytes f = frame(6, 58);
    pty.send(f);
    ASSERT_TRUE(recorder.waitFor(DevPackageReceived));
    EXPECT_EQ(recorder.entries().back().frame, f);
}

TEST_F(DevIoTest, PeerHangUpIsARemovalAndTheListenerSleeps)
{
    arrive();
    pty.closeSlave();
    pty.closeMaster();
    // Before the owner's event loop runs, the listener must idle, not spin on the dead descriptor.
    const double cpuBefore = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.15);
    // Still open until the removal runs, but the write cannot succeed.
    const Bytes f = frame(1, 4);
    EXPECT_TRUE(device.isOpen());
    EXPECT_FALSE(device.write(f.data(), f.size()));

    ASSERT_TRUE(recorder.waitFor(DevDisconnected));
    EXPECT_FALSE(device.isOpen());
    EXPECT_FALSE(device.listening());
    EXPECT_TRUE(device.abnormal());
    EXPECT_EQ(recorder.codes(), (std::vector<int>{DevConnected, DevDisconnected}));
    EXPECT_EQ(recorder.entries().back().thread, std::this_thread::get_id());
    EXPECT_NE(log.text().find("] Device Remove Completed : " + pty.slavePath + "\n"), std::string::npos);
}

TEST_F(DevIoTest, StaleHangUpDoesNotCloseANewerPort)
{
    arrive();
    pty.closeSlave();
    pty.closeMaster();
    PtyPair other;
    // The hang-up's removal is queued; a new arrival before it runs wins.
    device.onDeviceArrival(QString::fromStdString(other.slavePath));
    ASSERT_TRUE(device.isOpen());
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(recorder.count(DevDisconnected), 0u);
    device.onDeviceRemoveComplete(QString::fromStdString(other.slavePath));
}

// A fixed path whose device goes away and comes back (a link replaced by one
// to a new pseudo-terminal) is retried without a word until it opens again.
// The old link is not followed again, even when its target opens once more:
// a dead emulator's terminal number may belong to another program by then.
TEST_F(DevIoTest, ReopenerBringsARemovedPathBack)
{
    QTemporaryDir dir;
    const std::string link = dir.path().toStdString() + "/fc";
    const std::string target = dir.path().toStdString() + "/pts";
    ASSERT_EQ(symlink(pty.slavePath.c_str(), target.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    PortReopener reopener(&device, QString::fromStdString(link));
    device.onDeviceArrival(QString::fromStdString(link));
    ASSERT_TRUE(device.isOpen());
    EXPECT_FALSE(reopener.retrying());

    pty.closeSlave();
    pty.closeMaster();
    ASSERT_TRUE(recorder.waitFor(DevDisconnected));
    EXPECT_TRUE(reopener.retrying());
    const size_t removedAt = log.text().size();

    // What the old link leads to opens again, but the link itself is the old one.
    PtyPair other;
    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(symlink(other.slavePath.c_str(), target.c_str()), 0);
    waitUntil([] { return false; }, 3 * PortReopener::kRetryMs);
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(recorder.count(DevConnected), 1u);

    // A new link: connected again.
    const std::string fresh = link + ".new";
    ASSERT_EQ(symlink(other.slavePath.c_str(), fresh.c_str()), 0);
    ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
    ASSERT_TRUE(recorder.waitFor(DevConnected, 2));
    EXPECT_FALSE(reopener.retrying());
    const std::string since = log.text().substr(removedAt);
    EXPECT_EQ(since.find("Error"), std::string::npos) << since;
    EXPECT_EQ(std::count(since.begin(), since.end(), '\n'), 1) << since;
    EXPECT_NE(since.find("Device Connected : " + link), std::string::npos) << since;

    const Bytes f = frame(6, 58);
    other.send(f);
    ASSERT_TRUE(recorder.waitFor(DevPackageReceived));
    EXPECT_EQ(recorder.entries().back().frame, f);
}

TEST_F(DevIoTest, FailedOpenIsAbnormalAndSilentToListeners)
{
    device.onDeviceArrival("/nonexistent/ttyQUVOR");
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(device.abnormal());
    EXPECT_TRUE(recorder.codes().empty());
    EXPECT_NE(log.text().find("[Device   @"), std::string::npos);
    EXPECT_NE(log.text().find("] Device Open Error:2\n"), std::string::npos);
    const Bytes f = frame(1, 4);
    EXPECT_FALSE(device.write(f.data(), f.size()));
    EXPECT_EQ(device.portName(), "/nonexistent/ttyQUVOR"); // remembered all the same
}

TEST_F(DevIoTest, ConnectAndDisconnectDevice)
{
    EXPECT_FALSE(device.connectDevice()); // no port remembered
    arrive();
    device.disconnectDevice();
    EXPECT_FALSE(device.isOpen());
    EXPECT_TRUE(device.connectDevice());
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(recorder.codes(), (std::vector<int>{DevConnected, DevDisconnected, DevConnected}));
    const std::string text = log.text();
    EXPECT_NE(text.find("[Device   @"), std::string::npos);
    EXPECT_NE(text.find("] disconnect\n"), std::string::npos);
    EXPECT_NE(text.find("] connect success\n"), std::string::npos);
}

TEST(NullDevIo, IsCurrentUntilReplacedAndDoesNothing)
{
    Recorder listener;
    zel::NullDevIo* null = zel::NullDevIo::instance();
    EXPECT_EQ(zel::DevIo::current(), null);
    EXPECT_EQ(listener.device(), null);
    null->addListener(&listener);
    const uint8_t byte = 0;
    EXPECT_FALSE(null->write(&byte, 1));
    EXPECT_FALSE(null->connectDevice());
    null->onDeviceArrival("ttyACM0");
    null->disconnectDevice();
    EXPECT_TRUE(listener.codes().empty());

    zel::SimpleDevIo device;
    zel::DevIo::setCurrent(&device);
    Recorder later;
    EXPECT_EQ(later.device(), &device);
    zel::DevIo::setCurrent(nullptr);
}

TEST(CSerial, PathsAndErrorCodes)
{
    EXPECT_EQ(CSerial::devicePath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(CSerial::devicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(CSerial::devicePath("./fcRel"), "./fcRel");

    struct Port : CSerial {
    } port;
    uint8_t buf[4];
    EXPECT_EQ(port.write(buf, 4), EBADF);
    EXPECT_EQ(port.read(buf, 4), EBADF);
    EXPECT_EQ(port.setup(), EBADF);
    EXPECT_EQ(port.baudRate(), -1);
    EXPECT_EQ(port.close(), EBADF);

    PtyPair pty;
    ASSERT_EQ(port.open(pty.slavePath.c_str()), 0);
    EXPECT_EQ(port.open(pty.slavePath.c_str()), EALREADY);
    EXPECT_EQ(port.lastError(), EALREADY);
    EXPECT_EQ(port.setHandshaking(3), EINVAL);
    EXPECT_EQ(port.setReadTimeouts(2), EINVAL);
    EXPECT_EQ(port.setup(12345), EINVAL);
    EXPECT_EQ(port.setHandshaking(CSerial::HandshakeHardware), 0);
    EXPECT_EQ(port.handshaking(), CSerial::HandshakeHardware);

    // Exclusive: a second port object cannot take the same device.
    struct Other : CSerial {
    } other;
    EXPECT_NE(other.open(pty.slavePath.c_str()), 0);

    // Blocking reads wait for the whole length and time out otherwise.
    ASSERT_EQ(port.setReadTimeouts(CSerial::ReadBlocking), 0);
    ASSERT_EQ(::write(pty.master, "ab", 2), 2);
    size_t got = 0;
    EXPECT_EQ(port.read(buf, 4, &got, 100), ETIMEDOUT);
    EXPECT_EQ(got, 2u);
    ASSERT_EQ(port.waitEvent(0), ETIMEDOUT);
    ASSERT_EQ(::write(pty.master, "c", 1), 1);
    ASSERT_EQ(port.waitEvent(5000), 0);
    EXPECT_EQ(port.eventsReceived(), uint32_t(CSerial::EventRxChar));
}

// A tty whose peer has gone stays readable while every read returns 0; the
// listener's read of the last announced bytes used to spin on it for ever.
TEST(SerialRead, AHungUpLineEndsAReadWithAnErrorInsteadOfSpinning)
{
    PtyPair pty;
    CSerial port;
    ASSERT_EQ(0, port.open(pty.slavePath.c_str()));
    pty.closeMaster();
    uint8_t buffer[71];
    size_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(0, port.read(buffer, sizeof buffer, &got, 1000));
    EXPECT_EQ(0u, got);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    port.close();
}
