#include "link/Messages.h"

#include <QtEndian>

#include <algorithm>

namespace {

template <typename T> void put(std::vector<uint8_t>& bytes, size_t offset, T value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

template <typename T> T get(const uint8_t* payload, size_t offset) { return qFromLittleEndian<T>(payload + offset); }

constexpr size_t FlightStateFloats = 2; // offset of the first float
constexpr size_t TransformOffset = 54; // after the unused float at 50

} // namespace

std::vector<uint8_t> StatusReply::encode() const
{
    std::vector<uint8_t> bytes(Size, 0);
    put(bytes, 2, status);
    return bytes;
}

std::optional<StatusReply> StatusReply::decode(const uint8_t* payload, size_t length)
{
    if (length < Size)
        return std::nullopt;
    return StatusReply{get<uint32_t>(payload, 2)};
}

sim_heartbeat_t sim_heartbeat_t::withValue(uint32_t value)
{
    sim_heartbeat_t h;
    qToLittleEndian(value, h.bytes);
    return h;
}

sim_heartbeat_t sim_heartbeat_t::reply(uint8_t simState)
{
    sim_heartbeat_t h;
    h.bytes[1] = simState;
    return h;
}

uint32_t sim_heartbeat_t::value() const { return qFromLittleEndian<uint32_t>(bytes); }

std::vector<uint8_t> sim_heartbeat_t::encode() const { return std::vector<uint8_t>(bytes, bytes + Size); }

sim_heartbeat_t sim_heartbeat_t::decode(const uint8_t* payload, size_t length)
{
    sim_heartbeat_t h;
    std::copy(payload, payload + std::min(length, Size), h.bytes);
    return h;
}

std::vector<uint8_t> SimAck::encode() const { return {Value}; }

bool SimAck::decode(const uint8_t* payload, size_t length) { return length >= 1 && payload[0] == Value; }

std::vector<uint8_t> ParamRequest::encode() const { return {productByte}; }

ParamRequest ParamRequest::decode(const uint8_t* payload, size_t length)
{
    return ParamRequest{length > 0 ? payload[0] : uint8_t(0)};
}

std::vector<uint8_t> EnvironmentPayload::encode() const
{
    std::vector<uint8_t> bytes(Size, 0);
    put<uint8_t>(bytes, 0, Mode);
    put<uint8_t>(bytes, 1, 1);
    put<uint16_t>(bytes, 2, 2580);
    put<double>(bytes, 4, longitude);
    put<double>(bytes, 12, latitude);
    put<double>(bytes, 20, 0.1);
    put<uint8_t>(bytes, 28, 255);
    put<uint8_t>(bytes, 29, 7);
    put<uint8_t>(bytes, 30, 0);
    put<uint8_t>(bytes, 31, 0x0E);
    return bytes;
}

std::optional<EnvironmentPayload> EnvironmentPayload::decode(const uint8_t* payload, size_t length)
{
    if (length < MinSize || payload[0] != Mode)
        return std::nullopt;
    EnvironmentPayload e;
    e.longitude = get<double>(payload, 4);
    e.latitude = get<double>(payload, 12);
    return e;
}

std::vector<uint8_t> StopPayload::encode() const
{
    std::vector<uint8_t> bytes(Size, 0);
    bytes[0] = Mode;
    return bytes;
}

bool StopPayload::decode(const uint8_t* payload, size_t length) { return length >= 1 && payload[0] == Mode; }

std::vector<uint8_t> FlightStateRecord::encode() const
{
    std::vector<uint8_t> bytes(Size, 0);
    bytes[1] = flags;
    const float fields[] = {roll, pitch, yaw, x, y, z, latitude, longitude, vx, vy, vz, time};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        put(bytes, FlightStateFloats + 4 * i, fields[i]);
    put(bytes, TransformOffset, transformState);
    return bytes;
}

std::optional<FlightStateRecord> FlightStateRecord::decode(const uint8_t* payload, size_t length)
{
    if (length < Size)
        return std::nullopt;
    FlightStateRecord r;
    r.flags = payload[1];
    float* fields[] = {&r.roll,     &r.pitch,     &r.yaw, &r.x,  &r.y,  &r.z,
                       &r.latitude, &r.longitude, &r.vx,  &r.vy, &r.vz, &r.time};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        *fields[i] = get<float>(payload, FlightStateFloats + 4 * i);
    r.transformState = get<float>(payload, TransformOffset);
    return r;
}
