#pragma once
// Rigid-body model of a quadrotor in X configuration: four first-order motors,
// gravity, aerodynamic drag against the air mass, and a flat ground.

#include "tools/flight-emulator/Geometry.h"

#include <array>

namespace emu {

struct AirframeParams {
    double mass = 1.6; // kg
    double armLength = 0.23; // m, centre to motor axis
    Vec3 inertia{0.022, 0.022, 0.040}; // kg m^2, principal axes
    double maxMotorThrust = 9.0; // N per motor
    double motorTimeConstant = 0.02; // s
    double yawMomentPerThrust = 0.016; // N m of reaction torque per N of thrust
    double linearDrag = 0.30; // N per m/s of airspeed
    double quadraticDrag = 0.05; // N per (m/s)^2 of airspeed
    double angularDrag = 0.004; // N m per rad/s
};

using MotorThrusts = std::array<double, 4>;

struct RigidBodyState {
    Vec3 position; // NED, m; z is negative above the ground
    Vec3 velocity; // NED, m/s
    Quat attitude; // body to NED
    Vec3 bodyRates; // FRD body frame, rad/s
    bool onGround = true;
};

class MultirotorModel {
public:
    explicit MultirotorModel(const AirframeParams& params = {});

    // Motor positions (x forward, y right) and reaction-torque signs, shared with the mixer.
    static std::array<Vec3, 4> motorLayout(const AirframeParams& p);

    // Advances by dt seconds with the commanded per-motor thrusts (N) in still air moving at `wind`.
    void step(double dt, const MotorThrusts& command, const Vec3& wind);

    const RigidBodyState& state() const { return mState; }
    const MotorThrusts& motorThrusts() const { return mThrust; }
    const AirframeParams& params() const { return mParams; }

private:
    AirframeParams mParams;
    std::array<Vec3, 4> mLayout; // x, y: position; z: reaction-torque sign
    RigidBodyState mState;
    MotorThrusts mThrust{};
};

} // namespace emu
