#include "common/StateDatagram.h"

#include "common/Json.h"

#include <QHash>
#include <QVector>
#include <QVariantMap>

#include <cfloat>
#include <cmath>
#include <limits>

namespace StateDatagram {
namespace {

const char* const kKeyNames[KeyCount] = {
    "Roll",           "Pitch",          "Yaw",
    "WorldX",         "WorldY",         "WorldZ",
    "WorldLatitude",  "WorldLongitude", "VelocityX",
    "VelocityY",      "VelocityZ",      "Time",
    "TransformState", "MotorStarted",   "FlyingState",
    "ProductType",    "SenderIP",       "SimulatorCommand",
    "AccX",           "AccY",           "AccZ",
    "GyroX",          "GyroY",          "GyroZ",
    "Rpm1",           "Rpm2",           "Rpm3",
    "Rpm4",           "Rpm5",           "Rpm6",
    "Rpm7",           "Rpm8",           "PlayBackEnabled",
};

const float* floatField(const State& s, Key key)
{
    switch (key) {
    case Key::Roll: return &s.roll;
    case Key::Pitch: return &s.pitch;
    case Key::Yaw: return &s.yaw;
    case Key::WorldX: return &s.worldX;
    case Key::WorldY: return &s.worldY;
    case Key::WorldZ: return &s.worldZ;
    case Key::VelocityX: return &s.velocityX;
    case Key::VelocityY: return &s.velocityY;
    case Key::VelocityZ: return &s.velocityZ;
    case Key::AccX: return &s.accX;
    case Key::AccY: return &s.accY;
    case Key::AccZ: return &s.accZ;
    case Key::GyroX: return &s.gyroX;
    case Key::GyroY: return &s.gyroY;
    case Key::GyroZ: return &s.gyroZ;
    case Key::Rpm1:
    case Key::Rpm2:
    case Key::Rpm3:
    case Key::Rpm4:
    case Key::Rpm5:
    case Key::Rpm6:
    case Key::Rpm7:
    case Key::Rpm8: return &s.rpm[int(key) - int(Key::Rpm1)];
    default: return nullptr;
    }
}

float* floatField(State& s, Key key) { return const_cast<float*>(floatField(static_cast<const State&>(s), key)); }

const double* doubleField(const State& s, Key key)
{
    switch (key) {
    case Key::WorldLatitude: return &s.worldLatitude;
    case Key::WorldLongitude: return &s.worldLongitude;
    default: return nullptr;
    }
}

double* doubleField(State& s, Key key) { return const_cast<double*>(doubleField(static_cast<const State&>(s), key)); }

QString valueText(const State& s, Key key)
{
    if (const float* value = floatField(s, key))
        return real6(*value);
    if (const double* value = doubleField(s, key))
        return real6(*value);
    switch (key) {
    case Key::Time: return integer(s.time);
    case Key::TransformState: return integer(s.transformState);
    case Key::MotorStarted: return integer(s.motorStarted);
    case Key::FlyingState: return integer(s.flyingState);
    case Key::ProductType: return integer(s.productType);
    case Key::SenderIP: return quoted(s.senderIp);
    case Key::SimulatorCommand: return integer(s.simulatorCommand);
    case Key::PlayBackEnabled: return integer(s.playBackEnabled ? 1 : 0);
    default: return QString();
    }
}

qint64 integerOf(const QVariant& v)
{
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (ok)
        return n;
    // Number text Qt reads as no integer (1e3 from a replay source, or more
    // digits than 64 bits hold) is truncated, and saturates where a 64-bit
    // integer ends.
    const double d = v.toDouble();
    if (std::isnan(d))
        return 0;
    if (d <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    if (d >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    return qint64(d);
}

// Stores one present, non-null value; false when it is no storable number.
bool store(State& s, Key key, const QVariant& v)
{
    // Number text such as 1e400 or the strings "NaN" and "inf" convert to non-finite doubles.
    if (float* field = floatField(s, key)) {
        *field = v.toFloat();
        return std::abs(v.toDouble()) <= double(FLT_MAX);
    }
    if (double* field = doubleField(s, key)) {
        *field = v.toDouble();
        return std::abs(*field) <= double(FLT_MAX);
    }
    if (key == Key::SenderIP) {
        s.senderIp = v.toString();
        return true;
    }
    if (key == Key::PlayBackEnabled) {
        bool ok = false;
        s.playBackEnabled = v.toLongLong(&ok) == 1 && ok;
        return true;
    }
    const qint64 n = integerOf(v);
    switch (key) {
    case Key::Time: s.time = quint32(n); break;
    case Key::TransformState: s.transformState = quint8(n); break;
    case Key::MotorStarted: s.motorStarted = quint8(n); break;
    case Key::FlyingState: s.flyingState = quint8(n); break;
    case Key::ProductType: s.productType = int(n); break;
    case Key::SimulatorCommand: s.simulatorCommand = int(n); break;
    default: break;
    }
    return std::isfinite(v.toDouble());
}

} // namespace

const QString& keyName(Key key)
{
    static const QVector<QString> names = [] {
        QVector<QString> result;
        for (const char* name : kKeyNames)
            result.append(QString::fromLatin1(name));
        return result;
    }();
    return names.at(int(key));
}

KeySet hostKeys()
{
    KeySet keys;
    for (int i = 0; i <= int(Key::SimulatorCommand); ++i)
        keys.set(size_t(i));
    return keys;
}

State zeroState(int productType, int simulatorCommand)
{
    State s;
    s.keys.reset(size_t(Key::SenderIP));
    s.productType = productType;
    s.simulatorCommand = simulatorCommand;
    return s;
}

QByteArray encode(const State& state)
{
    QString out(QLatin1Char('{'));
    for (int i = 0; i < KeyCount; ++i) {
        const Key key = Key(i);
        if (!state.has(key))
            continue;
        if (out.size() > 1)
            out += QLatin1Char(',');
        out += QLatin1Char('"') + keyName(key) + QLatin1String("\":") + valueText(state, key);
    }
    out += QLatin1Char('}');
    return out.toLatin1();
}

std::optional<State> decode(const QByteArray& datagram)
{
    bool ok = false;
    const QVariant parsed = Json::parse(QString::fromUtf8(datagram), ok);
    if (!ok)
        return std::nullopt;
    static const QHash<QString, Key> keysByName = [] {
        QHash<QString, Key> result;
        for (int i = 0; i < KeyCount; ++i)
            result.insert(keyName(Key(i)), Key(i));
        return result;
    }();
    State s;
    s.keys.reset();
    const QVariantMap map = parsed.toMap();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const auto known = keysByName.constFind(it.key());
        if (known == keysByName.constEnd() || it->isNull())
            continue;
        s.keys.set(size_t(*known));
        if (!store(s, *known, *it))
            s.finite = false;
    }
    return s;
}

QString real6(double value) { return QString::number(value, 'g', 6); }

QString integer(qint64 value) { return QString::number(value); }

QString quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

const QStringList& stateKeys()
{
    static const QStringList keys = [] {
        QStringList result;
        for (int i = 0; i <= int(Key::SimulatorCommand); ++i)
            result.append(keyName(Key(i)));
        return result;
    }();
    return keys;
}

} // namespace StateDatagram
