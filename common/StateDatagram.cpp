#include "common/StateDatagram.h"

namespace StateDatagram {
namespace {

// Index of the first key after the eleven real-valued ones.
constexpr int FirstIntegerKey = 11;
// "Roll" to "FlyingState": the keys a zero-state datagram sets to 0.
constexpr int ZeroedKeyCount = 15;

} // namespace

QString real6(double value)
{
    return QString::number(value, 'g', 6);
}

QString integer(qint64 value)
{
    return QString::number(value);
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

const QStringList& stateKeys()
{
    static const QStringList keys = {
        "Roll", "Pitch", "Yaw", "WorldX", "WorldY", "WorldZ", "WorldLatitude", "WorldLongitude",
        "VelocityX", "VelocityY", "VelocityZ", "Time", "TransformState", "MotorStarted",
        "FlyingState", "ProductType", "SenderIP", "SimulatorCommand",
    };
    return keys;
}

Pairs statePairs(const State& s)
{
    const double reals[FirstIntegerKey] = {
        s.roll, s.pitch, s.yaw, s.worldX, s.worldY, s.worldZ, s.worldLatitude, s.worldLongitude,
        s.velocityX, s.velocityY, s.velocityZ,
    };
    const QStringList values = {
        integer(s.time), integer(s.transformState), integer(s.motorStarted), integer(s.flyingState),
        integer(s.productType), quoted(s.senderIp), integer(s.simulatorCommand),
    };
    const QStringList& keys = stateKeys();
    Pairs pairs;
    pairs.reserve(keys.size());
    for (int i = 0; i < FirstIntegerKey; ++i)
        pairs.append({keys.at(i), real6(reals[i])});
    for (int i = FirstIntegerKey; i < keys.size(); ++i)
        pairs.append({keys.at(i), values.at(i - FirstIntegerKey)});
    return pairs;
}

Pairs zeroStatePairs(int productType, int simulatorCommand)
{
    const QStringList& keys = stateKeys();
    Pairs pairs;
    pairs.reserve(ZeroedKeyCount + 2);
    for (int i = 0; i < ZeroedKeyCount; ++i)
        pairs.append({keys.at(i), QStringLiteral("0")});
    pairs.append({QStringLiteral("ProductType"), integer(productType)});
    pairs.append({QStringLiteral("SimulatorCommand"), integer(simulatorCommand)});
    return pairs;
}

QString text(const QStringList& keys, const QStringList& values)
{
    if (keys.size() != values.size())
        return QString();
    QString out(QLatin1Char('{'));
    for (int i = 0; i < keys.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(',');
        out += QLatin1Char('"') + keys.at(i) + QLatin1String("\":") + values.at(i);
    }
    out += QLatin1Char('}');
    return out;
}

QString text(const Pairs& pairs)
{
    QStringList keys;
    QStringList values;
    for (const auto& pair : pairs) {
        keys << pair.first;
        values << pair.second;
    }
    return text(keys, values);
}

} // namespace StateDatagram
