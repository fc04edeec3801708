#pragma once

#include "common/StateDatagram.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The values a check or an export reads from a flight state: the derived ones
// (height, speed, tilt, ...) and every numeric datagram key by its own name.
namespace flight {

enum class Derived { Height, Climb, Speed, Tilt, Distance, Roll, Pitch, Yaw };

struct ValueRef {
    bool derived = false;
    Derived which = Derived::Height;
    StateDatagram::Key key = StateDatagram::Key::Roll;
    QString name;
};

// "height", "tilt", "VelocityX", "MotorStarted", ...; nothing for an unknown name
// or a key that carries no number ("SenderIP").
std::optional<ValueRef> valueByName(const QString& name);
// Every name valueByName knows, derived values first.
QStringList valueNames();

const QVector<Derived>& derivedValues();
QString derivedName(Derived value);
// Every key that carries a number, in datagram order.
const QVector<StateDatagram::Key>& numericKeys();

// The horizontal position a flight's distances count from: its first state.
struct Origin {
    bool set = false;
    double x = 0;
    double y = 0;
};

double keyValue(const StateDatagram::State& state, StateDatagram::Key key);
double derivedValue(Derived value, const StateDatagram::State& state, const Origin& origin);
double valueOf(const ValueRef& ref, const StateDatagram::State& state, const Origin& origin);

// A zero-state datagram (what the host sends after a run): no sender address
// and every value from "Roll" to "FlyingState" 0. It belongs to no flight.
bool isZeroState(const StateDatagram::State& state);

} // namespace flight
