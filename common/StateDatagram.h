#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The state datagram: one flight state per UDP datagram from the host to the
// visualiser, as compact text such as
//   {"Roll":0.5,"Pitch":-0.25,...,"SenderIP":"192.168.0.10","SimulatorCommand":1}
// Keys travel in a fixed order; numbers are bare, the one string value is in
// double quotes, and nothing is escaped. The text is Latin-1 on the wire.
//
// Host side, per state:
//   udp.clearPairs();
//   for (const auto& pair : StateDatagram::statePairs(state))
//       udp.addPair(pair.first, pair.second);
//   udp.sendPairs();
namespace StateDatagram {

constexpr quint16 Port = 5566;

// Key/value pairs in send order; values are finished text.
using Pairs = QVector<QPair<QString, QString>>;

// One flight state after the host has converted the aircraft's record
// (degrees for latitude and longitude, z and vertical velocity sign-inverted,
// flag bits split). Field names follow the datagram keys.
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
    int productType = 0;     // 0 unknown, 1 Tavik1, 2 Nerio3, 3 Vx7
    QString senderIp;        // may be empty
    int simulatorCommand = 0; // run counter, 0-255
};

// The two number formats of the datagram.
QString real6(double value);   // %g with 6 significant digits: 0.5, 28.6479, 1.23457e+06
QString integer(qint64 value); // plain decimal

// A string value as it travels: between double quotes, unescaped.
QString quoted(const QString& text);

// All eighteen keys of a state datagram, in send order.
const QStringList& stateKeys();

Pairs statePairs(const State& state);

// Sent after a run stops: "Roll" to "FlyingState" as 0, then the product type
// and the run counter; no "SenderIP".
Pairs zeroStatePairs(int productType, int simulatorCommand);

// {"key":value,...} without any white space. keys and values must have the
// same length; a mismatch gives a null QString.
QString text(const QStringList& keys, const QStringList& values);
QString text(const Pairs& pairs);

} // namespace StateDatagram
