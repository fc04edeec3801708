#include "tests/link/LinkTestSupport.h"
#include "tests/link/LogCapture.h"
#include "link/CmdManager.h"
#include "link/Connector.h"

#include <QSignalSpy>

#include <algorithm>
#include <memory>
#include <new>

using namespace linktest;

namespace {

// A reply as the flight controller (type 3) sends it.
Bytes reply(uint8_t cmdSet, uint8_t cmdId, const Bytes& payload, uint16_t seq = 0, uint8_t receiverType = 10,
            uint8_t sender = makeAddress(3, 0))
{
    return buildPackageFrom(sender, cmdSet, cmdId, payload.data(), payload.size(), receiverType, 0, seq);
}

Bytes statusReply(uint32_t status, uint8_t sender = makeAddress(3, 0))
{
    return reply(0, 12, {0, 0, uint8_t(status), uint8_t(status >> 8), uint8_t(status >> 16), uint8_t(status >> 24)},
                 0xFFFF, 10, sender);
}

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The manager, the connection manager and a serial device on a pseudo-terminal.
class CmdManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        zel::DevIo::setCurrent(&device);
        zel::GlobalDataCache::instance()->clearCommandQueue();
        connector = new qConnector;
        manager = new qCmdManager;
        device.addListener(connector);
        device.addListener(manager);
    }
    void TearDown() override
    {
        delete manager;
        delete connector;
        zel::GlobalDataCache::instance()->clearCommandQueue();
        zel::DevIo::setCurrent(nullptr);
    }
    void connect()
    {
        device.onDeviceArrival(QString::fromStdString(pty.slavePath));
        ASSERT_TRUE(connector->isConnected());
        pty.receive(14); // the status query
    }
    void deliver(const Bytes& frame)
    {
        const DevNotify n{DevPackageReceived, frame.data()};
        manager->onNotify(&n);
    }
    // Sends a heartbeat-like command and returns the sequence number it carried.
    unsigned nextSequence()
    {
        const uint8_t payload[4] = {};
        manager->sendCommand(1, 11, payload, 4, 3, 0, true);
        const Bytes got = pty.receive(17);
        return got.size() == 17 ? PackageProperty_V1::from(got.data())->seq() : ~0u;
    }

    PtyPair pty;
    zel::SimpleDevIo device;
    qConnector* connector = nullptr;
    qCmdManager* manager = nullptr;
    LogCapture log;
};

} // namespace

