#include "FlightControllerSession.h"

#include "link/Commands.h"
#include "link/Package.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <limits>
#include <numeric>

namespace emu {

namespace {

constexpr uint8_t kSetGeneral = cmd::GeneralSet;
constexpr uint8_t kSetSimulation = cmd::SimulationSet;
constexpr uint8_t kIdStatus = cmd::StatusQuery;
constexpr uint8_t kIdDeviceLog = cmd::DeviceLog;
constexpr uint8_t kIdSimState = cmd::SimHeartbeat;
constexpr uint8_t kIdSimAck = cmd::SimAckReply;
constexpr uint8_t kIdParameters = cmd::SimParamRequest;
constexpr uint8_t kIdEnvironment = cmd::SimEnvironment;
constexpr uint8_t kIdFlightState = cmd::SimFlightState;
constexpr uint32_t kStartRequest = 0x100;
constexpr uint8_t kEnvironmentMode = 0;
constexpr uint8_t kStopMode = 2;
constexpr size_t kEnvironmentMinLength = 20;  // mode .. start latitude

uint32_t readU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

double readDouble(const uint8_t* p) {
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

double degrees(double rad) { return rad * 180.0 / kPi; }

} // namespace

std::optional<Product> productFromName(const std::string& name) {
    if (name == "tavik") return Product::Tavik;
    if (name == "nerio") return Product::Nerio;
    if (name == "vx7") return Product::Vx7;
    return std::nullopt;
}

const char* productName(Product product) {
    switch (product) {
    case Product::Tavik: return "Tavik1";
    case Product::Nerio: return "Nerio3";
    case Product::Vx7: return "Vx7";
    }
    return "?";
}

FlightControllerSession::FlightControllerSession(const SessionConfig& config, Output output)
    : mConfig(config), mOut(std::move(output)) {}

FlightControllerSession::~FlightControllerSession() = default;

void FlightControllerSession::send(uint8_t cmdSet, uint8_t cmdId, const std::vector<uint8_t>& payload,
                                   bool droppable) {
    mOut.frame(buildPackageFrom(makeAddress(kFlightControllerType, 0), cmdSet, cmdId, payload.data(),
                                payload.size(), addressType(kHostAddress), addressIndex(kHostAddress), mLastSeq),
               droppable);
}

void FlightControllerSession::sendLog(LogType type, const std::string& text) {
    // Log type, the text as the controller prints it, and a terminating zero.
    const std::string line = text + "\r\n";
    std::vector<uint8_t> payload(line.size() + 2, 0);
    payload[0] = static_cast<uint8_t>(type);
    std::copy(line.begin(), line.end(), payload.begin() + 1);
    send(kSetGeneral, kIdDeviceLog, payload);
}

void FlightControllerSession::sendStateReply(SimState state) {
    send(kSetSimulation, kIdSimState, {0, static_cast<uint8_t>(state), 0, 0});
}

void FlightControllerSession::sendParameterRequest(double now) {
    send(kSetSimulation, kIdParameters, {static_cast<uint8_t>(mConfig.product)});
    mParameterRetryAt = now + kParameterRetry;
}

void FlightControllerSession::onFrame(const PackageProperty_V1* frame, size_t length, double now) {
    if (length < kPackageOverhead || frame->length() != length || frame->version() != 1) return;
    const unsigned receiver = frame->receiverType();
    if (receiver != kFlightControllerType && receiver != kBroadcastType) return;
    // Everything sent from here on carries the sequence number of the host's
    // latest command, which is what moves the host's counter on.
    mLastSeq = static_cast<uint16_t>(frame->seq());

    if (frame->cmdSet == kSetGeneral && frame->cmdId == kIdStatus) {
        // Status 0: ready, the host may start its command writer.
        send(kSetGeneral, kIdStatus, {0, 0, 0, 0, 0, 0});
    } else if (frame->cmdSet == kSetSimulation) {
        onSimulationCommand(frame, now);
    }
}

void FlightControllerSession::onSimulationCommand(const PackageProperty_V1* frame, double now) {
    const uint8_t* payload = frame->payload();
    const size_t length = frame->payloadLength();
    switch (frame->cmdId) {
    case kIdSimState:
        if (length < 4) return;
        if (readU32(payload) == kStartRequest) {
            // A start while flying begins a new run from the ground.
            mFlight.reset();
            mStarted = true;
            mOut.event(format("start: product %s, mission %s", productName(mConfig.product),
                              missionName(mConfig.mission)));
            sendStateReply(SimState::Switching);
            sendParameterRequest(now);
        } else if (readU32(payload) == 0) {
            sendStateReply(mStarted ? SimState::Running : SimState::Unknown);
        }
        break;
    case kIdSimAck:
        break;
    case kIdEnvironment:
        onEnvironment(payload, length, now);
        break;
    default:
        break;
    }
}

void FlightControllerSession::onEnvironment(const uint8_t* payload, size_t length, double now) {
    if (length < 1) return;
    if (payload[0] == kStopMode) {
        stop();
        return;
    }
    if (payload[0] != kEnvironmentMode || !mStarted || mFlight) return;
    if (length < kEnvironmentMinLength) {
        mOut.event(format("environment rejected: %zu bytes", length));
        return;
    }
    const double longitude = readDouble(payload + 4);
    const double latitude = readDouble(payload + 12);
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::abs(latitude) > kPi / 2 ||
        std::abs(longitude) > 2 * kPi) {
        mOut.event("environment rejected: start position out of range");
        return;
    }
    startFlight(latitude, longitude, now);
}

void FlightControllerSession::startFlight(double latitude, double longitude, double now) {
    mFlight = std::make_unique<FlightSimulation>(mConfig.mission, mConfig.seed, mConfig.product == Product::Tavik);
    mFlight->setOrigin(latitude, longitude);
    mFlightStart = now;
    mNextRecord = now;
    mNextBattery = now;
    mOut.event(format("environment received: latitude %.6f, longitude %.6f", degrees(latitude),
                      degrees(longitude)));
    sendLog(LogType::Gps, format("GPS: 3D fix, 14 sats, hdop 0.7, lat %.7f lon %.7f", degrees(latitude),
                                 degrees(longitude)));
    mReportedPhase = mFlight->phase();
    reportPhase(mReportedPhase);
}

void FlightControllerSession::stop() {
    if (!mStarted && !mFlight) return;
    mStarted = false;
    mFlight.reset();
    mOut.event("stop");
    sendLog(LogType::System, "Simulation stopped, motors disarmed");
}

void FlightControllerSession::reset() {
    mStarted = false;
    mFlight.reset();
    mLastSeq = 0;
}

void FlightControllerSession::reportPhase(MissionPhase phase) {
    mOut.event("mission phase: " + std::string(phaseName(phase)));
    sendLog(LogType::System, "Mission " + std::string(missionName(mConfig.mission)) + ": " + phaseName(phase));
}

void FlightControllerSession::reportBattery() {
    // A 4S pack: 16.8 V full, drained by the current the motors draw.
    const double flightTime = mFlight->time();
    const MotorThrusts& thrust = mFlight->model().motorThrusts();
    const double current = 0.4 + 1.2 * std::accumulate(thrust.begin(), thrust.end(), 0.0);
    const double charge = std::max(0.0, 100.0 - 0.12 * flightTime - 0.004 * current * flightTime);
    const double voltage = 14.0 + 2.8 * charge / 100.0 - 0.012 * current;
    sendLog(LogType::Battery, format("Battery: %.2fV %.1fA remaining %d%%", voltage, current,
                                     static_cast<int>(std::lround(charge))));
}

void FlightControllerSession::advance(double now) {
    if (mStarted && !mFlight && now >= mParameterRetryAt) sendParameterRequest(now);
    if (!mFlight) return;

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
        const auto record = mFlight->record().encode();
        send(kSetSimulation, kIdFlightState, std::vector<uint8_t>(record.begin(), record.end()), true);
        const double period = 1.0 / mConfig.rateHz;
        mNextRecord += period;
        // After a stall, resume the rhythm instead of sending a burst of stale states.
        if (mNextRecord < now) mNextRecord = now + period;
    }
}

double FlightControllerSession::nextDue() const {
    if (mFlight) return std::min(mNextRecord, mNextBattery);
    if (mStarted) return mParameterRetryAt;
    return std::numeric_limits<double>::infinity();
}

} // namespace emu
