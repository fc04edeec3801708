#include "common/StateDatagram.h"

#include "common/Json.h"

#include <QHash>
#include <QVector>
#include <QVariantMap>

#include <array>
#include <cfloat>
#include <charconv>
#include <cstring>
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

// The shape every sender writes, {"key":value,...} without white space,
// escapes, nested values or literals, read without the codec's map: the same
// values reach store as the codec would hand it. Anything else, and every
// doubt (a repeated key, number text from_chars refuses), goes to the codec.
std::optional<State> decodeFlat(const QByteArray& datagram)
{
    const char* p = datagram.constData();
    const char* const end = p + datagram.size();
    if (datagram.size() < 2 || p[0] != '{' || end[-1] != '}')
        return std::nullopt;
    for (const char* c = p; c != end; ++c)
        if (*c == '\\' || *c == ' ' || *c == '\t' || *c == '\n' || *c == '\r' || *c == '\0')
            return std::nullopt;
    State s;
    s.keys.reset();
    ++p;
    if (p + 1 == end)
        return s;
    static const auto lengths = [] {
        std::array<int, KeyCount> n{};
        for (int i = 0; i < KeyCount; ++i)
            n[size_t(i)] = int(std::strlen(kKeyNames[i]));
        return n;
    }();
    int expected = 0; // senders write the keys in order: try the next one first
    for (;;) {
        if (*p != '"')
            return std::nullopt;
        const char* key = ++p;
        while (p != end && *p != '"')
            ++p;
        if (end - p < 3 || p[1] != ':')
            return std::nullopt;
        const int keyLength = int(p - key);
        p += 2;
        int found = -1;
        for (int n = 0; n < KeyCount && found < 0; ++n) {
            const int i = (expected + n) % KeyCount;
            if (lengths[size_t(i)] == keyLength && std::memcmp(kKeyNames[i], key, size_t(keyLength)) == 0)
                found = i;
        }
        QVariant value;
        if (*p == '"') {
            const char* text = ++p;
            while (p != end && *p != '"')
                ++p;
            if (p == end)
                return std::nullopt;
            value = QString::fromUtf8(text, int(p - text));
            ++p;
        } else if (*p == '-' || (*p >= '0' && *p <= '9')) {
            const char* number = p;
            bool point = false;
            while (p != end &&
                   ((*p >= '0' && *p <= '9') || *p == '+' || *p == '-' || *p == '.' || *p == 'e' || *p == 'E')) {
                point = point || *p == '.';
                ++p;
            }
            const int digits = int(p - number) - (*number == '-' ? 1 : 0);
            if (point) {
                double d = 0;
                const auto result = std::from_chars(number, p, d);
                if (result.ec != std::errc() || result.ptr != p)
                    return std::nullopt;
                value = d;
            } else {
                qint64 n = 0;
                const auto result = std::from_chars(number, p, n);
                if (result.ec != std::errc() || result.ptr != p || digits < 1 || digits > 18)
                    return std::nullopt;
                value = qlonglong(n);
            }
        } else {
            return std::nullopt;
        }
        if (found >= 0) {
            if (s.keys.test(size_t(found)))
                return std::nullopt;
            s.keys.set(size_t(found));
            if (!store(s, Key(found), value))
                s.finite = false;
            expected = found + 1;
        }
        if (p == end)
            return std::nullopt;
        if (*p == '}')
            return p + 1 == end ? std::optional<State>(s) : std::nullopt;
        if (*p != ',')
            return std::nullopt;
        ++p;
    }
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
    if (auto flat = decodeFlat(datagram))
        return flat;
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
