#include "common/FlightValues.h"

#include "common/Angles.h"

#include <cmath>

namespace flight {

using StateDatagram::Key;
using StateDatagram::State;

namespace {

constexpr double DegreesPerRadian = 180.0 / Pi;

const char* const DerivedNames[] = {"height", "climb", "speed", "tilt", "distance", "roll", "pitch", "yaw"};

} // namespace

const QVector<Derived>& derivedValues()
{
    static const QVector<Derived> all{Derived::Height,   Derived::Climb, Derived::Speed, Derived::Tilt,
                                      Derived::Distance, Derived::Roll,  Derived::Pitch, Derived::Yaw};
    return all;
}

QString derivedName(Derived value) { return QString::fromLatin1(DerivedNames[int(value)]); }

const QVector<Key>& numericKeys()
{
    static const QVector<Key> keys = [] {
        QVector<Key> result;
        for (int i = 0; i < StateDatagram::KeyCount; ++i)
            if (Key(i) != Key::SenderIP)
                result.append(Key(i));
        return result;
    }();
    return keys;
}

std::optional<ValueRef> valueByName(const QString& name)
{
    ValueRef ref;
    ref.name = name;
    for (Derived d : derivedValues())
        if (derivedName(d) == name) {
            ref.derived = true;
            ref.which = d;
            return ref;
        }
    for (Key key : numericKeys())
        if (StateDatagram::keyName(key) == name) {
            ref.key = key;
            return ref;
        }
    return std::nullopt;
}

QStringList valueNames()
{
    QStringList names;
    for (Derived d : derivedValues())
        names << derivedName(d);
    for (Key key : numericKeys())
        names << StateDatagram::keyName(key);
    return names;
}

double keyValue(const State& s, Key key)
{
    switch (key) {
    case Key::Roll: return s.roll;
    case Key::Pitch: return s.pitch;
    case Key::Yaw: return s.yaw;
    case Key::WorldX: return s.worldX;
    case Key::WorldY: return s.worldY;
    case Key::WorldZ: return s.worldZ;
    case Key::WorldLatitude: return s.worldLatitude;
    case Key::WorldLongitude: return s.worldLongitude;
    case Key::VelocityX: return s.velocityX;
    case Key::VelocityY: return s.velocityY;
    case Key::VelocityZ: return s.velocityZ;
    case Key::Time: return s.time;
    case Key::TransformState: return s.transformState;
    case Key::MotorStarted: return s.motorStarted;
    case Key::FlyingState: return s.flyingState;
    case Key::ProductType: return s.productType;
    case Key::SenderIP: return NAN;
    case Key::SimulatorCommand: return s.simulatorCommand;
    case Key::AccX: return s.accX;
    case Key::AccY: return s.accY;
    case Key::AccZ: return s.accZ;
    case Key::GyroX: return s.gyroX;
    case Key::GyroY: return s.gyroY;
    case Key::GyroZ: return s.gyroZ;
    case Key::Rpm1:
    case Key::Rpm2:
    case Key::Rpm3:
    case Key::Rpm4:
    case Key::Rpm5:
    case Key::Rpm6:
    case Key::Rpm7:
    case Key::Rpm8: return s.rpm[int(key) - int(Key::Rpm1)];
    case Key::PlayBackEnabled: return s.playBackEnabled ? 1 : 0;
    }
    return NAN;
}

double derivedValue(Derived value, const State& s, const Origin& origin)
{
    switch (value) {
    case Derived::Height: return s.worldZ;
    case Derived::Climb: return s.velocityZ;
    case Derived::Speed: return std::hypot(double(s.velocityX), double(s.velocityY));
    case Derived::Tilt: {
        // Rounding can take the product a hair beyond 1, where acos has no value.
        const double c = std::cos(double(s.roll)) * std::cos(double(s.pitch));
        if (std::isnan(c))
            return NAN;
        return std::acos(std::max(-1.0, std::min(1.0, c))) * DegreesPerRadian;
    }
    case Derived::Distance:
        return origin.set ? std::hypot(double(s.worldX) - origin.x, double(s.worldY) - origin.y) : 0.0;
    case Derived::Roll: return s.roll * DegreesPerRadian;
    case Derived::Pitch: return s.pitch * DegreesPerRadian;
    case Derived::Yaw: return s.yaw * DegreesPerRadian;
    }
    return NAN;
}

double valueOf(const ValueRef& ref, const State& state, const Origin& origin)
{
    return ref.derived ? derivedValue(ref.which, state, origin) : keyValue(state, ref.key);
}

bool isZeroState(const State& s)
{
    if (s.has(Key::SenderIP))
        return false;
    for (int i = int(Key::Roll); i <= int(Key::FlyingState); ++i)
        if (keyValue(s, Key(i)) != 0)
            return false;
    return true;
}

} // namespace flight