TEST_F(CmdManagerTest, ReceiverAndVersionChecks)
{
    struct Case {
        const char* name;
        uint8_t receiverType;
        unsigned version;
        bool accepted;
        const char* logLine;
    };
    const Case cases[] = {
        {"host", 10, 1, true, nullptr},
        {"broadcast", 31, 1, true, nullptr},
        {"flight controller", 3, 1, false, "[Recv     @"},
        {"version 2", 10, 2, false, "[Cmd      @"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t logged = log.text().size();
        const uint16_t seq = manager->sequence();
        Bytes frame = reply(0, 13, {0x5A}, seq, c.receiverType);
        frame[2] = uint8_t((frame[2] & 0x03) | (c.version << 2)); // version bits, checksums unchecked here
        deliver(frame);
        EXPECT_EQ(manager->sequence(), c.accepted ? uint16_t(seq + 1) : seq);
        const std::string text = log.text().substr(logged);
        EXPECT_EQ(text.find("] Set hardware Id ACK, ret=0x5A\n") != std::string::npos, c.accepted);
        if (c.logLine) {
            EXPECT_NE(text.find(c.logLine), std::string::npos);
        }
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("] receiver[0x03] not match,Ignore package!\n"), std::string::npos);
    EXPECT_NE(text.find("] Protocol:0x02 not implementated!\n"), std::string::npos);
    EXPECT_EQ(countOf(text, "cmd_id=13,set=0,receiver=10 \n"), 1u);
    EXPECT_EQ(countOf(text, "cmd_id=13,set=0,receiver=31 \n"), 1u);
}

TEST_F(CmdManagerTest, SequenceFollowsRepliesAndRestartsOnConnection)
{
    connect();
    EXPECT_EQ(nextSequence(), 0u); // sending does not advance it
    EXPECT_EQ(nextSequence(), 0u);
    deliver(reply(11, 1, {0, 0, 0, 0}, 0));
    deliver(reply(11, 1, {0, 0, 0, 0}, 0)); // same number again: no second step
    deliver(reply(11, 1, {0, 0, 0, 0}, 7)); // not the current number
    EXPECT_EQ(nextSequence(), 1u);
    manager->sendCommand(1, 11, nullptr, 0, 3, 0, true);
    pty.receive(13);
    connect(); // reconnection
    EXPECT_EQ(nextSequence(), 0u);

    // The counter wraps at 16 bits.
    for (unsigned seq = 0; seq < 0xFFFF; ++seq)
        deliver(reply(11, 1, {}, uint16_t(seq)));
    EXPECT_EQ(manager->sequence(), 0xFFFF);
    deliver(reply(11, 1, {}, 0xFFFF));
    EXPECT_EQ(manager->sequence(), 0);
}

TEST_F(CmdManagerTest, QueueAcceptsOnlyWhileConnectedAndUpTo257)
{
    zel::GlobalDataCache* cache = zel::GlobalDataCache::instance();
    manager->sendCommand(1, 11, nullptr, 0, 3, 0, false);
    EXPECT_EQ(cache->commandQueueSize(), 0u); // not connected

    connect();
    for (int i = 0; i < 300; ++i)
        manager->sendCommand(1, 11, nullptr, 0, 3, 0, false);
    EXPECT_EQ(cache->commandQueueSize(), 257u);
    const auto entries = cache->commandQueueSnapshot();
    EXPECT_EQ(entries.front().writes, 0);
    EXPECT_EQ(entries.front().frame, buildPackage(11, 1, nullptr, 0, 3, 0, 0));
}

TEST_F(CmdManagerTest, WriterRepeatsSixTimesThenGivesUp)
{
    QSignalSpy errors(manager, &qCmdManager::writeCmdError);
    connect();
    const uint16_t seq = 0;
    manager->sendCommand(0x20, 3, nullptr, 0, 3, 0, false);
    ASSERT_EQ(zel::GlobalDataCache::instance()->commandQueueSize(), 1u);

    deliver(statusReply(0)); // the flight controller is ready: writer starts
    EXPECT_TRUE(manager->writer()->writing());
    deliver(statusReply(0)); // already running: nothing changes
    ASSERT_TRUE(waitUntil([&] { return errors.count() == 1; }));
    EXPECT_EQ(errors.at(0).at(0).toInt(), seq);
    EXPECT_EQ(zel::GlobalDataCache::instance()->commandQueueSize(), 0u);

    const Bytes frame = buildPackage(3, 0x20, nullptr, 0, 3, 0, seq);
    const Bytes written = pty.receive(frame.size() * 7, 300);
    ASSERT_EQ(written.size(), frame.size() * 6);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(Bytes(written.begin() + long(i * frame.size()), written.begin() + long((i + 1) * frame.size())),
                  frame);

    deliver(statusReply(1)); // busy: writer stops
    ASSERT_TRUE(waitUntil([&] { return manager->writer()->isFinished(); }));
    const std::string text = log.text();
    EXPECT_EQ(countOf(text, "Command write thread started\n"), 1u);
    EXPECT_EQ(countOf(text, "command write error! seq = 0 \n"), 1u);
    EXPECT_EQ(countOf(text, "Device Status, Sender[type=0x03 id=0x00],   Status:0x00000000\n"), 2u);
    EXPECT_EQ(countOf(text, "Device Status, Sender[type=0x03 id=0x00],   Status:0x00000001\n"), 1u);
    EXPECT_NE(text.find("thread stopped\n"), std::string::npos);

    deliver(statusReply(0)); // and starts again
    EXPECT_TRUE(manager->writer()->writing());
}

TEST_F(CmdManagerTest, WriterEmptiesTheQueueAfterDisconnection)
{
    connect();
    manager->sendCommand(0x20, 3, nullptr, 0, 3, 0, false);
    device.onDeviceRemoveComplete("any");
    EXPECT_FALSE(connector->isConnected());
    deliver(statusReply(0));
    ASSERT_TRUE(waitUntil([] { return zel::GlobalDataCache::instance()->commandQueueSize() == 0; }));
}

TEST_F(CmdManagerTest, TableDataRemovesItsQueuedCommandAndReportsUnknownItems)
{
    connect();
    manager->sendCommand(0xF0, 3, nullptr, 0, 3, 0, false); // seq 0
    deliver(reply(11, 1, {}, 0)); // counter to 1
    manager->sendCommand(0xF0, 3, nullptr, 0, 3, 0, false); // seq 1
    ASSERT_EQ(zel::GlobalDataCache::instance()->commandQueueSize(), 2u);

    QSignalSpy updates(manager, &qCmdManager::updateUI);
    deliver(reply(3, 0xF2, {0x00, 0x34, 0x12, 0xFF}, 1));
    const auto left = zel::GlobalDataCache::instance()->commandQueueSnapshot();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.front().seq, 0u);
    deliver(reply(3, 0xF1, {0x00}, 9)); // nothing after the first byte: no item, no line
    deliver(reply(3, 0x39, {0x07}, 9));
    EXPECT_EQ(updates.count(), 0);
    const std::string text = log.text();
    EXPECT_EQ(countOf(text, "] Data size invalid [index = 0x1234],please update cmd table!\n"), 1u);
    EXPECT_NE(text.find("[Cmd Parse @"), std::string::npos);
    EXPECT_NE(text.find("SDCard Cmd: ret = 0x07 \n"), std::string::npos);
}

