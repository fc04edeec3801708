#include "tools/flight-emulator/Mission.h"

#include <algorithm>
#include <cmath>

namespace emu {

std::optional<MissionKind> missionFromName(const std::string& name)
{
    if (name == "hover")
        return MissionKind::Hover;
    if (name == "square")
        return MissionKind::Square;
    if (name == "circle")
        return MissionKind::Circle;
    return std::nullopt;
}

const char* missionName(MissionKind kind)
{
    switch (kind) {
    case MissionKind::Hover: return "hover";
    case MissionKind::Square: return "square";
    case MissionKind::Circle: return "circle";
    }
    return "?";
}

const char* phaseName(MissionPhase phase)
{
    switch (phase) {
    case MissionPhase::Armed: return "motors started";
    case MissionPhase::TakeOff: return "take-off";
    case MissionPhase::Pattern: return "pattern";
    case MissionPhase::Landing: return "landing";
    case MissionPhase::Landed: return "landed, motors stopped";
    }
    return "?";
}

TrapezoidProfile::TrapezoidProfile(double distance, double maxSpeed, double maxAccel)
    : mDistance(std::max(0.0, distance)),
      mAccel(maxAccel)
{
    mPeakSpeed = std::min(maxSpeed, std::sqrt(mDistance * maxAccel));
    mAccelTime = mPeakSpeed > 0.0 ? mPeakSpeed / maxAccel : 0.0;
    const double cruise = mPeakSpeed > 0.0 ? (mDistance - mPeakSpeed * mAccelTime) / mPeakSpeed : 0.0;
    mDuration = 2 * mAccelTime + cruise;
}

void TrapezoidProfile::sample(double t, double& s, double& v, double& a) const
{
    t = std::clamp(t, 0.0, mDuration);
    const double decelStart = mDuration - mAccelTime;
    if (t < mAccelTime) {
        a = mAccel;
        v = mAccel * t;
        s = 0.5 * mAccel * t * t;
    } else if (t < decelStart) {
        a = 0.0;
        v = mPeakSpeed;
        s = 0.5 * mPeakSpeed * mAccelTime + mPeakSpeed * (t - mAccelTime);
    } else {
        const double r = mDuration - t;
        a = -mAccel;
        v = mAccel * r;
        s = mDistance - 0.5 * mAccel * r * r;
    }
}

Mission::Mission(MissionKind kind) : mKind(kind)
{
    const Vec3 ground{0.0, 0.0, 0.0};
    const Vec3 top{0.0, 0.0, -kAltitude};
    // Motors spin up against a setpoint below the ground, so they idle without lifting.
    addHold(MissionPhase::Armed, Vec3{0.0, 0.0, 1.0}, 0.0, 0.0, 1.5);
    addLine(MissionPhase::TakeOff, ground, top, 0.0, 2.5, 1.5);
    addHold(MissionPhase::TakeOff, top, 0.0, 0.0, 1.0);

    double yaw = 0.0;
    switch (kind) {
    case MissionKind::Hover:
        addHold(MissionPhase::Pattern, top, 0.0, Pi / 2, 20.0);
        yaw = Pi / 2;
        break;
    case MissionKind::Square: {
        const double a = kSquareSide;
        const Vec3 corners[] = {top, {a, 0.0, -kAltitude}, {a, a, -kAltitude}, {0.0, a, -kAltitude}, top};
        for (int leg = 0; leg < 4; ++leg) {
            const double heading = leg * Pi / 2;
            addHold(MissionPhase::Pattern, corners[leg], yaw, heading, 1.2);
            addLine(MissionPhase::Pattern, corners[leg], corners[leg + 1], heading, 5.0, 2.5);
            yaw = heading;
        }
        break;
    }
    case MissionKind::Circle:
        addCircle();
        yaw = 0.0;
        break;
    }
    addHold(MissionPhase::Pattern, top, yaw, yaw, 1.0);

    const Vec3 low{0.0, 0.0, -2.0};
    addLine(MissionPhase::Landing, top, low, yaw, 2.0, 1.0);
    // Aim below the ground so the aircraft settles with authority until touch-down.
    addLine(MissionPhase::Landing, low, Vec3{0.0, 0.0, 0.5}, yaw, 0.6, 1.0);
}

void Mission::add(MissionPhase phase, double duration, std::function<Setpoint(double)> at)
{
    const double start = mSegments.empty() ? 0.0 : mSegments.back().start + mSegments.back().duration;
    mSegments.push_back({phase, start, duration, std::move(at)});
}

void Mission::addLine(MissionPhase phase, const Vec3& from, const Vec3& to, double yaw, double speed, double accel)
{
    const Vec3 dir = (to - from).normalized();
    const TrapezoidProfile profile((to - from).norm(), speed, accel);
    add(phase, profile.duration(), [=](double t) {
        double s, v, a;
        profile.sample(t, s, v, a);
        return Setpoint{from + dir * s, dir * v, dir * a, yaw};
    });
}

void Mission::addHold(MissionPhase phase, const Vec3& at, double yawFrom, double yawTo, double duration)
{
    const TrapezoidProfile turn(std::abs(yawTo - yawFrom), 1.0, 1.5);
    const double sign = yawTo >= yawFrom ? 1.0 : -1.0;
    add(phase, std::max(duration, turn.duration()), [=](double t) {
        double s, v, a;
        turn.sample(t, s, v, a);
        return Setpoint{at, Vec3{}, Vec3{}, wrapAngle(yawFrom + sign * s)};
    });
}

void Mission::addCircle()
{
    const double r = kCircleRadius;
    const Vec3 centre{0.0, r, -kAltitude};
    const TrapezoidProfile profile(2 * Pi * r, 5.0, 1.5);
    add(MissionPhase::Pattern, profile.duration(), [=](double t) {
        double s, v, a;
        profile.sample(t, s, v, a);
        // Clockwise seen from above, starting at the take-off point heading north.
        const double theta = -Pi / 2 + s / r;
        const Vec3 radial{std::cos(theta), std::sin(theta), 0.0};
        const Vec3 tangent{-std::sin(theta), std::cos(theta), 0.0};
        return Setpoint{centre + radial * r, tangent * v, tangent * a - radial * (v * v / r),
                        wrapAngle(theta + Pi / 2)};
    });
}

const Mission::Segment& Mission::segmentAt(double t) const
{
    for (const Segment& s : mSegments)
        if (t < s.start + s.duration)
            return s;
    return mSegments.back();
}

MissionPhase Mission::phase(double t) const { return segmentAt(t).phase; }

Setpoint Mission::setpoint(double t) const
{
    const Segment& s = segmentAt(t);
    return s.at(std::min(t - s.start, s.duration));
}

} // namespace emu
