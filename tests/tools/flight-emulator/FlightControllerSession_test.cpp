// The flight controller's answers to the host, checked through the framing.

#include "tools/flight-emulator/FlightControllerSession.h"

#include "link/Package.h"
#include "tests/tools/flight-emulator/SimulationPayloads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace emu;
using namespace emutest;

namespace {

struct Frame {
    uint8_t sender, receiver;
    uint16_t seq;
    uint8_t set, id;
    std::vector<uint8_t> payload;
    bool droppable;
};

// A session on a hand-driven clock; everything it sends goes through the
// reassembly loop, so only well-framed packages are seen.
class SessionTest : public ::testing::Test {
protected:
    void make(SessionConfig config = {})
    {
        session = std::make_unique<FlightControllerSession>(
            config,
            FlightControllerSession::Output{
                [this](std::vector<uint8_t> bytes, bool droppable) {
                    const size_t n =
                        assembler.feed(bytes.data(), bytes.size(), [&](const PackageProperty_V1* f, size_t length) {
                            EXPECT_EQ(length, bytes.size());
                            sent.push_back({f->sender,
                                            f->receiver,
                                            uint16_t(f->seq()),
                                            f->cmdSet,
                                            f->cmdId,
                                            {f->payload(), f->payload() + f->payloadLength()},
                                            droppable});
                        });
                    EXPECT_EQ(n, 1u) << "one frame per send";
                },
                [this](const std::string& line) { events.push_back(line); }});
    }
    void SetUp() override { make(); }

    void host(uint8_t set, uint8_t id, std::vector<uint8_t> payload, uint16_t seq = 0, uint8_t receiverType = 3)
    {
        const auto frame = buildPackage(set, id, payload.data(), payload.size(), receiverType, 0, seq);
        session->onFrame(PackageProperty_V1::from(frame.data()), frame.size(), clock);
    }
    void startRun(double lat = 0.4, double lon = 1.9)
    {
        host(11, 1, {0, 1, 0, 0});
        host(11, 4, environmentPayload(lat, lon));
    }
    // Runs the clock forward in small steps, as the event loop would.
    void runFor(double seconds)
    {
        const double end = clock + seconds;
        while (clock < end) {
            clock = std::min(end, std::min(clock + 0.005, session->nextDue()));
            session->advance(clock);
        }
    }
    std::vector<Frame> take(uint8_t set, uint8_t id)
    {
        std::vector<Frame> out;
        for (const Frame& f : sent)
            if (f.set == set && f.id == id)
                out.push_back(f);
        return out;
    }
    bool hasEvent(const std::string& prefix) const
    {
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    std::unique_ptr<FlightControllerSession> session;
    PackageAssembler assembler;
    std::vector<Frame> sent;
    std::vector<std::string> events;
    double clock = 100.0;
};

} // namespace

TEST_F(SessionTest, StatusQueryIsAnsweredReadyFromTheFlightControllerToTheHost)
{
    host(0, 12, {0}, 7);
    ASSERT_EQ(sent.size(), 1u);
    const Frame& f = sent[0];
    EXPECT_EQ(f.sender, 0x03);
    EXPECT_EQ(f.receiver, 0x0A);
    EXPECT_EQ(f.set, 0);
    EXPECT_EQ(f.id, 12);
    const auto reply = StatusReply::decode(f.payload.data(), f.payload.size());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 0u) << "bit 0 clear lets the host start its command writer";
    EXPECT_EQ(f.seq, 7) << "answers carry the host's sequence number, which advances its counter";
}

TEST_F(SessionTest, StartIsAnsweredWithSwitchingAndAParameterRequestForTheProduct)
{
    for (const auto& [product, code] : {std::pair{ProductTavik1, 0}, {ProductNerio3, 1}, {ProductVx7, 2}}) {
        sent.clear();
        SessionConfig config;
        config.product = product;
        make(config);
        host(11, 1, {0, 1, 0, 0}, 3);
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0].id, 1);
        EXPECT_EQ(sent[0].payload, (std::vector<uint8_t>{0, 0, 0, 0})) << "state 0: switching to simulation";
        EXPECT_EQ(sent[1].id, 3);
        ASSERT_EQ(sent[1].payload.size(), 1u);
        EXPECT_EQ(sent[1].payload[0] & 0x0F, code);
        for (const Frame& f : sent) {
            EXPECT_EQ(f.set, 11);
            EXPECT_EQ(f.seq, 3);
            EXPECT_EQ(f.sender, 0x03);
        }
    }
}

TEST_F(SessionTest, HeartbeatsAreAnsweredWithTheSimulationState)
{
    host(11, 1, {0, 0, 0, 0}, 1);
    host(11, 1, {0, 1, 0, 0}, 2);
    host(11, 2, {1}, 2);
    host(11, 1, {0, 0, 0, 0}, 3);
    const auto replies = take(11, 1);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].payload[1], 2) << "unknown before a start";
    EXPECT_EQ(replies[1].payload[1], 0) << "switching on the start";
    EXPECT_EQ(replies[2].payload[1], 1) << "running afterwards: a value the host does not log every second";
    EXPECT_EQ(replies[2].seq, 3);
}

