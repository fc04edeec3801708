#include "common/Angles.h"
#include "common/Json.h"
#include "common/QtPrint.h"
#include "common/StateDatagram.h"

#include <gtest/gtest.h>

namespace {

// The host's degree conversion: multiplied by 180 in single precision, then
// widened and divided by pi.
double degrees(float radians) { return double(radians * 180.0f) / Pi; }

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
    EXPECT_EQ(StateDatagram::encode(workedExample()),
              QByteArray("{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,\"WorldZ\":3,"
                         "\"WorldLatitude\":28.6479,\"WorldLongitude\":114.592,\"VelocityX\":0.5,"
                         "\"VelocityY\":0,\"VelocityZ\":-0.25,\"Time\":1200,\"TransformState\":0,"
                         "\"MotorStarted\":1,\"FlyingState\":1,\"ProductType\":2,"
                         "\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}"));
}

TEST(StateDatagram, ZeroStateCarriesProductAndCounterButNoSender)
{
    EXPECT_EQ(StateDatagram::encode(StateDatagram::zeroState(2, 2)),
              QByteArray("{\"Roll\":0,\"Pitch\":0,\"Yaw\":0,\"WorldX\":0,\"WorldY\":0,\"WorldZ\":0,"
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
        {0.5, "0.5"}, {degrees(0.5f), "28.6479"}, {1234567, "1.23457e+06"}, {0.00001, "1e-05"}, {-3, "-3"},
        {0, "0"},     {double(0.1f), "0.1"},
    };
    for (const auto& r : reals)
        EXPECT_EQ(StateDatagram::real6(r.value), QString(r.text)) << r.text;
    EXPECT_EQ(StateDatagram::integer(4294967295u), QString("4294967295"));
    EXPECT_EQ(StateDatagram::integer(-7), QString("-7"));

    // The text goes as Latin-1: one byte per character, nothing escaped.
    StateDatagram::State s = StateDatagram::zeroState(0, 0);
    s.keys = StateDatagram::KeySet().set(size_t(StateDatagram::Key::SenderIP));
    s.senderIp = QString("caf%1").arg(QChar(0xE9));
    EXPECT_EQ(StateDatagram::encode(s), QByteArray("{\"SenderIP\":\"caf\xE9\"}"));
}

TEST(StateDatagram, EncodedStatesDecodeToTheSameText)
{
    using StateDatagram::Key;
    StateDatagram::State extremes = workedExample();
    extremes.worldX = 1234567;
    extremes.worldY = -0.00001f;
    extremes.worldLatitude = -90;
    extremes.worldLongitude = 179.999999;
    extremes.time = 4294967295u;
    extremes.transformState = 255;
    extremes.flyingState = 127;
    extremes.productType = 3;
    extremes.senderIp.clear();
    extremes.simulatorCommand = 255;

    // A replay source adds the sensor keys and its flag.
    StateDatagram::State replay = workedExample();
    replay.accZ = -9.81f;
    replay.gyroX = 0.125f;
    replay.rpm[0] = 1500;
    replay.rpm[7] = 2e+06f;
    replay.playBackEnabled = true;
    for (Key key : {Key::AccX, Key::AccY, Key::AccZ, Key::GyroX, Key::GyroY, Key::GyroZ, Key::Rpm1, Key::Rpm2,
                    Key::Rpm3, Key::Rpm4, Key::Rpm5, Key::Rpm6, Key::Rpm7, Key::Rpm8, Key::PlayBackEnabled})
        replay.keys.set(size_t(key));

    StateDatagram::State fewKeys;
    fewKeys.keys = StateDatagram::KeySet().set(size_t(Key::Yaw)).set(size_t(Key::PlayBackEnabled));
    fewKeys.yaw = -1.5f;

    const struct {
        const char* name;
        StateDatagram::State state;
        const char* text; // nullptr: not checked here
    } cases[] = {
        {"host state", workedExample(), nullptr},
        {"zero state", StateDatagram::zeroState(3, 255), nullptr},
        {"extremes", extremes, nullptr},
        {"replay source", replay, nullptr},
        {"few keys", fewKeys, "{\"Yaw\":-1.5,\"PlayBackEnabled\":0}"},
    };
    for (const auto& c : cases) {
        const QByteArray text = StateDatagram::encode(c.state);
        if (c.text) {
            EXPECT_EQ(text, QByteArray(c.text)) << c.name;
        }
        const std::optional<StateDatagram::State> back = StateDatagram::decode(text);
        ASSERT_TRUE(back) << c.name;
        EXPECT_EQ(back->keys, c.state.keys) << c.name;
        EXPECT_TRUE(back->finite) << c.name;
        EXPECT_EQ(StateDatagram::encode(*back), text) << c.name;
        EXPECT_EQ(back->playBackEnabled, c.state.playBackEnabled) << c.name;
    }
}

TEST(StateDatagram, DecodeLooksKeysUpByName)
{
    using StateDatagram::Key;
    EXPECT_FALSE(StateDatagram::decode("not json"));
    EXPECT_FALSE(StateDatagram::decode(""));

    const struct {
        const char* text;
        Key key;
        bool present;
        double value; // the field as a number
    } cases[] = {
        {"[1,2]", Key::Roll, false, 0}, // valid, but no object: no keys
        {R"({"Roll":null})", Key::Roll, false, 0}, // null counts as absent
        {R"({"Pitch":-0.25,"Extra":[1]})", Key::Pitch, true, -0.25},
        {R"({"Yaw":"abc"})", Key::Yaw, true, 0}, // present, but no number
        {R"({"Time":1e3})", Key::Time, true, 1000}, // exponent form without a point
        {R"({"Time":1e30})", Key::Time, true, 4294967295.0}, // saturates, keeps the low bits
        {R"({"Time":-1})", Key::Time, true, 4294967295.0},
        {R"({"TransformState":258})", Key::TransformState, true, 2},
        {R"({"ProductType":3})", Key::ProductType, true, 3},
        {R"({"PlayBackEnabled":1})", Key::PlayBackEnabled, true, 1},
        {R"({"PlayBackEnabled":2})", Key::PlayBackEnabled, true, 0},
        {R"({"WorldLatitude":28.6479})", Key::WorldLatitude, true, 28.6479},
    };
    for (const auto& c : cases) {
        const std::optional<StateDatagram::State> s = StateDatagram::decode(c.text);
        ASSERT_TRUE(s) << c.text;
        EXPECT_EQ(s->has(c.key), c.present) << c.text;
        EXPECT_EQ(s->keys.count(), size_t(c.present)) << c.text;
        const double value = c.key == Key::Roll ? s->roll
            : c.key == Key::Pitch               ? s->pitch
            : c.key == Key::Yaw                 ? s->yaw
            : c.key == Key::Time                ? s->time
            : c.key == Key::TransformState      ? s->transformState
            : c.key == Key::ProductType         ? s->productType
            : c.key == Key::PlayBackEnabled     ? s->playBackEnabled
                                                : s->worldLatitude;
        EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
    EXPECT_EQ(StateDatagram::decode(R"({"SenderIP":"192.168.0.10"})")->senderIp, QString("192.168.0.10"));
}

} // namespace
