// The host's side of the simulation payloads, as the emulator's tests send them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace emutest {

// Environment (mode 0) with the start position in radians.
inline std::vector<uint8_t> environmentPayload(double latitude, double longitude) {
    std::vector<uint8_t> p(40, 0);
    p[1] = 1;
    p[2] = 2580 & 0xFF;
    p[3] = 2580 >> 8;
    std::memcpy(&p[4], &longitude, 8);
    std::memcpy(&p[12], &latitude, 8);
    const double step = 0.1;
    std::memcpy(&p[20], &step, 8);
    p[28] = 255;
    p[29] = 7;
    p[31] = 14;
    return p;
}

inline std::vector<uint8_t> stopPayload() {
    std::vector<uint8_t> p(40, 0);
    p[0] = 2;
    return p;
}

inline float floatAt(const std::vector<uint8_t>& bytes, size_t offset) {
    float v;
    std::memcpy(&v, &bytes[offset], sizeof v);
    return v;
}

} // namespace emutest
