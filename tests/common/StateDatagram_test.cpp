#include "common/Angles.h"
#include "common/Json.h"
#include "common/QtPrint.h"
#include "common/StateDatagram.h"

#include <gtest/gtest.h>

namespace {

// The host's degree conversion: multiplied by 180 in single precision, then
// widened and divided by pi.
double degrees(float radians)
{
    return double(radians * 180.0f) / Pi;
}

StateDatagram::State workedExample()
{
    StateDatagram::State s;
    s.roll = 0.5f;
    s.pitch = -0.25f;
    s.yaw = 1.5f;
    s.worldX = 1;
    s.worldY = 2;
    s.worldZ = 3; // reported -3, sign inverted
    s.worldLatitude = degrees(0.5f);
    s.worldLongitude = degrees(2.0f);
    s.velocityX = 0.5f;
    s.velocityY = 0;
    s.velocityZ = -0.25f; // reported 0.25
    s.time = quint32(1200.7f);
    s.transformState = 0;
    s.motorStarted = 0x03 & 1;
    s.flyingState = 0x03 >> 1;
    s.productType = 2;
    s.senderIp = "192.168.0.10";
    s.simulatorCommand = 1;
    return s;
}

TEST(StateDatagram, WorkedExampleByteForByte)
{
    EXPECT_EQ(StateDatagram::text(StateDatagram::statePairs(workedExample())),
              QString("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
                      "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,"
                      "\"VelocityY\":0,\"VelocityZ\":-0.25,\"Time\":1200,\"TransformState\":0,"
                      "\"MotorStarted\":1,\"FlyingState\":1,\"ProductType\":2,"
                      "\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}"));
}

TEST(StateDatagram, ZeroStateCarriesProductAndCounterButNoSender)
{
    EXPECT_EQ(StateDatagram::text(StateDatagram::zeroStatePairs(2, 2)),
              QString("{\"Roll\":0,\"Pitch\":0,\"Yaw\":0,\"WorldX\":0,\"WorldY\":0,\"WorldZ\":0,"
                      "\"WorldLatitude\":0,\"WorldLongitude\":0,\"VelocityX\":0,\"VelocityY\":0,"
                      "\"VelocityZ\":0,\"Time\":0,\"TransformState\":0,\"MotorStarted\":0,"
                      "\"FlyingState\":0,\"ProductType\":2,\"SimulatorCommand\":2}"));
}

TEST(StateDatagram, NumberFormats)
{
    const struct {
        double value;
        const char* text;
    } reals[] = {
        {0.5, "0.5"}, {degrees(0.5f), "28.6479"}, {1234567, "1.23457e+06"}, {0.00001, "1e-05"},
        {-3, "-3"}, {0, "0"}, {double(0.1f), "0.1"},
    };
    for (const auto& r : reals)
        EXPECT_EQ(StateDatagram::real6(r.value), QString(r.text)) << r.text;
    EXPECT_EQ(StateDatagram::integer(4294967295u), QString("4294967295"));
    EXPECT_EQ(StateDatagram::integer(-7), QString("-7"));
}

TEST(StateDatagram, MismatchedListsGiveNoText)
{
    EXPECT_TRUE(StateDatagram::text({"Roll", "Pitch"}, {"0"}).isNull());
}

TEST(StateDatagram, ReceiverReadsEveryKeyBack)
{
    bool ok = false;
    const QVariantMap map =
        Json::parse(StateDatagram::text(StateDatagram::statePairs(workedExample())), ok).toMap();
    ASSERT_TRUE(ok);
    EXPECT_EQ(map.keys().size(), StateDatagram::stateKeys().size());
    EXPECT_FLOAT_EQ(map.value("WorldLatitude").toFloat(), 28.6479f);
    EXPECT_FLOAT_EQ(map.value("VelocityZ").toFloat(), -0.25f);
    EXPECT_EQ(map.value("Time").toInt(), 1200);
    EXPECT_EQ(map.value("SenderIP").toString(), QString("192.168.0.10"));
}

} // namespace
