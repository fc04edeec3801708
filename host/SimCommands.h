#pragma once

#include "link/Commands.h"
#include "link/Messages.h"
#include "link/Package.h"

#include <cstdint>
#include <vector>

constexpr uint8_t FlightControllerIndex = 0;

// The environment for a start position given in degrees; it travels in radians.
EnvironmentPayload environmentAt(double latitudeDeg, double longitudeDeg);

// Writes a simulation command to the flight controller at once through the command manager.
void sendSimCommand(uint8_t cmdId, const std::vector<uint8_t>& payload);
