#include "common/Angles.h"
#include "common/Json.h"
#include "tests/common/QtPrint.h"
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

namespace {

// Every field of a decoded state, bit for bit (NaN equals NaN here).
std::string fieldsOf(const StateDatagram::State& s)
{
    QString out;
    const float floats[] = {s.roll,      s.pitch,  s.yaw,    s.worldX, s.worldY, s.worldZ, s.velocityX, s.velocityY,
                            s.velocityZ, s.accX,   s.accY,   s.accZ,   s.gyroX,  s.gyroY,  s.gyroZ,     s.rpm[0],
                            s.rpm[1],    s.rpm[2], s.rpm[3], s.rpm[4], s.rpm[5], s.rpm[6], s.rpm[7]};
    for (float f : floats)
        out += QString::number(f, 'g', 9) + ",";
    out += QString::number(s.worldLatitude, 'g', 17) + "," + QString::number(s.worldLongitude, 'g', 17);
    out += QString(" %1 %2 %3 %4 %5 %6 [%7] %8 %9 %10")
               .arg(s.time)
               .arg(s.transformState)
               .arg(s.motorStarted)
               .arg(s.flyingState)
               .arg(s.productType)
               .arg(s.simulatorCommand)
               .arg(s.senderIp)
               .arg(s.playBackEnabled)
               .arg(QString::fromStdString(s.keys.to_string()))
               .arg(s.finite);
    return out.toStdString();
}

// Senders write the compact shape, which decode reads without the codec's map;
// a blank after the brace sends the same text through the codec. Both must
// agree on every field, whatever the numbers look like.
TEST(StateDatagram, CompactTextDecodesAsTheCodecReadsIt)
{
    const char* const texts[] = {
        R"({"Roll":0.5,"Pitch":-0.25,"Yaw":1.5,"WorldX":1,"WorldY":2,"WorldZ":3,"WorldLatitude":28.6479,"WorldLongitude":114.592,"VelocityX":0.5,"VelocityY":0,"VelocityZ":-0.25,"Time":1200,"TransformState":0,"MotorStarted":1,"FlyingState":1,"ProductType":2,"SenderIP":"192.168.0.10","SimulatorCommand":1})",
        R"({"WorldZ":1e5,"Time":1e3,"ProductType":1.6,"SimulatorCommand":-1})",
        R"({"WorldZ":1.5e400,"Roll":3.5e38,"Pitch":-1e-50})",
        R"({"Time":99999999999999999999,"TransformState":-9223372036854775809,"FlyingState":4294967297})",
        R"({"Roll":"NaN","Pitch":"inf","Yaw":"0.5","SenderIP":"10.0.0.1","ProductType":"2"})",
        R"({"Roll":1,"Roll":2})",
        R"({"Roll":+1,"Pitch":.5,"Yaw":1.,"WorldX":00012,"WorldY":-0,"WorldZ":1.2.3})",
        R"({"Unknown":[1,2],"Roll":0.25,"Other":{"a":1},"Pitch":true,"Yaw":null,"MotorStarted":false})",
        R"({"PlayBackEnabled":1,"Rpm8":5000.5,"GyroZ":-0.001,"AccX":9.81})",
        R"({"PlayBackEnabled":1.0,"SenderIP":"caf\u00e9","WorldLatitude":22.537000000000001})",
        R"({"Roll":0.5,"Pitch":})",
        R"({"Roll":0.5,})",
        R"({"Roll":0.5}trailing)",
        R"({})",
        R"({"Roll":-})",
        R"({"Time":-5,"MotorStarted":257,"SimulatorCommand":256})",
    };
    for (const char* text : texts) {
        const QByteArray compact(text);
        const QByteArray spaced = "{ " + compact.mid(1);
        const auto fast = StateDatagram::decode(compact);
        const auto codec = StateDatagram::decode(spaced);
        ASSERT_EQ(bool(codec), bool(fast)) << text;
        if (fast) {
            EXPECT_EQ(fieldsOf(*codec), fieldsOf(*fast)) << text;
        }
    }
}

} // namespace
