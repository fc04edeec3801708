#include "FlightState.h"

#include <QtEndian>

#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;

float floatAt(const uint8_t* record, int offset)
{
    return qFromLittleEndian<float>(record + offset);
}

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

ProductType productTypeFromByte(uint8_t productByte)
{
    switch (productByte & 0x0F) {
    case 0: return ProductTavik1;
    case 1: return ProductNerio3;
    case 2: return ProductVx7;
    default: return ProductUnknown;
    }
}

const char* productTypeName(ProductType type)
{
    switch (type) {
    case ProductTavik1: return "Tavik1";
    case ProductNerio3: return "Nerio3";
    case ProductVx7: return "Vx7";
    default: return "Unknown";
    }
}

StateDatagram::State decodeFlightState(const uint8_t* record)
{
    StateDatagram::State s;
    const uint8_t flags = record[1];
    s.roll = floatAt(record, 2);
    s.pitch = floatAt(record, 6);
    s.yaw = floatAt(record, 10);
    s.worldX = floatAt(record, 14);
    s.worldY = floatAt(record, 18);
    s.worldZ = -floatAt(record, 22);
    s.worldLatitude = radiansToDegrees(floatAt(record, 26));
    s.worldLongitude = radiansToDegrees(floatAt(record, 30));
    s.velocityX = floatAt(record, 34);
    s.velocityY = floatAt(record, 38);
    s.velocityZ = -floatAt(record, 42);
    s.time = static_cast<uint32_t>(truncated(floatAt(record, 46)));
    s.transformState = static_cast<uint8_t>(static_cast<int32_t>(truncated(floatAt(record, 54))) & 0xFF);
    s.motorStarted = flags & 0x01;
    s.flyingState = flags >> 1;
    return s;
}

const char* firstNonFiniteKey(const StateDatagram::State& s)
{
    const struct
    {
        const char* key;
        double value;
    } reals[] = {
        {"Roll", s.roll}, {"Pitch", s.pitch}, {"Yaw", s.yaw}, {"WorldX", s.worldX}, {"WorldY", s.worldY},
        {"WorldZ", s.worldZ}, {"WorldLatitude", s.worldLatitude}, {"WorldLongitude", s.worldLongitude},
        {"VelocityX", s.velocityX}, {"VelocityY", s.velocityY}, {"VelocityZ", s.velocityZ},
    };
    for (const auto& real : reals) {
        if (!std::isfinite(real.value))
            return real.key;
    }
    return nullptr;
}
