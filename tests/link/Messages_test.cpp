// Payload codecs: each message read back from its own bytes, and the bytes
// themselves pinned where the layout is fixed.
#include "common/Angles.h"
#include "link/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Hex digits, spaces allowed between bytes.
Bytes hex(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

TEST(StatusReply, RoundTripsAndPinsTheStatusOffset)
{
    const struct {
        uint32_t status;
        const char* bytes;
    } cases[] = {
        {0, "000000000000"},
        {1, "000001000000"},
        {0x12345678, "000078563412"},
        {0xFFFFFFFF, "0000FFFFFFFF"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = StatusReply{c.status}.encode();
        EXPECT_EQ(hex(c.bytes), bytes) << c.status;
        const auto back = StatusReply::decode(bytes.data(), bytes.size());
        ASSERT_TRUE(back);
        EXPECT_EQ(c.status, back->status);
    }
    const Bytes shortReply = hex("0000010000");
    EXPECT_FALSE(StatusReply::decode(shortReply.data(), shortReply.size()));
    EXPECT_FALSE(StatusReply::decode(nullptr, 0));
}

TEST(SimHeartbeat, RoundTripsStartBeatAndReplies)
{
    const struct {
        sim_heartbeat_t message;
        const char* bytes;
        uint32_t value;
        uint8_t simState;
    } cases[] = {
        {sim_heartbeat_t::startRequest(), "00010000", sim_heartbeat_t::StartRequest, 1},
        {sim_heartbeat_t::beat(), "00000000", sim_heartbeat_t::Beat, 0},
        {sim_heartbeat_t::reply(sim_heartbeat_t::Switching), "00000000", 0, 0},
        {sim_heartbeat_t::reply(sim_heartbeat_t::Running), "00010000", 0x100, 1},
        {sim_heartbeat_t::reply(sim_heartbeat_t::Unknown), "00020000", 0x200, 2},
    };
    for (const auto& c : cases) {
        const Bytes bytes = c.message.encode();
        EXPECT_EQ(hex(c.bytes), bytes) << c.bytes;
        const sim_heartbeat_t back = sim_heartbeat_t::decode(bytes.data(), bytes.size());
        EXPECT_EQ(c.value, back.value()) << c.bytes;
        EXPECT_EQ(c.simState, back.simState()) << c.bytes;
    }
    // A short reply reads as zeros rather than past its end.
    const Bytes two = hex("0002");
    EXPECT_EQ(2, sim_heartbeat_t::decode(two.data(), two.size()).simState());
    EXPECT_EQ(0u, sim_heartbeat_t::decode(nullptr, 0).value());
}

TEST(SimAckAndParamRequest, RoundTrip)
{
    const Bytes ack = SimAck().encode();
    EXPECT_EQ(hex("01"), ack);
    EXPECT_TRUE(SimAck::decode(ack.data(), ack.size()));
    EXPECT_FALSE(SimAck::decode(nullptr, 0));

    for (uint8_t product : {0x00, 0x02, 0x21, 0xFF}) {
        const Bytes bytes = ParamRequest{product}.encode();
        EXPECT_EQ(Bytes{product}, bytes);
        EXPECT_EQ(product, ParamRequest::decode(bytes.data(), bytes.size()).productByte);
    }
    EXPECT_EQ(0, ParamRequest::decode(nullptr, 0).productByte);
}

TEST(EnvironmentPayload, RoundTripsThePositionAndKeepsTheFixedFields)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double latitude, longitude;
    } cases[] = {
        {0.39334, 1.98886}, {0, 0}, {-Pi / 2, -Pi}, {nan, inf}, {1e300, -1e-300},
    };
    for (const auto& c : cases) {
        EnvironmentPayload e;
        e.latitude = c.latitude;
        e.longitude = c.longitude;
        const Bytes bytes = e.encode();
        ASSERT_EQ(40u, bytes.size());
        // Mode 0, 1, 2580, then after both positions the step 0.1 and 255, 7, 0, 14.
        EXPECT_EQ(hex("000114 0A"), Bytes(bytes.begin(), bytes.begin() + 4));
        EXPECT_EQ(hex("9A9999999999B93F FF07000E"), Bytes(bytes.begin() + 20, bytes.begin() + 32));
        EXPECT_EQ(Bytes(8, 0), Bytes(bytes.begin() + 32, bytes.end()));
        const auto back = EnvironmentPayload::decode(bytes.data(), bytes.size());
        ASSERT_TRUE(back);
        EXPECT_TRUE(sameBits(c.latitude, back->latitude)) << c.latitude;
        EXPECT_TRUE(sameBits(c.longitude, back->longitude)) << c.longitude;
    }
    // The longitude comes first: 1.0 at offset 4 is 00 .. F0 3F.
    EnvironmentPayload e;
    e.longitude = 1.0;
    const Bytes bytes = e.encode();
    EXPECT_EQ(hex("000000000000F03F"), Bytes(bytes.begin() + 4, bytes.begin() + 12));

    const Bytes stop = StopPayload().encode();
    const Bytes cut(bytes.begin(), bytes.begin() + EnvironmentPayload::MinSize - 1);
    EXPECT_FALSE(EnvironmentPayload::decode(stop.data(), stop.size())) << "a stop is no environment";
    EXPECT_FALSE(EnvironmentPayload::decode(cut.data(), cut.size()));
    EXPECT_TRUE(EnvironmentPayload::decode(bytes.data(), EnvironmentPayload::MinSize));
}

