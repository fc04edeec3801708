#include "FlightStateRecord.h"

#include <cstring>

namespace emu {

namespace {

void putFloat(uint8_t* at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

} // namespace

std::array<uint8_t, FlightStateRecord::kSize> FlightStateRecord::encode() const {
    std::array<uint8_t, kSize> out{};
    out[1] = flags;
    const float fields[] = {roll, pitch, yaw, x, y, z, latitude, longitude, vx, vy, vz, timeMs};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) putFloat(&out[2 + 4 * i], fields[i]);
    // Offset 50 is unused.
    putFloat(&out[54], transformState);
    return out;
}

} // namespace emu
