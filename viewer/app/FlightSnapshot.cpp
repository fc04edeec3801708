#include "app/FlightSnapshot.h"

#include "common/LocalAddresses.h"
#include "common/TransformState.h"

#include <QVector>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {
const char* const kRealKeys[] = {
    "Roll",      "Pitch",     "Yaw",  "WorldX", "WorldY", "WorldZ", "WorldLatitude", "WorldLongitude", "VelocityX",
    "VelocityY", "VelocityZ", "AccX", "AccY",   "AccZ",   "GyroX",  "GyroY",         "GyroZ",          "Rpm1",
    "Rpm2",      "Rpm3",      "Rpm4", "Rpm5",   "Rpm6",   "Rpm7",   "Rpm8",
};
const char* const kIntegerKeys[] = {"Time", "TransformState", "MotorStarted", "FlyingState", "ProductType",
                                    "SimulatorCommand"};

float realOf(const QVariantMap& m, const char* key)
{
    const QVariant v = m.value(QLatin1String(key));
    return v.isNull() ? 0.0f : v.toFloat();
}

qint64 integerOf(const QVariantMap& m, const char* key)
{
    const QVariant v = m.value(QLatin1String(key));
    if (v.isNull())
        return 0;
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (ok)
        return n;
    // Integer keys written as reals (a replay source may do so) are truncated,
    // and saturate where a 64-bit integer ends.
    const double d = v.toDouble();
    if (std::isnan(d))
        return 0;
    if (d <= -9.2e18)
        return std::numeric_limits<qint64>::min();
    if (d >= 9.2e18)
        return std::numeric_limits<qint64>::max();
    return qint64(d);
}

uint8_t byteOf(const QVariantMap& m, const char* key)
{
    return static_cast<uint8_t>(integerOf(m, key) & 0xff);
}

bool present(const QVariantMap& m, const char* key)
{
    const auto it = m.constFind(QLatin1String(key));
    return it != m.constEnd() && !it->isNull();
}
} // namespace

bool finiteValues(const QVariantMap& m)
{
    auto keys = [](const auto& names) {
        QVector<QString> result;
        for (const char* name : names)
            result.append(QString::fromLatin1(name));
        return result;
    };
    static const QVector<QString> realKeys = keys(kRealKeys);
    static const QVector<QString> integerKeys = keys(kIntegerKeys);
    // Number text such as 1e400 or the strings "NaN" and "inf" convert to non-finite doubles.
    for (const QString& key : realKeys) {
        const auto it = m.constFind(key);
        if (it != m.constEnd() && !(std::abs(it->toDouble()) <= double(FLT_MAX)))
            return false;
    }
    for (const QString& key : integerKeys) {
        const auto it = m.constFind(key);
        if (it != m.constEnd() && !std::isfinite(it->toDouble()))
            return false;
    }
    return true;
}

FlightSnapshot readSnapshot(const QVariantMap& m)
{
    FlightSnapshot s;
    s.Roll = realOf(m, "Roll");
    s.Pitch = realOf(m, "Pitch");
    s.Yaw = realOf(m, "Yaw");
    s.WorldX = realOf(m, "WorldX");
    s.WorldY = realOf(m, "WorldY");
    s.WorldZ = realOf(m, "WorldZ");
    s.WorldLatitude = realOf(m, "WorldLatitude");
    s.WorldLongitude = realOf(m, "WorldLongitude");
    s.VelocityX = realOf(m, "VelocityX");
    s.VelocityY = realOf(m, "VelocityY");
    s.VelocityZ = realOf(m, "VelocityZ");
    s.AccX = realOf(m, "AccX");
    s.AccY = realOf(m, "AccY");
    s.AccZ = realOf(m, "AccZ");
    s.GyroX = realOf(m, "GyroX");
    s.GyroY = realOf(m, "GyroY");
    s.GyroZ = realOf(m, "GyroZ");
    float* rpm[8] = {&s.Rpm1, &s.Rpm2, &s.Rpm3, &s.Rpm4, &s.Rpm5, &s.Rpm6, &s.Rpm7, &s.Rpm8};
    for (int i = 0; i < 8; ++i)
        *rpm[i] = realOf(m, ("Rpm" + std::to_string(i + 1)).c_str());
    s.Time = static_cast<int32_t>(integerOf(m, "Time"));
    s.TransformState = byteOf(m, "TransformState");
    s.MotorStarted = byteOf(m, "MotorStarted");
    s.FlyingState = byteOf(m, "FlyingState");
    s.ProductType = byteOf(m, "ProductType");
    s.SimulatorCommand = byteOf(m, "SimulatorCommand");
    return s;
}

