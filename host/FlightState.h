#pragma once

#include "common/ProductType.h"
#include "common/StateDatagram.h"

#include "link/Messages.h"

// Converts the aircraft's flight-state record for the visualiser: radians to
// degrees, z and vertical velocity to the visualiser's sign, flag bits split.
// Product type, sender address and run counter are left to the caller.
StateDatagram::State convertFlightState(const FlightStateRecord& record);

// The datagram key of the first real value of state that is infinite or NaN
// (in send order), or null when every one is finite. Such a state has no
// datagram form the visualiser can use.
const char* firstNonFiniteKey(const StateDatagram::State& state);
