#include "tools/check/RecordingCheck.h"

#include "common/FlightRuns.h"

#include "tools/replay/Recording.h"
#include "tools/replay/ReplayExport.h"

#include <memory>

namespace check {
namespace {

class Collector : public FlightSink {
public:
    Collector(const CheckSuite& suite, QVector<RecordedFlight>& flights) : mSuite(suite), mFlights(flights) { }

    void flightStarted(double time, const StateDatagram::State& state) override
    {
        mJudge = std::make_unique<FlightJudge>(mSuite);
        mStart = time;
        mJudge->add(time, state);
    }
    void flightState(double time, const StateDatagram::State& state) override { mJudge->add(time, state); }
    void flightEnded() override
    {
        RecordedFlight f;
        f.start = mStart;
        f.states = mJudge->states();
        f.duration = mJudge->duration();
        f.verdicts = mJudge->verdicts();
        mFlights.append(f);
        mJudge.reset();
    }

private:
    const CheckSuite& mSuite;
    QVector<RecordedFlight>& mFlights;
    std::unique_ptr<FlightJudge> mJudge;
    double mStart = 0;
};

} // namespace

bool judgeRecording(const QString& path, const CheckSuite& suite, RecordingJudgement& out, QString& error)
{
    replay::Recording recording;
    if (!recording.open(path, error))
        return false;
    out.skipped = recording.skippedText();
    Collector collector(suite, out.flights);
    FlightRuns runs(collector, suite.run.endAfterMotorsStop);
    for (int i = 0; i < recording.count(); ++i)
        if (const auto state = replay::recordedState(recording, i))
            runs.add(double(recording.timeMs(i)) / 1000.0, *state);
    runs.finish();
    return true;
}

int chooseFlight(const QVector<RecordedFlight>& flights, int run)
{
    if (run > 0)
        return run <= flights.size() ? run - 1 : -1;
    int best = -1;
    for (int i = 0; i < flights.size(); ++i)
        if (best < 0 || flights[i].duration > flights[best].duration)
            best = i;
    return best;
}

} // namespace check
