// A flight-state record whose fields all show in the datagram text the host makes of it.
#pragma once

#include "link/Messages.h"

inline FlightStateRecord sampleFlightState()
{
    FlightStateRecord r;
    r.flags = 0x03;
    r.roll = 0.5f, r.pitch = -0.25f, r.yaw = 1.5f;
    r.x = 1, r.y = 2, r.z = -3;
    r.latitude = 0.5f, r.longitude = 2;
    r.vx = 0.5f, r.vy = 0, r.vz = -0.25f;
    r.time = 1200.7f;
    return r;
}
