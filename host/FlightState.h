#pragma once

#include "common/StateDatagram.h"

#include <cstdint>

// Product type codes as sent to the visualiser.
enum ProductType { ProductUnknown = 0, ProductTavik1 = 1, ProductNerio3 = 2, ProductVx7 = 3 };

// Maps the aircraft's product byte (low four bits: 0 Tavik1, 1 Nerio3, 2 Vx7).
ProductType productTypeFromByte(uint8_t productByte);
const char* productTypeName(ProductType type);

// Converts the aircraft's flight-state record (at least FlightStateSize bytes):
// radians to degrees, z and vertical velocity to the visualiser's sign, flag
// bits split. Product type, sender address and run counter are left to the caller.
StateDatagram::State decodeFlightState(const uint8_t* record);

// The datagram key of the first real value of state that is infinite or NaN
// (in send order), or null when every one is finite. Such a state has no
// datagram form the visualiser can use.
const char* firstNonFiniteKey(const StateDatagram::State& state);
