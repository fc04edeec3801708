#pragma once

#include "link/Package.h"

#include <QByteArray>

#include <cstdint>

// Simulation commands between the host and the flight controller (command set 11).
constexpr uint8_t SimCmdSet = 0x0B;
constexpr uint8_t SimCmdHeartbeat = 1;   // start request and heartbeat; the aircraft's state reply
constexpr uint8_t SimCmdAckReply = 2;    // sent once on the first state reply after a start
constexpr uint8_t SimCmdParamRequest = 3;
constexpr uint8_t SimCmdEnvironment = 4; // environment (mode 0) and stop (mode 2)
constexpr uint8_t SimCmdFlightState = 6;

constexpr uint8_t FlightControllerIndex = 0;

// A flight-state record shorter than this would be read past its end.
constexpr int FlightStateSize = 58;

QByteArray simStartPayload();
QByteArray simHeartbeatPayload();
QByteArray simAckPayload();
QByteArray simStopPayload();
// 40-byte environment with the start position in degrees, sent in radians.
QByteArray simEnvironmentPayload(double latitudeDeg, double longitudeDeg);

// Writes the command to the flight controller at once through the command manager.
void sendSimCommand(uint8_t cmdId, const QByteArray& payload);
