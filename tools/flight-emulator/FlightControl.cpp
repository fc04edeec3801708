#include "tools/flight-emulator/FlightControl.h"

#include <algorithm>

namespace emu {

namespace {

double clampAbs(double v, double limit) { return std::clamp(v, -limit, limit); }

Vec3 clampHorizontal(const Vec3& v, double limit)
{
    const double h = std::hypot(v.x, v.y);
    if (h <= limit || h == 0.0)
        return v;
    return {v.x * limit / h, v.y * limit / h, v.z};
}

} // namespace

FlightController::FlightController(const AirframeParams& airframe, const ControlGains& gains)
    : mAirframe(airframe),
      mGains(gains),
      mLayout(MultirotorModel::motorLayout(airframe))
{
}

void FlightController::reset()
{
    mVelIntegral = Vec3{};
    mRateIntegral = Vec3{};
}

Vec3 FlightController::thrustVector(const RigidBodyState& s, const Setpoint& sp, double dt)
{
    const ControlGains& g = mGains;
    const Vec3 posErr = sp.position - s.position;
    Vec3 velSp = sp.velocity + Vec3{posErr.x * g.posHorizontal, posErr.y * g.posHorizontal, posErr.z * g.posVertical};
    velSp = clampHorizontal(velSp, g.maxHorizontalSpeed);
    velSp.z = std::clamp(velSp.z, -g.maxClimb, g.maxDescent);

    const Vec3 velErr = velSp - s.velocity;
    mVelIntegral += velErr * (g.velIntegral * dt);
    mVelIntegral = clampHorizontal(mVelIntegral, 2.0);
    mVelIntegral.z = clampAbs(mVelIntegral.z, 2.0);

    Vec3 acc = sp.acceleration + mVelIntegral +
        Vec3{velErr.x * g.velHorizontal, velErr.y * g.velHorizontal, velErr.z * g.velVertical};
    // The drag of the airframe's own motion is known; only the wind is left to the integrator.
    const Vec3 v = s.velocity;
    acc += v * ((mAirframe.linearDrag + mAirframe.quadraticDrag * v.norm()) / mAirframe.mass);

    // Force needed against gravity, tilt limited while keeping the vertical share.
    Vec3 force = (acc - Vec3{0.0, 0.0, kGravity}) * mAirframe.mass;
    force.z = std::min(force.z, -0.2 * mAirframe.mass * kGravity);
    const double maxHorizontal = -force.z * std::tan(g.maxTilt);
    return clampHorizontal(force, maxHorizontal);
}

Vec3 FlightController::rateSetpoint(const Quat& q, const Quat& target) const
{
    Quat e = q.conjugate() * target;
    if (e.w < 0.0)
        e = Quat{-e.w, -e.x, -e.y, -e.z};
    return {clampAbs(2.0 * e.x * mGains.attitude, mGains.maxRate),
            clampAbs(2.0 * e.y * mGains.attitude, mGains.maxRate),
            clampAbs(2.0 * e.z * mGains.attitudeYaw, mGains.maxYawRate)};
}

Vec3 FlightController::torque(const Vec3& w, const Vec3& rateSp, double dt)
{
    const Vec3 err = rateSp - w;
    mRateIntegral += err * (mGains.rateIntegral * dt);
    mRateIntegral =
        Vec3{clampAbs(mRateIntegral.x, 2.0), clampAbs(mRateIntegral.y, 2.0), clampAbs(mRateIntegral.z, 1.0)};
    const Vec3 angAcc = Vec3{err.x * mGains.rate, err.y * mGains.rate, err.z * mGains.rateYaw} + mRateIntegral;
    const Vec3& J = mAirframe.inertia;
    return angAcc.scaled(J) + w.cross(w.scaled(J)) + w * mAirframe.angularDrag;
}

MotorThrusts FlightController::mix(double collective, const Vec3& tq) const
{
    const double d2 = mLayout[0].x * mLayout[0].x;
    MotorThrusts share{};
    for (size_t i = 0; i < share.size(); ++i) {
        const Vec3& m = mLayout[i];
        share[i] = -m.y / (4 * d2) * tq.x + m.x / (4 * d2) * tq.y + m.z / (4 * mAirframe.yawMomentPerThrust) * tq.z;
    }
    // Attitude authority goes first: move the collective into the range where no
    // motor saturates, and only if there is none, let the clamp cut the torque.
    const double tmax = mAirframe.maxMotorThrust;
    double lo = 0.0, hi = tmax;
    for (double s : share) {
        lo = std::max(lo, -s);
        hi = std::min(hi, tmax - s);
    }
    double base = collective / 4.0;
    if (lo <= hi)
        base = std::clamp(base, lo, hi);
    MotorThrusts out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = std::clamp(base + share[i], 0.0, tmax);
    return out;
}

MotorThrusts FlightController::update(const RigidBodyState& s, const Setpoint& sp, double dt)
{
    const Vec3 force = thrustVector(s, sp, dt);
    const Vec3 bodyZ = -force.normalized();
    const Vec3 heading{std::cos(sp.yaw), std::sin(sp.yaw), 0.0};
    const Vec3 bodyY = bodyZ.cross(heading).normalized();
    const Vec3 bodyX = bodyY.cross(bodyZ);
    const Quat target = Quat::fromAxes(bodyX, bodyY, bodyZ);

    const Vec3 currentAxis = s.attitude.rotate(Vec3{0.0, 0.0, -1.0});
    const double collective = std::max(0.0, force.dot(currentAxis));
    const Vec3 rateSp = rateSetpoint(s.attitude, target);
    return mix(collective, torque(s.bodyRates, rateSp, dt));
}

} // namespace emu
