#include "host/FlightState.h"
#include "tests/common/FlightStateSample.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

FlightStateRecord withFlags(uint8_t flags)
{
    FlightStateRecord r;
    r.flags = flags;
    return r;
}

TEST(FlightState, ConvertsTheRecordIntoTheDatagramText)
{
    StateDatagram::State s = convertFlightState(sampleFlightState());
    s.productType = ProductNerio3;
    s.senderIp = "192.168.0.10";
    s.simulatorCommand = 1;
    EXPECT_EQ("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
              "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,\"VelocityY\":0,"
              "\"VelocityZ\":0.25,\"Time\":1200,\"TransformState\":0,\"MotorStarted\":1,\"FlyingState\":1,"
              "\"ProductType\":2,\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}",
              StateDatagram::encode(s));
}

TEST(FlightState, FieldConversions)
{
    FlightStateRecord r;
    r.z = 1.5f;
    r.latitude = 0.5f;
    EXPECT_FLOAT_EQ(-1.5f, convertFlightState(r).worldZ);
    EXPECT_NEAR(28.6479, convertFlightState(r).worldLatitude, 1e-4);

    const StateDatagram::State flags = convertFlightState(withFlags(0x05));
    EXPECT_EQ(1, flags.motorStarted);
    EXPECT_EQ(2, flags.flyingState);
    EXPECT_EQ(127, convertFlightState(withFlags(0xFE)).flyingState);

    struct {
        float in;
        int transform;
    } transforms[] = {{257.9f, 1}, {3.99f, 3}, {-1.0f, 255}, {255.0f, 255}};
    for (const auto& t : transforms) {
        r.transformState = t.in;
        EXPECT_EQ(t.transform, convertFlightState(r).transformState) << t.in;
    }
}

TEST(FlightState, OddTimeValuesStayDefined)
{
    struct {
        float in;
        uint32_t time;
    } cases[] = {{1200.7f, 1200},
                 {0.0f, 0},
                 {-1.0f, 0xFFFFFFFFu},
                 {5e9f, uint32_t(int64_t(5e9f))},
                 {std::numeric_limits<float>::quiet_NaN(), 0},
                 {std::numeric_limits<float>::infinity(), 0}};
    for (const auto& c : cases) {
        FlightStateRecord r;
        r.time = c.in;
        EXPECT_EQ(c.time, convertFlightState(r).time) << c.in;
    }
}

} // namespace
