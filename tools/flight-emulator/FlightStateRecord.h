#pragma once
// The flight state the aircraft streams to the host: 58 bytes, little-endian.

#include <array>
#include <cstddef>
#include <cstdint>

namespace emu {

struct FlightStateRecord {
    static constexpr size_t kSize = 58;

    uint8_t flags = 0;  // bit 0: motors started; bits 1-7: flying state
    float roll = 0, pitch = 0, yaw = 0;  // rad
    float x = 0, y = 0, z = 0;           // NED, m
    float latitude = 0, longitude = 0;   // rad
    float vx = 0, vy = 0, vz = 0;        // NED, m/s
    float timeMs = 0;
    float transformState = 0;

    std::array<uint8_t, kSize> encode() const;
};

// Flying state carried in bits 1-7 of the flags.
enum class FlyingState : uint8_t { OnGround = 0, TakingOff = 1, InFlight = 2, Landing = 3 };

// Arm positions of the transforming aircraft; the viewer raises the arms on 3 -> 2
// and lowers them on 1 -> 4.
enum class TransformState : int { None = 0, Lowering = 1, Raised = 2, Raising = 3, Lowered = 4 };

} // namespace emu
