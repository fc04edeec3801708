#include "host/FlightState.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <array>

namespace {

struct Record
{
    std::array<uint8_t, 58> bytes{};
    Record& flags(uint8_t value)
    {
        bytes[1] = value;
        return *this;
    }
    Record& at(int offset, float value)
    {
        qToLittleEndian(value, bytes.data() + offset);
        return *this;
    }
};

enum Offset { Roll = 2, Pitch = 6, Yaw = 10, X = 14, Y = 18, Z = 22, Lat = 26, Lon = 30,
              Vx = 34, Vy = 38, Vz = 42, Time = 46, Spare = 50, Transform = 54 };

TEST(FlightState, ConvertsTheRecordIntoTheDatagramText)
{
    Record r;
    r.flags(0x03).at(Roll, 0.5f).at(Pitch, -0.25f).at(Yaw, 1.5f).at(X, 1).at(Y, 2).at(Z, -3)
        .at(Lat, 0.5f).at(Lon, 2).at(Vx, 0.5f).at(Vy, 0).at(Vz, -0.25f).at(Time, 1200.7f)
        .at(Spare, 99).at(Transform, 0);
    StateDatagram::State s = decodeFlightState(r.bytes.data());
    s.productType = 2;
    s.senderIp = "192.168.0.10";
    s.simulatorCommand = 1;
    EXPECT_EQ("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
              "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,\"VelocityY\":0,"
              "\"VelocityZ\":0.25,\"Time\":1200,\"TransformState\":0,\"MotorStarted\":1,\"FlyingState\":1,"
              "\"ProductType\":2,\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}",
              StateDatagram::text(StateDatagram::statePairs(s)));
}

TEST(FlightState, FieldConversions)
{
    EXPECT_FLOAT_EQ(-1.5f, decodeFlightState(Record().at(Z, 1.5f).bytes.data()).worldZ);
    EXPECT_NEAR(28.6479, decodeFlightState(Record().at(Lat, 0.5f).bytes.data()).worldLatitude, 1e-4);

    const StateDatagram::State flags = decodeFlightState(Record().flags(0x05).bytes.data());
    EXPECT_EQ(1, flags.motorStarted);
    EXPECT_EQ(2, flags.flyingState);
    EXPECT_EQ(127, decodeFlightState(Record().flags(0xFE).bytes.data()).flyingState);

    struct { float in; int transform; } transforms[] = {{257.9f, 1}, {3.99f, 3}, {-1.0f, 255}, {255.0f, 255}};
    for (const auto& t : transforms)
        EXPECT_EQ(t.transform, decodeFlightState(Record().at(Transform, t.in).bytes.data()).transformState) << t.in;
}

TEST(FlightState, OddTimeValuesStayDefined)
{
    struct { float in; uint32_t time; } cases[] = {
        {1200.7f, 1200}, {0.0f, 0}, {-1.0f, 0xFFFFFFFFu}, {5e9f, uint32_t(int64_t(5e9f))},
        {std::numeric_limits<float>::quiet_NaN(), 0}, {std::numeric_limits<float>::infinity(), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.time, decodeFlightState(Record().at(Time, c.in).bytes.data()).time) << c.in;
}

TEST(FlightState, ProductByteUsesTheLowFourBits)
{
    struct { uint8_t byte; ProductType type; } cases[] = {
        {0x00, ProductTavik1}, {0x01, ProductNerio3}, {0x21, ProductNerio3}, {0x02, ProductVx7},
        {0xF2, ProductVx7}, {0x03, ProductUnknown}, {0x0F, ProductUnknown}};
    for (const auto& c : cases)
        EXPECT_EQ(c.type, productTypeFromByte(c.byte)) << int(c.byte);
}

} // namespace
