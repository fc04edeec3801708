#pragma once

#include "common/StateDatagram.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

// Latest accepted datagram, fields named after its keys.
struct FlightSnapshot {
    float Roll = 0, Pitch = 0, Yaw = 0;
    float WorldX = 0, WorldY = 0, WorldZ = 0;
    float WorldLatitude = 0, WorldLongitude = 0;
    float VelocityX = 0, VelocityY = 0, VelocityZ = 0;
    float AccX = 0, AccY = 0, AccZ = 0;
    float GyroX = 0, GyroY = 0, GyroZ = 0;
    float Rpm1 = 0, Rpm2 = 0, Rpm3 = 0, Rpm4 = 0, Rpm5 = 0, Rpm6 = 0, Rpm7 = 0, Rpm8 = 0;
    int32_t Time = 0;
    uint8_t TransformState = 0;
    uint8_t MotorStarted = 0;
    uint8_t FlyingState = 0;
    uint8_t ProductType = 0;
    uint8_t SimulatorCommand = 0;
};

// Pose and status copy read by the 3D view.
struct ViewState {
    float roll = 0, pitch = 0, yaw = 0;
    double x = 0, y = 0, z = 0;
    double latitude = 0, longitude = 0;
    float velX = 0, velY = 0, velZ = 0;
    int32_t timeMs = 0;
    uint8_t productType = 0;
    uint8_t simulatorCommand = 0;
};

// Every field from the decoded datagram; an absent key stores 0, and the
// integer fields keep their low 8 bits.
FlightSnapshot readSnapshot(const StateDatagram::State& state);
ViewState toViewState(const FlightSnapshot& s);

// Panel texts: for each displayed key the datagram carried, its display name
// and the stored value with four decimals, in display order.
void buildParamValues(const StateDatagram::KeySet& keys, const FlightSnapshot& s, QMap<QString, QString>& values,
                      QStringList& order);

// The text form of this machine's non-loopback IPv4 addresses, then "127.0.0.1".
QStringList localIPv4Addresses();

// Sender filter and replay detection applied to each parsed datagram.
class DatagramFilter {
public:
    explicit DatagramFilter(QStringList localAddresses) : mLocalAddresses(std::move(localAddresses)) { }

    // False when the datagram is to be dropped (a non-local sender while localOnly).
    bool accept(const StateDatagram::State& datagram, bool localOnly);
    bool playbackEnabled() const { return mPlaybackEnabled; }
    const QStringList& localAddresses() const { return mLocalAddresses; }

private:
    void countMiss();

    QStringList mLocalAddresses;
    bool mPlaybackEnabled = false;
    int mPlaybackMisses = 0;
};

// Reactions of the 3D view to one state that depend on the previous ones.
class StateTriggers {
public:
    enum class Arms { None, Raise, Lower };

    // Raise on Raising -> Raised, lower on Lowering -> Lowered; the state is remembered either way.
    Arms transform(uint8_t transformState);
    // True at the first state of the program and whenever the run counter changes.
    bool simulatorCommandChanged(uint8_t command);
    // What simulatorCommandChanged would answer, without remembering the command.
    bool simulatorCommandDiffers(uint8_t command) const { return command != mLastSimulatorCommand; }
    // At most one trace point every 300 ms; the first call only starts the clock.
    bool traceDue(qint64 nowMs);

private:
    int32_t mLastTransformState = 0;
    int32_t mLastSimulatorCommand = -1;
    qint64 mLastTraceMs = -1;
};

// A run lasts from its first state until five heartbeats in a row see no new state.
class RunTracker {
public:
    // Counts one state; true when it started a run.
    bool onState();
    // One heartbeat; true when it ended the run.
    bool onHeartBeat();
    bool running() const { return mRunning; }
    int32_t stateCount() const { return mStateCount; }

private:
    bool mRunning = false;
    int32_t mStateCount = 0;
    int32_t mLastStateCount = 0;
    int mHeartbeatMisses = 0;
};
