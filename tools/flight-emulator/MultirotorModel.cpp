#include "tools/flight-emulator/MultirotorModel.h"

#include <algorithm>

namespace emu {

MultirotorModel::MultirotorModel(const AirframeParams& params) : mParams(params), mLayout(motorLayout(params)) { }

std::array<Vec3, 4> MultirotorModel::motorLayout(const AirframeParams& p)
{
    const double d = p.armLength / std::sqrt(2.0);
    // Front-right and rear-left spin one way, front-left and rear-right the other.
    return {Vec3{d, d, 1.0}, Vec3{-d, -d, 1.0}, Vec3{d, -d, -1.0}, Vec3{-d, d, -1.0}};
}

void MultirotorModel::step(double dt, const MotorThrusts& command, const Vec3& wind)
{
    const double blend = 1.0 - std::exp(-dt / mParams.motorTimeConstant);
    double total = 0.0;
    Vec3 torque;
    for (size_t i = 0; i < mThrust.size(); ++i) {
        const double target = std::clamp(command[i], 0.0, mParams.maxMotorThrust);
        mThrust[i] += (target - mThrust[i]) * blend;
        total += mThrust[i];
        // Thrust points along -z body; r x F for F = (0, 0, -T).
        torque += Vec3{-mLayout[i].y * mThrust[i], mLayout[i].x * mThrust[i],
                       mLayout[i].z * mParams.yawMomentPerThrust * mThrust[i]};
    }

    RigidBodyState& s = mState;
    const Vec3 airspeed = s.velocity - wind;
    const Vec3 drag = -(airspeed * (mParams.linearDrag + mParams.quadraticDrag * airspeed.norm()));
    const Vec3 thrustWorld = s.attitude.rotate(Vec3{0.0, 0.0, -total});
    const Vec3 force = thrustWorld + drag + Vec3{0.0, 0.0, mParams.mass * kGravity};

    // The ground carries the aircraft until the thrust lifts it.
    if (s.onGround && force.z >= 0.0) {
        s.position.z = 0.0;
        s.velocity = Vec3{};
        s.bodyRates = Vec3{};
        const double yaw = s.attitude.yaw();
        s.attitude = Quat::fromEuler(0.0, 0.0, yaw);
        return;
    }
    s.onGround = false;

    s.velocity += force / mParams.mass * dt;
    s.position += s.velocity * dt;

    const Vec3& J = mParams.inertia;
    const Vec3 w = s.bodyRates;
    const Vec3 gyroscopic = w.cross(w.scaled(J));
    const Vec3 angularAcc =
        (torque - gyroscopic - w * mParams.angularDrag).scaled(Vec3{1.0 / J.x, 1.0 / J.y, 1.0 / J.z});
    s.bodyRates += angularAcc * dt;
    const Vec3 r = s.bodyRates * dt;
    const double angle = r.norm();
    if (angle > 0.0) {
        const Vec3 axis = r / angle;
        const double sh = std::sin(angle / 2);
        s.attitude = (s.attitude * Quat{std::cos(angle / 2), axis.x * sh, axis.y * sh, axis.z * sh}).normalized();
    }

    if (s.position.z >= 0.0) {
        // Touch-down: a multirotor on skids does not bounce; it settles level.
        s.position.z = 0.0;
        s.velocity = Vec3{};
        s.bodyRates = Vec3{};
        s.attitude = Quat::fromEuler(0.0, 0.0, s.attitude.yaw());
        s.onGround = true;
    }
}

} // namespace emu
