#pragma once
// Missions as a timeline of setpoint segments: spin up on the ground, take off,
// fly the pattern, descend. Touch-down itself is detected by the simulation.

#include "tools/flight-emulator/FlightControl.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace emu {

enum class MissionKind { Hover, Square, Circle };
enum class MissionPhase { Armed, TakeOff, Pattern, Landing, Landed };

std::optional<MissionKind> missionFromName(const std::string& name);
const char* missionName(MissionKind kind);
const char* phaseName(MissionPhase phase);

// Rest-to-rest motion over a distance with bounded speed and acceleration.
class TrapezoidProfile {
public:
    TrapezoidProfile(double distance, double maxSpeed, double maxAccel);
    double duration() const { return mDuration; }
    // Distance, speed and acceleration at time t (clamped to the profile).
    void sample(double t, double& s, double& v, double& a) const;

private:
    double mDistance, mAccel, mPeakSpeed, mAccelTime, mDuration;
};

class Mission {
public:
    static constexpr double kAltitude = 10.0; // m above the start point
    static constexpr double kSquareSide = 20.0; // m; first leg north, then east
    static constexpr double kCircleRadius = 12.0; // m; centre east of the start point

    explicit Mission(MissionKind kind);

    MissionKind kind() const { return mKind; }
    // Phase and setpoint at mission time t; the last segment holds for ever.
    MissionPhase phase(double t) const;
    Setpoint setpoint(double t) const;

private:
    struct Segment {
        MissionPhase phase;
        double start;
        double duration;
        std::function<Setpoint(double)> at; // local time in [0, duration]
    };
    void add(MissionPhase phase, double duration, std::function<Setpoint(double)> at);
    void addLine(MissionPhase phase, const Vec3& from, const Vec3& to, double yaw, double speed, double accel);
    void addHold(MissionPhase phase, const Vec3& at, double yawFrom, double yawTo, double duration);
    void addCircle();
    const Segment& segmentAt(double t) const;

    MissionKind mKind;
    std::vector<Segment> mSegments;
};

} // namespace emu
