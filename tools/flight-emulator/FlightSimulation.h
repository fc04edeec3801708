#pragma once
// One simulated flight: airframe, controller, mission, wind and the position on
// the earth, advanced in fixed steps without any wall clock.

#include "tools/flight-emulator/Mission.h"
#include "tools/flight-emulator/Random.h"

#include "common/TransformState.h"
#include "link/Messages.h"

namespace emu {

class FlightSimulation {
public:
    static constexpr double kStep = 0.001; // s, physics and control cycle: one per state at the highest rate

    FlightSimulation(MissionKind mission, uint64_t seed, bool transforming);

    // Start point on the earth, radians.
    void setOrigin(double latitude, double longitude);
    // Runs whole control cycles up to flight time t (seconds since the motors started).
    void advanceTo(double t);

    double time() const { return mTime; }
    MissionPhase phase() const { return mPhase; }
    bool motorsRunning() const { return mMotorsOn; }
    TransformState transformState() const { return mTransform; }
    const RigidBodyState& body() const { return mModel.state(); }
    const MultirotorModel& model() const { return mModel; }
    const Mission& mission() const { return mMission; }
    // Current wind at the aircraft, m/s NED.
    Vec3 wind() const { return mWindMean + mGust; }
    FlightStateRecord record() const;

private:
    void stepOnce();
    void updateTransform();
    FlyingState flyingState() const;

    Mission mMission;
    MultirotorModel mModel;
    FlightController mController;
    Random mRandom;
    bool mTransforming;
    double mOriginLat = 0.0, mOriginLon = 0.0;
    double mTime = 0.0;
    uint64_t mSteps = 0;
    MissionPhase mPhase = MissionPhase::Armed;
    bool mMotorsOn = true;
    double mGroundTime = 0.0;
    TransformState mTransform;
    double mTransformSince = 0.0;
    Vec3 mWindMean, mGust;
};

} // namespace emu