ViewState toViewState(const FlightSnapshot& s)
{
    ViewState v;
    v.roll = s.Roll;
    v.pitch = s.Pitch;
    v.yaw = s.Yaw;
    v.x = s.WorldX;
    v.y = s.WorldY;
    v.z = s.WorldZ;
    v.latitude = s.WorldLatitude;
    v.longitude = s.WorldLongitude;
    v.velX = s.VelocityX;
    v.velY = s.VelocityY;
    v.velZ = s.VelocityZ;
    v.timeMs = s.Time;
    v.productType = s.ProductType;
    v.simulatorCommand = s.SimulatorCommand;
    return v;
}

void buildParamValues(const QVariantMap& m, const FlightSnapshot& s, QMap<QString, QString>& values,
                      QStringList& order)
{
    struct Row
    {
        const char* key;
        const char* name;
        float value;
    };
    const Row rows[] = {
        {"Roll", "Roll", s.Roll},
        {"Pitch", "Pitch", s.Pitch},
        {"Yaw", "Yaw", s.Yaw},
        {"WorldX", "WorldX", s.WorldX},
        {"WorldY", "WorldY", s.WorldY},
        {"WorldZ", "WorldZ", s.WorldZ},
        {"WorldLatitude", "Latitude", s.WorldLatitude},
        {"WorldLongitude", "Longitude", s.WorldLongitude},
        {"VelocityX", "VelocityX", s.VelocityX},
        {"VelocityY", "VelocityY", s.VelocityY},
        {"VelocityZ", "VelocityZ", s.VelocityZ},
        {"AccX", "AccX", s.AccX},
        {"AccY", "AccY", s.AccY},
        {"AccZ", "AccZ", s.AccZ},
        {"GyroX", "GyroX", s.GyroX},
        {"GyroY", "GyroY", s.GyroY},
        {"GyroZ", "GyroZ", s.GyroZ},
        {"Rpm1", "RPM1", s.Rpm1},
        {"Rpm2", "RPM2", s.Rpm2},
        {"Rpm3", "RPM3", s.Rpm3},
        {"Rpm4", "RPM4", s.Rpm4},
        {"Rpm5", "RPM5", s.Rpm5},
        {"Rpm6", "RPM6", s.Rpm6},
        {"Rpm7", "RPM7", s.Rpm7},
        {"Rpm8", "RPM8", s.Rpm8},
    };
    values.clear();
    order.clear();
    for (const Row& row : rows) {
        if (!present(m, row.key))
            continue;
        const QString name = QString::fromLatin1(row.name);
        values.insert(name, QString::number(double(row.value), 'f', 4));
        order.append(name);
    }
}

QStringList localIPv4Addresses()
{
    QStringList result;
    for (const QHostAddress& address : nonLoopbackIPv4Addresses())
        result.append(address.toString());
    result.append(QStringLiteral("127.0.0.1"));
    return result;
}

void DatagramFilter::countMiss()
{
    if (++mPlaybackMisses >= 20) {
        mPlaybackMisses = 0;
        mPlaybackEnabled = false;
    }
}

bool DatagramFilter::accept(const QVariantMap& m, bool localOnly)
{
    if (localOnly && !mLocalAddresses.contains(m.value(QStringLiteral("SenderIP")).toString())) {
        countMiss();
        return false;
    }
    const QVariant playback = m.value(QStringLiteral("PlayBackEnabled"));
    bool ok = false;
    if (!playback.isNull() && playback.toLongLong(&ok) == 1 && ok) {
        mPlaybackEnabled = true;
        mPlaybackMisses = 0;
    } else {
        countMiss();
    }
    return true;
}

StateTriggers::Arms StateTriggers::transform(uint8_t transformState)
{
    Arms arms = Arms::None;
    const auto was = TransformState(mLastTransformState);
    const auto now = TransformState(transformState);
    if (was == TransformState::Raising && now == TransformState::Raised)
        arms = Arms::Raise;
    else if (was == TransformState::Lowering && now == TransformState::Lowered)
        arms = Arms::Lower;
    mLastTransformState = transformState;
    return arms;
}

bool StateTriggers::simulatorCommandChanged(uint8_t command)
{
    if (command == mLastSimulatorCommand)
        return false;
    mLastSimulatorCommand = command;
    return true;
}

bool StateTriggers::traceDue(qint64 nowMs)
{
    if (mLastTraceMs < 0)
        mLastTraceMs = nowMs;
    if (nowMs - mLastTraceMs < 300)
        return false;
    mLastTraceMs = nowMs;
    return true;
}

bool RunTracker::onState()
{
    if (mRunning) {
        ++mStateCount;
        return false;
    }
    mStateCount = 0;
    mLastStateCount = 0;
    // Every run ends after the same 2.5 s of silence.
    mHeartbeatMisses = 0;
    mRunning = true;
    return true;
}

bool RunTracker::onHeartBeat()
{
    if (mStateCount != mLastStateCount) {
        mLastStateCount = mStateCount;
        mHeartbeatMisses = 0;
        return false;
    }
    if (++mHeartbeatMisses < 5)
        return false;
    mRunning = false;
    return true;
}
