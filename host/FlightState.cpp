#include "host/FlightState.h"

#include "common/Angles.h"

#include <cmath>

namespace {

// Truncation toward zero with two's-complement wrap, defined for every input
// (a plain cast of a negative or huge float to an unsigned type is not).
int64_t truncated(float value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18f)
        return 0;
    return static_cast<int64_t>(value);
}

double radiansToDegrees(float radians)
{
    const float scaled = radians * 180.0f; // single precision first, as the aircraft's tools do
    return static_cast<double>(scaled) / Pi;
}

} // namespace

StateDatagram::State convertFlightState(const FlightStateRecord& r)
{
    StateDatagram::State s;
    s.roll = r.roll;
    s.pitch = r.pitch;
    s.yaw = r.yaw;
    s.worldX = r.x;
    s.worldY = r.y;
    s.worldZ = -r.z;
    s.worldLatitude = radiansToDegrees(r.latitude);
    s.worldLongitude = radiansToDegrees(r.longitude);
    s.velocityX = r.vx;
    s.velocityY = r.vy;
    s.velocityZ = -r.vz;
    s.time = static_cast<uint32_t>(truncated(r.time));
    s.transformState = static_cast<uint8_t>(static_cast<int32_t>(truncated(r.transformState)) & 0xFF);
    s.motorStarted = r.flags & 0x01;
    s.flyingState = r.flags >> 1;
    return s;
}

const char* firstNonFiniteKey(const StateDatagram::State& s)
{
    const struct {
        const char* key;
        double value;
    } reals[] = {
        {"Roll", s.roll},
        {"Pitch", s.pitch},
        {"Yaw", s.yaw},
        {"WorldX", s.worldX},
        {"WorldY", s.worldY},
        {"WorldZ", s.worldZ},
        {"WorldLatitude", s.worldLatitude},
        {"WorldLongitude", s.worldLongitude},
        {"VelocityX", s.velocityX},
        {"VelocityY", s.velocityY},
        {"VelocityZ", s.velocityZ},
    };
    for (const auto& real : reals) {
        if (!std::isfinite(real.value))
            return real.key;
    }
    return nullptr;
}
