#include "tools/flight-emulator/FlightSimulation.h"

#include <algorithm>

namespace emu {

namespace {

constexpr double kTouchDownHold = 0.5; // s on the ground before the motors stop
constexpr double kRaiseAltitude = 2.0; // m, arms rise above this during take-off
constexpr double kTransformHold = 1.0; // s the intermediate arm state is reported
constexpr double kGustTimeConstant = 3.0; // s
constexpr double kGustStrength = 0.6; // m/s, standard deviation per axis

// WGS-84 radii of curvature at a latitude: meridian and prime vertical.
void earthRadii(double lat, double& meridian, double& primeVertical)
{
    constexpr double a = 6378137.0, e2 = 6.69437999014e-3;
    const double s = std::sin(lat);
    const double k = 1.0 - e2 * s * s;
    primeVertical = a / std::sqrt(k);
    meridian = a * (1.0 - e2) / (k * std::sqrt(k));
}

} // namespace

FlightSimulation::FlightSimulation(MissionKind mission, uint64_t seed, bool transforming)
    : mMission(mission),
      mController(mModel.params()),
      mRandom(seed),
      mTransforming(transforming),
      mTransform(transforming ? TransformState::Lowered : TransformState::None)
{
    const double speed = mRandom.uniform(0.0, 3.0);
    const double from = mRandom.uniform(0.0, 2 * Pi);
    mWindMean = Vec3{speed * std::cos(from), speed * std::sin(from), 0.0};
}

void FlightSimulation::setOrigin(double latitude, double longitude)
{
    mOriginLat = latitude;
    mOriginLon = longitude;
}

void FlightSimulation::advanceTo(double t)
{
    // Counting steps keeps the flight time free of accumulated rounding.
    while ((mSteps + 1) * kStep <= t + 1e-9)
        stepOnce();
}

void FlightSimulation::stepOnce()
{
    // Gusts: a first-order random process per axis, weaker vertically.
    const double decay = std::exp(-kStep / kGustTimeConstant);
    const double spread = kGustStrength * std::sqrt(1.0 - decay * decay);
    mGust = Vec3{mGust.x * decay + spread * mRandom.gaussian(), mGust.y * decay + spread * mRandom.gaussian(),
                 mGust.z * decay + 0.3 * spread * mRandom.gaussian()};

    const RigidBodyState& s = mModel.state();
    MotorThrusts command{};
    if (mMotorsOn) {
        if (s.onGround)
            mController.reset();
        command = mController.update(s, mMission.setpoint(mTime), kStep);
    }
    mModel.step(kStep, command, s.onGround ? Vec3{} : wind());
    ++mSteps;
    mTime = mSteps * kStep;

    if (mPhase != MissionPhase::Landed) {
        mPhase = mMission.phase(mTime);
        if (mPhase == MissionPhase::Landing) {
            mGroundTime = mModel.state().onGround ? mGroundTime + kStep : 0.0;
            if (mGroundTime >= kTouchDownHold) {
                mPhase = MissionPhase::Landed;
                mMotorsOn = false;
                mController.reset();
            }
        }
    }
    updateTransform();
}

void FlightSimulation::updateTransform()
{
    if (!mTransforming)
        return;
    const double altitude = -mModel.state().position.z;
    const double held = mTime - mTransformSince;
    auto moveTo = [this](TransformState next) {
        mTransform = next;
        mTransformSince = mTime;
    };
    switch (mTransform) {
    case TransformState::Lowered:
        if (mPhase == MissionPhase::TakeOff && altitude > kRaiseAltitude)
            moveTo(TransformState::Raising);
        break;
    case TransformState::Raising:
        if (held >= kTransformHold)
            moveTo(TransformState::Raised);
        break;
    case TransformState::Raised:
        if (mPhase == MissionPhase::Landing)
            moveTo(TransformState::Lowering);
        break;
    case TransformState::Lowering:
        if (held >= kTransformHold)
            moveTo(TransformState::Lowered);
        break;
    case TransformState::None: break;
    }
}

FlyingState FlightSimulation::flyingState() const
{
    switch (mPhase) {
    case MissionPhase::TakeOff: return FlyingState::TakingOff;
    case MissionPhase::Pattern: return FlyingState::InFlight;
    case MissionPhase::Landing: return FlyingState::Landing;
    case MissionPhase::Armed:
    case MissionPhase::Landed: break;
    }
    return FlyingState::OnGround;
}

FlightStateRecord FlightSimulation::record() const
{
    const RigidBodyState& s = mModel.state();
    FlightStateRecord r;
    r.flags = static_cast<uint8_t>((static_cast<uint8_t>(flyingState()) << 1) | (mMotorsOn ? 1 : 0));
    r.roll = static_cast<float>(s.attitude.roll());
    r.pitch = static_cast<float>(s.attitude.pitch());
    r.yaw = static_cast<float>(s.attitude.yaw());
    r.x = static_cast<float>(s.position.x);
    r.y = static_cast<float>(s.position.y);
    r.z = static_cast<float>(s.position.z);
    double meridian, primeVertical;
    earthRadii(mOriginLat, meridian, primeVertical);
    const double height = -s.position.z;
    // Near the poles the east-west scale degenerates; keep it finite.
    const double cosLat = std::max(std::cos(mOriginLat), 1e-6);
    r.latitude = static_cast<float>(mOriginLat + s.position.x / (meridian + height));
    r.longitude = static_cast<float>(wrapAngle(mOriginLon + s.position.y / ((primeVertical + height) * cosLat)));
    r.vx = static_cast<float>(s.velocity.x);
    r.vy = static_cast<float>(s.velocity.y);
    r.vz = static_cast<float>(s.velocity.z);
    r.time = static_cast<float>(mTime * 1000.0);
    r.transformState = static_cast<float>(static_cast<int>(mTransform));
    return r;
}

} // namespace emu
