// The host's simulation payloads as the emulator's tests send them, and the
// flight states read back, all through the link's codecs.
#pragma once

#include "link/Messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace emutest {

// Environment (mode 0) with the start position in radians.
inline std::vector<uint8_t> environmentPayload(double latitude, double longitude) {
    EnvironmentPayload environment;
    environment.latitude = latitude;
    environment.longitude = longitude;
    return environment.encode();
}

inline std::vector<uint8_t> stopPayload() { return StopPayload().encode(); }

// A flight state as the host reads it; a failed test and zeros when it is too short.
inline FlightStateRecord flightState(const std::vector<uint8_t>& payload) {
    const auto record = FlightStateRecord::decode(payload.data(), payload.size());
    EXPECT_TRUE(record) << payload.size() << " bytes are no flight state";
    return record.value_or(FlightStateRecord());
}

} // namespace emutest
