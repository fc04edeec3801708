#include "tools/flight-emulator/FlightControllerSession.h"

#include "link/Commands.h"
#include "link/Messages.h"
#include "link/Package.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <limits>
#include <numeric>

namespace emu {

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

double degrees(double rad) { return rad * 180.0 / Pi; }

} // namespace

std::optional<ProductType> productFromName(const std::string& name)
{
    if (name == "tavik")
        return ProductTavik1;
    if (name == "nerio")
        return ProductNerio3;
    if (name == "vx7")
        return ProductVx7;
    return std::nullopt;
}

FlightControllerSession::FlightControllerSession(const SessionConfig& config, Output output)
    : mConfig(config),
      mOut(std::move(output))
{
}

FlightControllerSession::~FlightControllerSession() = default;

void FlightControllerSession::send(uint8_t cmdSet, uint8_t cmdId, const std::vector<uint8_t>& payload, bool droppable)
{
    mOut.frame(buildPackageFrom(makeAddress(kFlightControllerType, 0), cmdSet, cmdId, payload.data(), payload.size(),
                                addressType(kHostAddress), addressIndex(kHostAddress), mLastSeq),
               droppable);
}

void FlightControllerSession::sendLog(LogType type, const std::string& text)
{
    // Log type, the text as the controller prints it, and a terminating zero.
    const std::string line = text + "\r\n";
    std::vector<uint8_t> payload(line.size() + 2, 0);
    payload[0] = static_cast<uint8_t>(type);
    std::copy(line.begin(), line.end(), payload.begin() + 1);
    send(cmd::GeneralSet, cmd::DeviceLog, payload);
}

void FlightControllerSession::sendStateReply(uint8_t simState)
{
    send(cmd::SimulationSet, cmd::SimHeartbeat, sim_heartbeat_t::reply(simState).encode());
}

void FlightControllerSession::sendParameterRequest(double now)
{
    send(cmd::SimulationSet, cmd::SimParamRequest, ParamRequest{productByteOf(mConfig.product)}.encode());
    mParameterRetryAt = now + kParameterRetry;
}

void FlightControllerSession::onFrame(const PackageProperty_V1* frame, size_t length, double now)
{
    if (length < kPackageOverhead || frame->length() != length || frame->version() != 1)
        return;
    const unsigned receiver = frame->receiverType();
    if (receiver != kFlightControllerType && receiver != kBroadcastType)
        return;
    // Everything sent from here on carries the sequence number of the host's
    // latest command, which is what moves the host's counter on.
    mLastSeq = static_cast<uint16_t>(frame->seq());

    if (frame->cmdSet == cmd::GeneralSet && frame->cmdId == cmd::StatusQuery) {
        // Status 0: ready, the host may start its command writer.
        send(cmd::GeneralSet, cmd::StatusQuery, StatusReply{0}.encode());
    } else if (frame->cmdSet == cmd::SimulationSet) {
        onSimulationCommand(frame, now);
    }
}

void FlightControllerSession::onSimulationCommand(const PackageProperty_V1* frame, double now)
{
    const uint8_t* payload = frame->payload();
    const size_t length = frame->payloadLength();
    switch (frame->cmdId) {
    case cmd::SimHeartbeat: {
        if (length < sim_heartbeat_t::Size)
            return;
        const uint32_t value = sim_heartbeat_t::decode(payload, length).value();
        if (value == sim_heartbeat_t::StartRequest) {
            // A start while flying begins a new run from the ground.
            mFlight.reset();
            mStarted = true;
            mOut.event(format("start: product %s, mission %s", productTypeName(mConfig.product),
                              missionName(mConfig.mission)));
            sendStateReply(sim_heartbeat_t::Switching);
            sendParameterRequest(now);
        } else if (value == sim_heartbeat_t::Beat) {
            sendStateReply(mStarted ? sim_heartbeat_t::Running : sim_heartbeat_t::Unknown);
        }
        break;
    }
    case cmd::SimAckReply: break;
    case cmd::SimEnvironment: onEnvironment(payload, length, now); break;
    default: break;
    }
}

