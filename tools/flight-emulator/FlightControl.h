#pragma once
// Cascaded multirotor control: position -> velocity -> acceleration/thrust
// vector -> attitude -> body rates -> torques -> per-motor thrust.

#include "tools/flight-emulator/MultirotorModel.h"

namespace emu {

struct Setpoint {
    Vec3 position; // NED, m
    Vec3 velocity; // feed-forward, m/s
    Vec3 acceleration; // feed-forward, m/s^2
    double yaw = 0.0; // rad
};

struct ControlGains {
    double posHorizontal = 1.2, posVertical = 1.5; // 1/s
    double velHorizontal = 2.5, velVertical = 4.0; // 1/s
    double velIntegral = 0.6; // 1/s^2, absorbs wind
    double maxHorizontalSpeed = 8.0, maxClimb = 3.0, maxDescent = 2.0; // m/s
    double maxTilt = 0.6; // rad
    double attitude = 7.0, attitudeYaw = 3.0; // 1/s
    double maxRate = 3.5, maxYawRate = 1.5; // rad/s
    double rate = 18.0, rateYaw = 6.0; // 1/s
    double rateIntegral = 8.0; // 1/s^2
};

class FlightController {
public:
    FlightController(const AirframeParams& airframe, const ControlGains& gains = {});

    // One control cycle; returns the per-motor thrust command.
    MotorThrusts update(const RigidBodyState& state, const Setpoint& sp, double dt);
    // Forgets integrator state, e.g. while the aircraft sits on the ground.
    void reset();

private:
    Vec3 thrustVector(const RigidBodyState& state, const Setpoint& sp, double dt);
    Vec3 rateSetpoint(const Quat& attitude, const Quat& target) const;
    Vec3 torque(const Vec3& rates, const Vec3& rateSp, double dt);
    MotorThrusts mix(double collective, const Vec3& torque) const;

    AirframeParams mAirframe;
    ControlGains mGains;
    std::array<Vec3, 4> mLayout;
    Vec3 mVelIntegral;
    Vec3 mRateIntegral;
};

} // namespace emu
