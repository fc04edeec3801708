#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Payloads of the commands in Commands.h, little-endian. Each has encode(),
// the payload bytes, and decode(), which reads them back; the host, the
// flight-controller emulator and the tests all go through these.

// Device status reply (GeneralSet, StatusQuery; aircraft to host): 32-bit
// status at offset 2; bit 0 set stops the host's command writer, clear starts it.
struct StatusReply {
    static constexpr size_t Size = 6;

    uint32_t status = 0;

    std::vector<uint8_t> encode() const;
    // Nothing from a payload too short to hold the status.
    static std::optional<StatusReply> decode(const uint8_t* payload, size_t length);
};

// SimHeartbeat in both directions, four bytes. The host sends the 32-bit value
// StartRequest to start a run and Beat while it runs; the aircraft answers with
// its simulation state in byte 1.
struct sim_heartbeat_t {
    static constexpr size_t Size = 4;
    static constexpr uint32_t Beat = 0;
    static constexpr uint32_t StartRequest = 0x100;
    // Simulation states of the aircraft's reply.
    static constexpr uint8_t Switching = 0;
    static constexpr uint8_t Running = 1;
    static constexpr uint8_t Unknown = 2;

    uint8_t bytes[Size] = {0, 0, 0, 0};

    static sim_heartbeat_t startRequest() { return withValue(StartRequest); }
    static sim_heartbeat_t beat() { return withValue(Beat); }
    static sim_heartbeat_t reply(uint8_t simState);
    uint32_t value() const;
    uint8_t simState() const { return bytes[1]; }

    std::vector<uint8_t> encode() const;
    // Bytes missing from a short payload read as zero.
    static sim_heartbeat_t decode(const uint8_t* payload, size_t length);

private:
    static sim_heartbeat_t withValue(uint32_t value);
};

// SimAckReply (host to aircraft): one byte 1, sent once per run.
struct SimAck {
    static constexpr uint8_t Value = 1;

    std::vector<uint8_t> encode() const;
    static bool decode(const uint8_t* payload, size_t length);
};

// SimParamRequest (aircraft to host): the product byte, see productTypeFromByte.
struct ParamRequest {
    uint8_t productByte = 0;

    std::vector<uint8_t> encode() const;
    // An empty request reads as product byte 0.
    static ParamRequest decode(const uint8_t* payload, size_t length);
};

// SimEnvironment in mode 0 (host to aircraft): the start position, 40 bytes.
struct EnvironmentPayload {
    static constexpr size_t Size = 40;
    // Mode up to the start latitude: all a reader needs.
    static constexpr size_t MinSize = 20;
    static constexpr uint8_t Mode = 0;

    double longitude = 0; // radians
    double latitude = 0; // radians

    std::vector<uint8_t> encode() const;
    // Nothing unless the payload is in mode 0 and holds the start position.
    static std::optional<EnvironmentPayload> decode(const uint8_t* payload, size_t length);
};

// SimEnvironment in mode 2 (host to aircraft): the stop command, 40 bytes.
struct StopPayload {
    static constexpr size_t Size = EnvironmentPayload::Size;
    static constexpr uint8_t Mode = 2;

    std::vector<uint8_t> encode() const;
    // True for a stop, whatever follows the mode byte.
    static bool decode(const uint8_t* payload, size_t length);
};

// SimFlightState (aircraft to host): 58 bytes, floats from offset 2 with
// offset 50 unused. Values as the aircraft reports them; the host converts.
struct FlightStateRecord {
    static constexpr size_t Size = 58;

    uint8_t flags = 0; // bit 0: motors started; bits 1-7: flying state
    float roll = 0, pitch = 0, yaw = 0; // rad
    float x = 0, y = 0, z = 0; // NED, m
    float latitude = 0, longitude = 0; // rad
    float vx = 0, vy = 0, vz = 0; // NED, m/s
    float time = 0; // ms
    float transformState = 0;

    std::vector<uint8_t> encode() const;
    // Nothing from a record that is too short; extra bytes are ignored.
    static std::optional<FlightStateRecord> decode(const uint8_t* payload, size_t length);
};

// Flying state carried in bits 1-7 of the record's flags.
enum class FlyingState : uint8_t { OnGround = 0, TakingOff = 1, InFlight = 2, Landing = 3 };
