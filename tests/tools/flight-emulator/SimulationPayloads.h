// The host's simulation payloads as the emulator's tests send them, and the
// flight states read back, all through the link's codecs.
#pragma once

#include "link/Messages.h"

#include <cstdint>
#include <vector>

namespace emutest {

// Environment (mode 0) with the start position in radians.
inline std::vector<uint8_t> environmentPayload(double latitude, double longitude)
{
    EnvironmentPayload environment;
    environment.latitude = latitude;
    environment.longitude = longitude;
    return environment.encode();
}

inline std::vector<uint8_t> stopPayload() { return StopPayload().encode(); }

// A flight state as the host reads it; all zeros when the payload is too short.
inline FlightStateRecord flightState(const std::vector<uint8_t>& payload)
{
    return FlightStateRecord::decode(payload.data(), payload.size()).value_or(FlightStateRecord());
}

} // namespace emutest
