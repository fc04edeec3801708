#include "common/FlightRuns.h"

#include "common/FlightValues.h"

namespace flight {

FlightRuns::FlightRuns(FlightSink& sink, double endAfterMotorsStop)
    : mSink(sink),
      mEndAfterMotorsStop(endAfterMotorsStop)
{
}

void FlightRuns::endFlight()
{
    if (mPhase == Phase::Flying)
        mSink.flightEnded();
}

void FlightRuns::add(double time, const StateDatagram::State& state)
{
    if (isZeroState(state)) {
        endFlight();
        mPhase = Phase::Idle;
        return;
    }
    if (mPhase != Phase::Idle && (state.simulatorCommand != mRun || time - mLast > SilenceSeconds)) {
        endFlight();
        mPhase = Phase::Idle;
    }
    mLast = time;
    if (mPhase == Phase::Landed)
        return;
    if (mPhase == Phase::Idle) {
        mPhase = Phase::Flying;
        mRun = state.simulatorCommand;
        mMotorsRan = false;
        mStoppedSince = -1;
        ++mFlights;
        mSink.flightStarted(time, state);
    } else {
        mSink.flightState(time, state);
    }
    if (state.motorStarted) {
        mMotorsRan = true;
        mStoppedSince = -1;
        return;
    }
    if (!mMotorsRan)
        return;
    if (mStoppedSince < 0)
        mStoppedSince = time;
    if (mEndAfterMotorsStop > 0 && time - mStoppedSince >= mEndAfterMotorsStop) {
        endFlight();
        mPhase = Phase::Landed;
    }
}

void FlightRuns::silence(double now)
{
    if (mPhase != Phase::Idle && now - mLast > SilenceSeconds) {
        endFlight();
        mPhase = Phase::Idle;
    }
}

void FlightRuns::finish()
{
    endFlight();
    mPhase = Phase::Idle;
}

} // namespace flight
