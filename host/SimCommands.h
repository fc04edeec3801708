#pragma once

#include "link/Commands.h"
#include "link/Package.h"

#include <QByteArray>

#include <cstdint>

// Simulation commands between the host and the flight controller (command set 11).
constexpr uint8_t SimCmdSet = cmd::SimulationSet;
constexpr uint8_t SimCmdHeartbeat = cmd::SimHeartbeat;
constexpr uint8_t SimCmdAckReply = cmd::SimAckReply;
constexpr uint8_t SimCmdParamRequest = cmd::SimParamRequest;
constexpr uint8_t SimCmdEnvironment = cmd::SimEnvironment;
constexpr uint8_t SimCmdFlightState = cmd::SimFlightState;

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
