#include "viewer/app/FlightSnapshot.h"

#include "common/LocalAddresses.h"
#include "common/TransformState.h"

#include <QHostAddress>

using StateDatagram::Key;

FlightSnapshot readSnapshot(const StateDatagram::State& d)
{
    FlightSnapshot s;
    s.Roll = d.roll;
    s.Pitch = d.pitch;
    s.Yaw = d.yaw;
    s.WorldX = d.worldX;
    s.WorldY = d.worldY;
    s.WorldZ = d.worldZ;
    s.WorldLatitude = float(d.worldLatitude);
    s.WorldLongitude = float(d.worldLongitude);
    s.VelocityX = d.velocityX;
    s.VelocityY = d.velocityY;
    s.VelocityZ = d.velocityZ;
    s.AccX = d.accX;
    s.AccY = d.accY;
    s.AccZ = d.accZ;
    s.GyroX = d.gyroX;
    s.GyroY = d.gyroY;
    s.GyroZ = d.gyroZ;
    float* rpm[8] = {&s.Rpm1, &s.Rpm2, &s.Rpm3, &s.Rpm4, &s.Rpm5, &s.Rpm6, &s.Rpm7, &s.Rpm8};
    for (int i = 0; i < 8; ++i)
        *rpm[i] = d.rpm[i];
    s.Time = static_cast<int32_t>(d.time);
    s.TransformState = d.transformState;
    s.MotorStarted = d.motorStarted;
    s.FlyingState = d.flyingState;
    s.ProductType = static_cast<uint8_t>(d.productType & 0xff);
    s.SimulatorCommand = static_cast<uint8_t>(d.simulatorCommand & 0xff);
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

void buildParamValues(const StateDatagram::KeySet& keys, const FlightSnapshot& s, QMap<QString, QString>& values,
                      QStringList& order)
{
    struct Row {
        Key key;
        const char* name;
        float value;
    };
    const Row rows[] = {
        {Key::Roll, "Roll", s.Roll},
        {Key::Pitch, "Pitch", s.Pitch},
        {Key::Yaw, "Yaw", s.Yaw},
        {Key::WorldX, "WorldX", s.WorldX},
        {Key::WorldY, "WorldY", s.WorldY},
        {Key::WorldZ, "WorldZ", s.WorldZ},
        {Key::WorldLatitude, "Latitude", s.WorldLatitude},
        {Key::WorldLongitude, "Longitude", s.WorldLongitude},
        {Key::VelocityX, "VelocityX", s.VelocityX},
        {Key::VelocityY, "VelocityY", s.VelocityY},
        {Key::VelocityZ, "VelocityZ", s.VelocityZ},
        {Key::AccX, "AccX", s.AccX},
        {Key::AccY, "AccY", s.AccY},
        {Key::AccZ, "AccZ", s.AccZ},
        {Key::GyroX, "GyroX", s.GyroX},
        {Key::GyroY, "GyroY", s.GyroY},
        {Key::GyroZ, "GyroZ", s.GyroZ},
        {Key::Rpm1, "RPM1", s.Rpm1},
        {Key::Rpm2, "RPM2", s.Rpm2},
        {Key::Rpm3, "RPM3", s.Rpm3},
        {Key::Rpm4, "RPM4", s.Rpm4},
        {Key::Rpm5, "RPM5", s.Rpm5},
        {Key::Rpm6, "RPM6", s.Rpm6},
        {Key::Rpm7, "RPM7", s.Rpm7},
        {Key::Rpm8, "RPM8", s.Rpm8},
    };
    values.clear();
    order.clear();
    for (const Row& row : rows) {
        if (!keys.test(size_t(row.key)))
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

bool DatagramFilter::accept(const StateDatagram::State& datagram, bool localOnly)
{
    if (localOnly && !mLocalAddresses.contains(datagram.senderIp)) {
        countMiss();
        return false;
    }
    if (datagram.playBackEnabled) {
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