TEST_F(CmdManagerTest, DeviceLogText)
{
    QSignalSpy logs(manager, &qCmdManager::deviceLog);
    struct Case {
        Bytes payload;
        int type;
        QString text;
    };
    const Case cases[] = {
        {{2, 'h', 'i', '!', 0}, 2, "hi!"},
        {{1, 'a', 'b', 'c', 'd'}, 1, "abc"}, // the last byte is not text
        {{3, 'x', 0, 'y', 0}, 3, "x"}, // stops at the terminator
        {{1, 0xC3, 0xA9, 0}, 1, QString::fromUtf8("\xC3\xA9")},
        {{4}, 4, ""},
        {{}, 0, ""},
    };
    for (const Case& c : cases)
        deliver(reply(0, 14, c.payload, 0x100, 10, makeAddress(3, 2)));
    ASSERT_EQ(logs.count(), int(std::size(cases)));
    for (int i = 0; i < logs.count(); ++i) {
        SCOPED_TRACE(i);
        const QList<QVariant> args = logs.at(i);
        EXPECT_EQ(args.at(0).toInt(), 0x100);
        EXPECT_EQ(args.at(1).toInt(), cases[i].type);
        EXPECT_EQ(args.at(2).toString(), cases[i].text);
        EXPECT_EQ(args.at(3).toInt(), 3);
        EXPECT_EQ(args.at(4).toInt(), 2);
    }
}

TEST_F(CmdManagerTest, StatusRepliesAndVersionAck)
{
    deliver(statusReply(0x12345601, makeAddress(5, 1)));
    EXPECT_EQ(manager->deviceStatus(makeAddress(5, 1)), 0x01);
    EXPECT_EQ(manager->deviceStatus(makeAddress(3, 0)), -1);
    EXPECT_FALSE(manager->writer()->writing()); // only the flight controller drives the writer
    deliver(reply(0, 12, {0, 0, 0})); // too short to hold a status
    EXPECT_EQ(manager->deviceStatus(makeAddress(3, 0)), -1);
    EXPECT_NE(log.text().find("Device Status, Sender[type=0x05 id=0x01],   Status:0x12345601\n"), std::string::npos);

    QSignalSpy acks(manager, &qCmdManager::deviceVersionAck);
    deliver(reply(0, 1, {1, 2, 3}, 0, 10, makeAddress(3, 6)));
    ASSERT_EQ(acks.count(), 1);
    EXPECT_EQ(acks.at(0).at(0).toInt(), 2);
    EXPECT_EQ(acks.at(0).at(1).value<device_version_ack>().payload, QByteArray("\x01\x02\x03", 3));

    struct Kind {
        unsigned type, index;
        int code;
    };
    for (const Kind& k : {Kind{1, 0, 4}, Kind{3, 5, 1}, Kind{3, 7, 7}, Kind{3, 0, 0}, Kind{6, 0, 26}, Kind{12, 3, 19},
                          Kind{20, 0, 12}, Kind{21, 0, 0}})
        EXPECT_EQ(qCmdManager::deviceKindCode(k.type, k.index), k.code) << k.type << "." << k.index;
}