TEST_F(SessionTest, ParameterRequestIsRepeatedUntilTheEnvironmentArrives)
{
    host(11, 1, {0, 1, 0, 0});
    runFor(2.5);
    EXPECT_EQ(take(11, 3).size(), 3u);
    EXPECT_TRUE(take(11, 6).empty()) << "no flight before the start position is known";
    host(11, 4, environmentPayload(0.4, 1.9));
    runFor(2.5);
    EXPECT_EQ(take(11, 3).size(), 3u);
}

TEST_F(SessionTest, FlightStatesStreamAtTheRateFromTheStartPositionUntilStop)
{
    SessionConfig config;
    config.rateHz = 100;
    make(config);
    startRun(0.4, 1.9);
    EXPECT_TRUE(hasEvent("environment received"));
    runFor(2.0);

    const auto states = take(11, 6);
    ASSERT_NEAR(static_cast<double>(states.size()), 200.0, 2.0);
    float lastTime = -1.0f;
    for (const Frame& f : states) {
        ASSERT_EQ(f.payload.size(), 58u);
        EXPECT_TRUE(f.droppable);
        const FlightStateRecord record = flightState(f.payload);
        EXPECT_FLOAT_EQ(record.latitude, 0.4f);
        EXPECT_FLOAT_EQ(record.longitude, 1.9f);
        EXPECT_GT(record.time, lastTime) << "time in milliseconds moves on";
        lastTime = record.time;
    }
    EXPECT_NEAR(lastTime, 2000.0f, 15.0f);
    EXPECT_EQ(states.back().payload[1] & 1, 1) << "motors started";

    host(11, 4, stopPayload());
    EXPECT_TRUE(hasEvent("stop"));
    const size_t before = take(11, 6).size();
    runFor(1.0);
    EXPECT_EQ(take(11, 6).size(), before);
    EXPECT_FALSE(session->running());
}

TEST_F(SessionTest, DeviceLogsCarryTypeTextAndTerminatingZero)
{
    startRun();
    runFor(25.0);
    std::vector<int> types;
    for (const Frame& f : take(0, 14)) {
        ASSERT_GE(f.payload.size(), 3u);
        EXPECT_EQ(f.payload.back(), 0) << "zero-terminated";
        const std::string text(f.payload.begin() + 1, f.payload.end() - 1);
        EXPECT_EQ(text.find('\0'), std::string::npos);
        EXPECT_GT(text.size(), 4u);
        if (std::find(types.begin(), types.end(), f.payload[0]) == types.end())
            types.push_back(f.payload[0]);
    }
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<int>{int(LogType::System), int(LogType::Gps), int(LogType::Battery)}));
    EXPECT_TRUE(hasEvent("mission phase: take-off"));
}

TEST_F(SessionTest, PackagesNotMeantForTheFlightControllerAreIgnored)
{
    host(0, 12, {0}, 0, 5);
    EXPECT_TRUE(sent.empty());
    host(0, 12, {0}, 0, 31);
    EXPECT_EQ(sent.size(), 1u) << "broadcast is accepted";

    // Version 2 in the length word: same frame otherwise.
    std::vector<uint8_t> frame = buildPackage(0, 12, std::vector<uint8_t>{0}.data(), 1, 3, 0, 0);
    frame[2] = (frame[2] & 0x03) | (2 << 2);
    sealHeader(frame.data());
    sealFrame(frame.data(), frame.size());
    session->onFrame(PackageProperty_V1::from(frame.data()), frame.size(), clock);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(SessionTest, BadEnvironmentIsRejectedAndTheRequestRepeated)
{
    const struct {
        const char* name;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"too short", std::vector<uint8_t>(10, 0)},
        {"latitude not a number", environmentPayload(std::nan(""), 0.0)},
        {"latitude beyond the pole", environmentPayload(2.0, 0.0)},
        {"longitude infinite", environmentPayload(0.0, INFINITY)},
    };
    for (const auto& c : cases) {
        make();
        host(11, 1, {0, 1, 0, 0});
        host(11, 4, c.payload);
        EXPECT_FALSE(session->flying()) << c.name;
        EXPECT_TRUE(hasEvent("environment rejected")) << c.name;
        const size_t requests = take(11, 3).size();
        sent.clear();
        runFor(1.1);
        EXPECT_EQ(take(11, 3).size(), 1u) << c.name << " (after " << requests << ")";
        events.clear();
    }
}

TEST_F(SessionTest, StartWhileFlyingBeginsANewRunOnTheGround)
{
    startRun();
    runFor(12.0);
    ASSERT_LT(session->flight()->body().position.z, -5.0);
    host(11, 1, {0, 1, 0, 0});
    EXPECT_FALSE(session->flying()) << "waits for the environment again";
    host(11, 4, environmentPayload(0.4, 1.9));
    ASSERT_TRUE(session->flying());
    EXPECT_EQ(session->flight()->body().position.z, 0.0);
}
