#pragma once
// The flight controller's side of the simulation exchange: answers the host's
// status query, start request and heartbeats, asks for the environment, then
// flies the mission and streams flight states until the stop command.
// Pure logic: frames in, frames out, time passed in by the caller.

#include "tools/flight-emulator/FlightSimulation.h"

#include "common/ProductType.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct PackageProperty_V1;

namespace emu {

// The product of the command line: "tavik", "nerio" or "vx7".
std::optional<ProductType> productFromName(const std::string& name);

// Device log types the emulator writes.
enum class LogType : uint8_t { System = 1, Gps = 2, Battery = 3 };

struct SessionConfig {
    MissionKind mission = MissionKind::Square;
    ProductType product = ProductTavik1;
    uint64_t seed = 1;
    int rateHz = 50;
};

class FlightControllerSession {
public:
    struct Output {
        // One whole frame; `droppable` marks flight states a congested link may skip.
        std::function<void(std::vector<uint8_t> frame, bool droppable)> frame;
        // One line for the operator.
        std::function<void(const std::string& line)> event;
    };

    static constexpr double kParameterRetry = 1.0; // s without an environment before asking again
    static constexpr double kBatteryReport = 10.0; // s between battery log lines in flight

    FlightControllerSession(const SessionConfig& config, Output output);
    ~FlightControllerSession();

    // A frame from the host whose checksums have been verified.
    void onFrame(const PackageProperty_V1* frame, size_t length, double now);
    // Runs the flight up to `now` (seconds, any monotonic clock) and sends what is due.
    void advance(double now);
    // When advance() next has something to do; infinity when idle.
    double nextDue() const;
    // The host went away: forget the run and the sequence numbers.
    void reset();

    bool running() const { return mStarted; }
    bool flying() const { return mFlight != nullptr; }
    const FlightSimulation* flight() const { return mFlight.get(); }

private:
    void send(uint8_t cmdSet, uint8_t cmdId, const std::vector<uint8_t>& payload, bool droppable = false);
    void sendLog(LogType type, const std::string& text);
    void sendStateReply(uint8_t simState);
    void sendParameterRequest(double now);
    void onSimulationCommand(const PackageProperty_V1* frame, double now);
    void onEnvironment(const uint8_t* payload, size_t length, double now);
    void startFlight(double latitude, double longitude, double now);
    void stop();
    void reportPhase(MissionPhase phase);
    void reportBattery();

    SessionConfig mConfig;
    Output mOut;
    uint16_t mLastSeq = 0;
    bool mStarted = false;
    double mParameterRetryAt = 0.0;
    std::unique_ptr<FlightSimulation> mFlight;
    double mFlightStart = 0.0;
    double mNextRecord = 0.0;
    double mNextBattery = 0.0;
    MissionPhase mReportedPhase = MissionPhase::Armed;
};

} // namespace emu