void FlightControllerSession::onEnvironment(const uint8_t* payload, size_t length, double now)
{
    if (StopPayload::decode(payload, length)) {
        stop();
        return;
    }
    if (length < 1 || payload[0] != EnvironmentPayload::Mode || !mStarted || mFlight)
        return;
    const std::optional<EnvironmentPayload> environment = EnvironmentPayload::decode(payload, length);
    if (!environment) {
        mOut.event(format("environment rejected: %zu bytes", length));
        return;
    }
    const double longitude = environment->longitude;
    const double latitude = environment->latitude;
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::abs(latitude) > Pi / 2 ||
        std::abs(longitude) > 2 * Pi) {
        mOut.event("environment rejected: start position out of range");
        return;
    }
    startFlight(latitude, longitude, now);
}

void FlightControllerSession::startFlight(double latitude, double longitude, double now)
{
    mFlight = std::make_unique<FlightSimulation>(mConfig.mission, mConfig.seed, mConfig.product == ProductTavik1);
    mFlight->setOrigin(latitude, longitude);
    mFlightStart = now;
    mNextRecord = now;
    mNextBattery = now;
    mOut.event(format("environment received: latitude %.6f, longitude %.6f", degrees(latitude), degrees(longitude)));
    sendLog(LogType::Gps,
            format("GPS: 3D fix, 14 sats, hdop 0.7, lat %.7f lon %.7f", degrees(latitude), degrees(longitude)));
    mReportedPhase = mFlight->phase();
    reportPhase(mReportedPhase);
}

void FlightControllerSession::stop()
{
    if (!mStarted && !mFlight)
        return;
    mStarted = false;
    mFlight.reset();
    mOut.event("stop");
    sendLog(LogType::System, "Simulation stopped, motors disarmed");
}

void FlightControllerSession::reset()
{
    mStarted = false;
    mFlight.reset();
    mLastSeq = 0;
}

void FlightControllerSession::reportPhase(MissionPhase phase)
{
    mOut.event("mission phase: " + std::string(phaseName(phase)));
    sendLog(LogType::System, "Mission " + std::string(missionName(mConfig.mission)) + ": " + phaseName(phase));
}

void FlightControllerSession::reportBattery()
{
    // A 4S pack: 16.8 V full, drained by the current the motors draw.
    const double flightTime = mFlight->time();
    const MotorThrusts& thrust = mFlight->model().motorThrusts();
    const double current = 0.4 + 1.2 * std::accumulate(thrust.begin(), thrust.end(), 0.0);
    const double charge = std::max(0.0, 100.0 - 0.12 * flightTime - 0.004 * current * flightTime);
    const double voltage = 14.0 + 2.8 * charge / 100.0 - 0.012 * current;
    sendLog(LogType::Battery,
            format("Battery: %.2fV %.1fA remaining %d%%", voltage, current, static_cast<int>(std::lround(charge))));
}

void FlightControllerSession::advance(double now)
{
    if (mStarted && !mFlight && now >= mParameterRetryAt)
        sendParameterRequest(now);
    if (!mFlight)
        return;

    mFlight->advanceTo(now - mFlightStart);
    if (mFlight->phase() != mReportedPhase) {
        mReportedPhase = mFlight->phase();
        reportPhase(mReportedPhase);
    }
    if (now >= mNextBattery) {
        reportBattery();
        mNextBattery = now + kBatteryReport;
    }
    if (now >= mNextRecord) {
        send(cmd::SimulationSet, cmd::SimFlightState, mFlight->record().encode(), true);
        const double period = 1.0 / mConfig.rateHz;
        mNextRecord += period;
        // After a stall, resume the rhythm instead of sending a burst of stale states.
        if (mNextRecord < now)
            mNextRecord = now + period;
    }
}

double FlightControllerSession::nextDue() const
{
    if (mFlight)
        return std::min(mNextRecord, mNextBattery);
    if (mStarted)
        return mParameterRetryAt;
    return std::numeric_limits<double>::infinity();
}

} // namespace emu
