#pragma once

#include <cstdint>

// Command sets and ids on the aircraft link. The host, the link library and the
// flight-controller emulator all speak them, so they are written here once.
namespace cmd {

constexpr uint8_t GeneralSet = 0x00;
constexpr uint8_t DeviceVersion = 1; // device-information reply
constexpr uint8_t StatusQuery = 12; // device status query and its reply
constexpr uint8_t HardwareId = 13; // hardware-id reply
constexpr uint8_t DeviceLog = 14; // text log pushed by the aircraft

constexpr uint8_t TableSet = 0x03;
constexpr uint8_t SdCardReply = 0x39;
constexpr uint8_t TableDataFirst = 0xF1; // table data, ids F1 to F4
constexpr uint8_t TableDataLast = 0xF4;

constexpr uint8_t SimulationSet = 0x0B;
constexpr uint8_t SimHeartbeat = 1; // start request and heartbeat; the aircraft's state reply
constexpr uint8_t SimAckReply = 2; // sent once on the first state reply after a start
constexpr uint8_t SimParamRequest = 3;
constexpr uint8_t SimEnvironment = 4; // environment (mode 0) and stop (mode 2)
constexpr uint8_t SimFlightState = 6;

} // namespace cmd
