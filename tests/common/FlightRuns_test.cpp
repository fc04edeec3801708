// Where flights start and end in a stream of states.

#include "common/FlightRuns.h"

#include <QString>

#include <gtest/gtest.h>

#include <string>

using namespace flight;
using StateDatagram::State;

namespace {

State flyingState()
{
    State s;
    s.motorStarted = 1;
    s.simulatorCommand = 1;
    s.senderIp = "192.168.0.10";
    return s;
}

// "[0-2][5-9]": each flight as the times of its first and last state.
class Spans : public FlightSink {
public:
    void flightStarted(double time, const State&) override
    {
        first = last = time;
        open = true;
    }
    void flightState(double time, const State&) override { last = time; }
    void flightEnded() override
    {
        text += "[" + num(first) + "-" + num(last) + "]";
        open = false;
    }
    std::string text;
    bool open = false;

private:
    static std::string num(double t) { return QString::number(t, 'g', 6).toStdString(); }
    double first = 0, last = 0;
};

struct Step {
    double time;
    int run; // SimulatorCommand; -1: a zero-state datagram
    int motors;
};

std::string spansOf(const std::vector<Step>& steps, double endAfterMotorsStop = 3)
{
    Spans spans;
    FlightRuns runs(spans, endAfterMotorsStop);
    for (const Step& s : steps) {
        State state = s.run < 0 ? StateDatagram::zeroState(2, 5) : flyingState();
        if (s.run >= 0) {
            state.simulatorCommand = s.run;
            state.motorStarted = quint8(s.motors);
        }
        runs.add(s.time, state);
    }
    runs.finish();
    return spans.text;
}

TEST(FlightRuns, StartAndEndRules)
{
    const struct {
        const char* what;
        std::vector<Step> steps;
        double endAfter;
        const char* spans;
    } cases[] = {
        {"one run to the end of the stream", {{0, 1, 1}, {1, 1, 1}, {2, 1, 1}}, 3, "[0-2]"},
        {"another SimulatorCommand starts another flight",
         {{0, 1, 1}, {1, 1, 1}, {2, 11, 1}, {3, 11, 1}},
         3,
         "[0-1][2-3]"},
        {"2.4 s without a state is the same run", {{0, 1, 1}, {2.4, 1, 1}}, 3, "[0-2.4]"},
        {"2.6 s without a state ends it", {{0, 1, 1}, {2.6, 1, 1}}, 3, "[0-0][2.6-2.6]"},
        {"zero states end a flight and start none", {{0, 1, 1}, {1, 1, 1}, {2, -1, 0}, {2.3, -1, 0}}, 3, "[0-1]"},
        {"motors stopped 2.9 s: still flying", {{0, 1, 1}, {1, 1, 0}, {2, 1, 0}, {3.9, 1, 0}}, 3, "[0-3.9]"},
        {"motors stopped 3 s: the flight ends there",
         {{0, 1, 1}, {1, 1, 0}, {2, 1, 0}, {4, 1, 0}, {5, 1, 0}},
         3,
         "[0-4]"},
        {"motors that start again keep the flight",
         {{0, 1, 1}, {1, 1, 0}, {3, 1, 1}, {5, 1, 0}, {7, 1, 0}},
         3,
         "[0-7]"},
        {"0 turns the motor rule off", {{0, 1, 1}, {1, 1, 0}, {3, 1, 0}, {5, 1, 0}, {7, 1, 0}}, 0, "[0-7]"},
        {"motors never started: on the ground, not landed", {{0, 1, 0}, {2, 1, 0}, {4, 1, 0}}, 3, "[0-4]"},
        {"after a landing the run's states belong to no flight",
         {{0, 1, 1}, {1, 1, 0}, {2.5, 1, 0}, {4, 1, 0}, {5, 1, 1}, {6, 1, 0}, {8, 1, 0}, {9, 1, 0}},
         3,
         "[0-4]"},
        {"the next run after a landing is a flight",
         {{0, 1, 1}, {1, 1, 0}, {2.5, 1, 0}, {4, 1, 0}, {6, 21, 1}},
         3,
         "[0-4][6-6]"},
        {"a silence after a landing ends the run",
         {{0, 1, 1}, {1, 1, 0}, {2.5, 1, 0}, {4, 1, 0}, {8, 1, 1}},
         3,
         "[0-4][8-8]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.spans, spansOf(c.steps, c.endAfter)) << c.what;
}

TEST(FlightRuns, SilenceOnTheClockEndsALiveFlight)
{
    Spans spans;
    FlightRuns runs(spans, 3);
    runs.add(10, flyingState());
    runs.silence(12.4);
    EXPECT_TRUE(spans.open);
    runs.silence(12.6);
    EXPECT_FALSE(spans.open);
    EXPECT_EQ("[10-10]", spans.text);
    EXPECT_EQ(1, runs.flights());
}

} // namespace