TEST(StopPayload, RoundTripsAndIsTellableFromAnEnvironment)
{
    const Bytes stop = StopPayload().encode();
    Bytes expected(40, 0);
    expected[0] = 2;
    EXPECT_EQ(expected, stop);
    EXPECT_TRUE(StopPayload::decode(stop.data(), stop.size()));
    EXPECT_TRUE(StopPayload::decode(stop.data(), 1)) << "the mode byte alone says stop";
    const Bytes environment = EnvironmentPayload().encode();
    EXPECT_FALSE(StopPayload::decode(environment.data(), environment.size()));
    EXPECT_FALSE(StopPayload::decode(nullptr, 0));
}

TEST(FlightStateRecord, RoundTripsEveryField)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    FlightStateRecord typical;
    typical.flags = 0x05;
    typical.roll = 0.5f, typical.pitch = -0.25f, typical.yaw = 1.5f;
    typical.x = 1, typical.y = 2, typical.z = -3;
    typical.latitude = 0.5f, typical.longitude = 2;
    typical.vx = 0.5f, typical.vy = -1, typical.vz = 0.25f;
    typical.time = 1200.5f;
    typical.transformState = 3;
    FlightStateRecord odd = typical;
    odd.flags = 0xFF;
    odd.roll = nan, odd.z = -inf, odd.time = 5e9f, odd.transformState = -1;
    odd.latitude = std::numeric_limits<float>::denorm_min();

    for (const FlightStateRecord& r : {FlightStateRecord(), typical, odd}) {
        const Bytes bytes = r.encode();
        ASSERT_EQ(58u, bytes.size());
        const auto back = FlightStateRecord::decode(bytes.data(), bytes.size());
        ASSERT_TRUE(back);
        EXPECT_EQ(r.flags, back->flags);
        const float sent[] = {r.roll, r.pitch, r.yaw,           r.x, r.y, r.z, r.latitude, r.longitude, r.vx, r.vy,
                              r.vz,   r.time,  r.transformState};
        const float got[] = {back->roll, back->pitch,    back->yaw,           back->x,  back->y,
                             back->z,    back->latitude, back->longitude,     back->vx, back->vy,
                             back->vz,   back->time,     back->transformState};
        for (size_t i = 0; i < sizeof sent / sizeof sent[0]; ++i)
            EXPECT_TRUE(sameBits(sent[i], got[i])) << "field " << i << ": " << sent[i] << " came back as " << got[i];
    }
}

TEST(FlightStateRecord, FieldsSitAtTheirOffsets)
{
    FlightStateRecord r;
    r.flags = 0x05;
    r.roll = 1; // 0000803F
    r.z = -2; // 000000C0
    r.longitude = 0.5f; // 0000003F
    r.time = 1200.5f; // 00109644
    r.transformState = 3; // 00004040
    const Bytes bytes = r.encode();
    EXPECT_EQ(hex("0005"
                  "0000803F"
                  "00000000"
                  "00000000"
                  "00000000"
                  "00000000"
                  "000000C0"
                  "00000000"
                  "0000003F"
                  "00000000"
                  "00000000"
                  "00000000"
                  "00109644"
                  "00000000"
                  "00004040"),
              bytes);
}

TEST(FlightStateRecord, ShortRecordsAreRefusedLongerOnesRead)
{
    FlightStateRecord r;
    r.transformState = 2;
    Bytes bytes = r.encode();
    EXPECT_FALSE(FlightStateRecord::decode(bytes.data(), 57));
    EXPECT_FALSE(FlightStateRecord::decode(nullptr, 0));
    bytes.resize(80, 0xEE);
    const auto longer = FlightStateRecord::decode(bytes.data(), bytes.size());
    ASSERT_TRUE(longer);
    EXPECT_EQ(2.0f, longer->transformState);
}
