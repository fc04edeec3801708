#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <bitset>
#include <optional>

// The state datagram: one flight state per UDP datagram from the host to the
// visualiser, as compact text such as
//   {"Roll":0.5,"Pitch":-0.25,...,"SenderIP":"192.168.0.10","SimulatorCommand":1}
// Keys travel in a fixed order; numbers are bare, the one string value is in
// double quotes, and nothing is escaped. The text is Latin-1 on the wire.
//
//   host:        udp.send(StateDatagram::encode(state));
//   visualiser:  if (const auto state = StateDatagram::decode(bytes)) ...
namespace StateDatagram {

constexpr quint16 Port = 5566;

// Every key a state datagram may carry, in the order encode writes them: the
// host's eighteen, then those that only a replay source sends.
enum class Key {
    Roll,
    Pitch,
    Yaw,
    WorldX,
    WorldY,
    WorldZ,
    WorldLatitude,
    WorldLongitude,
    VelocityX,
    VelocityY,
    VelocityZ,
    Time,
    TransformState,
    MotorStarted,
    FlyingState,
    ProductType,
    SenderIP,
    SimulatorCommand,
    AccX,
    AccY,
    AccZ,
    GyroX,
    GyroY,
    GyroZ,
    Rpm1,
    Rpm2,
    Rpm3,
    Rpm4,
    Rpm5,
    Rpm6,
    Rpm7,
    Rpm8,
    PlayBackEnabled,
};
constexpr int KeyCount = int(Key::PlayBackEnabled) + 1;
using KeySet = std::bitset<KeyCount>;

// "Roll", "WorldLatitude", "Rpm1", ...: the key as the datagram spells it.
const QString& keyName(Key key);
// The keys of every state the host sends.
KeySet hostKeys();

// One flight state. The host fills it from the aircraft's record (degrees for
// latitude and longitude, z and vertical velocity sign-inverted, flag bits
// split); decode fills it from a received datagram. Field names follow the keys.
struct State {
    float roll = 0;
    float pitch = 0;
    float yaw = 0;
    float worldX = 0;
    float worldY = 0;
    float worldZ = 0;
    double worldLatitude = 0;
    double worldLongitude = 0;
    float velocityX = 0;
    float velocityY = 0;
    float velocityZ = 0;
    quint32 time = 0;
    quint8 transformState = 0;
    quint8 motorStarted = 0;
    quint8 flyingState = 0;
    int productType = 0; // 0 unknown, 1 Tavik1, 2 Nerio3, 3 Vx7
    QString senderIp; // may be empty
    int simulatorCommand = 0; // run counter, 0-255

    // Sent by a replay source, never by the host.
    float accX = 0, accY = 0, accZ = 0;
    float gyroX = 0, gyroY = 0, gyroZ = 0;
    float rpm[8] = {}; // "Rpm1" to "Rpm8"
    bool playBackEnabled = false; // "PlayBackEnabled" is 1

    // The keys the datagram carries: encode writes exactly these; decode sets
    // those present with a value other than null (the others hold 0).
    KeySet keys = hostKeys();
    // Cleared by decode when a number cannot be stored: a real key that is not
    // finite or lies beyond the range of a float, or an integer key that is not
    // finite (the strings "NaN" and "inf" count as such numbers).
    bool finite = true;

    bool has(Key key) const { return keys.test(size_t(key)); }
};

// What the host sends after a run stops: "Roll" to "FlyingState" as 0, then the
// product type and the run counter; no "SenderIP".
State zeroState(int productType, int simulatorCommand);

// {"key":value,...} for the keys of state, without any white space, as Latin-1.
QByteArray encode(const State& state);

// The state a datagram carries, or nothing when its text (read as UTF-8) is no
// JSON. Keys are looked up by name: a valid text that is not an object, absent
// keys and null values store 0; unknown keys are ignored. An integer key takes
// its value as Qt reads the number as a 64-bit integer (a real is rounded);
// number text that Qt cannot read so (exponent form without a point, more than
// 19 digits) is truncated and saturates where a 64-bit integer ends. Each field
// keeps the low bits that fit it.
std::optional<State> decode(const QByteArray& datagram);

// The two number formats of the datagram.
QString real6(double value); // %g with 6 significant digits: 0.5, 28.6479, 1.23457e+06
QString integer(qint64 value); // plain decimal

// A string value as it travels: between double quotes, unescaped.
QString quoted(const QString& text);

// The host's eighteen keys, in send order.
const QStringList& stateKeys();

} // namespace StateDatagram