TEST_F(CmdManagerTest, QueryDeviceStatus)
{
    connect();
    manager->queryDeviceStatus(5, 1);
    EXPECT_EQ(pty.receive(14), buildPackage(0, 12, Bytes{0}.data(), 1, 5, 1, 0));
    EXPECT_NE(log.text().find("] Query device[0x05.1] status...\n"), std::string::npos);
}

TEST_F(CmdManagerTest, ConnectorFollowsTheNotificationCodes)
{
    QSignalSpy changed(connector, &qConnector::connectionChanged);
    QSignalSpy transfer(connector, &qConnector::dataTransfer);
    QSignalSpy failed(connector, &qConnector::connectFail);
    auto raise = [&](int code) {
        const Bytes f = reply(11, 1, {});
        const DevNotify n{code, code == DevPackageReceived ? f.data() : nullptr};
        connector->onNotify(&n);
    };

    connect(); // code 2 from a real arrival: status query written, connected
    EXPECT_EQ(changed.count(), 1);
    device.onDeviceArrival(QString::fromStdString(pty.slavePath)); // plugged in again
    EXPECT_EQ(pty.receive(14), buildPackage(0, 12, Bytes{0}.data(), 1, 3, 0, 0));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(countOf(log.text(), "] Query device[0x03.0] status...\n"), 2u);

    raise(DevPackageReceived);
    raise(DevDataWritten);
    ASSERT_EQ(transfer.count(), 2);
    EXPECT_FALSE(transfer.at(0).at(0).toBool());
    EXPECT_TRUE(transfer.at(1).at(0).toBool());

    raise(DevDisconnected);
    EXPECT_FALSE(connector->isConnected());
    ASSERT_EQ(changed.count(), 2);
    EXPECT_FALSE(changed.at(1).at(0).toBool());

    raise(DevConnected);
    EXPECT_TRUE(connector->isConnected());
    raise(DevConnectFailed);
    EXPECT_FALSE(connector->isConnected());
    EXPECT_EQ(failed.count(), 1);
    raise(99);
    EXPECT_EQ(changed.count(), 3);
}

// The host's listeners, fresh each round and placed so that the connector
// lies below the command manager in memory in one round and above it in the
// next: the status query that a reconnection sends must always carry
// sequence 0, and so must the next command.
TEST(ListenerOrder, FirstCommandAfterReconnectionCarriesSequenceZero)
{
    app();
    LogCapture log;
    struct alignas(64) Slot {
        unsigned char bytes[std::max(sizeof(qConnector), sizeof(qCmdManager))];
    };
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        PtyPair pty;
        auto device = std::make_unique<zel::SimpleDevIo>();
        zel::DevIo::setCurrent(device.get());
        zel::GlobalDataCache::instance()->clearCommandQueue();
        const std::unique_ptr<Slot[]> storage(new Slot[2]);
        auto* connector = new (&storage[round % 2]) qConnector;
        auto* manager = new (&storage[1 - round % 2]) qCmdManager;
        auto table = std::make_unique<zel::QCommandTable>();
        device->addListener(connector);
        device->addListener(table.get());
        device->addListener(manager);

        const QString path = QString::fromStdString(pty.slavePath);
        device->onDeviceArrival(path);
        ASSERT_EQ(pty.receive(14).size(), 14u);
        // Replies move the sequence on.
        for (uint16_t seq = 0; seq < 3; ++seq) {
            const Bytes r = reply(11, 1, {0, 0, 0, 0}, seq);
            const DevNotify n{DevPackageReceived, r.data()};
            manager->onNotify(&n);
        }
        ASSERT_EQ(manager->sequence(), 3);

        device->onDeviceArrival(path); // reconnection
        const Bytes query = pty.receive(14);
        ASSERT_EQ(query.size(), 14u);
        EXPECT_EQ(PackageProperty_V1::from(query.data())->cmdId, 12);
        EXPECT_EQ(PackageProperty_V1::from(query.data())->seq(), 0u);
        const uint8_t payload[4] = {};
        manager->sendCommand(1, 11, payload, 4, 3, 0, true);
        const Bytes next = pty.receive(17);
        ASSERT_EQ(next.size(), 17u);
        EXPECT_EQ(PackageProperty_V1::from(next.data())->seq(), 0u);

        device->onDeviceRemoveComplete(path);
        manager->~qCmdManager();
        table.reset();
        connector->~qConnector();
        zel::DevIo::setCurrent(nullptr);
    }
    zel::GlobalDataCache::instance()->clearCommandQueue();
}
