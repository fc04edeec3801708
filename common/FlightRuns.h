#pragma once

#include "common/StateDatagram.h"

// Where a flight starts and ends in a stream of states, live or recorded alike.
// A flight starts with the first state of a run and ends at the first of:
//  - the run's last state: the next one carries another SimulatorCommand, or
//    none comes for SilenceSeconds (a zero-state datagram ends it too);
//  - the motors stopped (MotorStarted 1 -> 0) and stayed stopped for
//    endAfterMotorsStop seconds (0: never), as a flight controller that keeps
//    streaming on the ground would otherwise never end a live flight.
// The states a run sends after its flight ended belong to no flight.
namespace flight {

constexpr double SilenceSeconds = 2.5;

class FlightSink {
public:
    virtual ~FlightSink() = default;
    virtual void flightStarted(double time, const StateDatagram::State& state) = 0;
    virtual void flightState(double time, const StateDatagram::State& state) = 0;
    virtual void flightEnded() = 0;
};

class FlightRuns {
public:
    FlightRuns(FlightSink& sink, double endAfterMotorsStop);

    // One received state, with the time it came (seconds, never decreasing).
    void add(double time, const StateDatagram::State& state);
    // Live only: the clock reached now without a state.
    void silence(double now);
    // The stream ended: a flight going on ends with its last state.
    void finish();

    bool flying() const { return mPhase == Phase::Flying; }
    int flights() const { return mFlights; }

private:
    enum class Phase { Idle, Flying, Landed };
    void endFlight();

    FlightSink& mSink;
    double mEndAfterMotorsStop;
    Phase mPhase = Phase::Idle;
    int mRun = 0;
    double mLast = 0;
    bool mMotorsRan = false;
    double mStoppedSince = -1;
    int mFlights = 0;
};

} // namespace flight
