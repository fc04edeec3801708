// The judge's semantics on one flight made in the test, each check once just
// inside and once just outside its limit.

#include "tools/check/FlightJudge.h"

#include "tests/tools/check/CheckTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace check;
using namespace check_test;

namespace {

constexpr double Deg = 3.141592653589793 / 180.0;

// 20 s at 50 states/s: climbs at 1 m/s to 10 m, holds there from 10 s; flies
// east at 1 m/s; horizontal velocity (3, 4); rolled 10 degrees, yawed 90.
State shaped(double t)
{
    State s = flyingState();
    s.worldZ = float(std::min(t, 10.0));
    s.velocityZ = t < 10 ? 1 : 0;
    s.worldX = float(t);
    s.velocityX = 3;
    s.velocityY = 4;
    s.roll = float(10 * Deg);
    s.yaw = float(90 * Deg);
    s.time = quint32(t * 1000);
    return s;
}

Verdict judgeOne(const std::string& toml, const std::vector<std::pair<double, State>>& states)
{
    const CheckSuite suite = suiteOf("name = \"t\"\n" + toml);
    FlightJudge judge(suite);
    for (const auto& [t, s] : states)
        judge.add(100 + t, s); // any time scale: the flight's first state is 0
    const QVector<Verdict> verdicts = judge.verdicts();
    EXPECT_EQ(1, verdicts.size()) << toml;
    return verdicts.value(0);
}

struct Case {
    const char* what;
    const char* toml;
    bool passes;
    double decidedAt; // < 0: not compared
};

TEST(FlightJudge, SemanticsOfEveryKindOfCheck)
{
    const auto states = flightOf(20, 50, shaped);
    const Case cases[] = {
        {"always, above the top", "[[check]]\nvalue='height'\nmax=10.01", true, 20},
        {"always, the top crosses", "[[check]]\nvalue='height'\nmax=9.99", false, 10},
        {"always, min at the ground", "[[check]]\nvalue='height'\nmin=-0.01", true, -1},
        {"always, min above the ground", "[[check]]\nvalue='height'\nmin=0.01", false, 0},
        {"eventually, the hold is long enough", "[[check]]\nvalue='height'\nmin=9.95\nmax=10.05\nfor=9.89", true,
         19.86},
        {"eventually, the hold is too short", "[[check]]\nvalue='height'\nmin=9.95\nmax=10.05\nfor=10.1", false, 20},
        {"eventually for 0, reached once", "[[check]]\nvalue='distance'\nmin=19.89\nfor=0", true, 19.9},
        {"eventually for 0, never reached", "[[check]]\nvalue='distance'\nmin=20.1\nfor=0", false, 20},
        {"window ends before the climb passes 5 m", "[[check]]\nvalue='height'\nmax=5.01\nto=5.005", true, 5.005},
        {"window ends after it", "[[check]]\nvalue='height'\nmax=5.01\nto=5.1", false, 5.02},
        {"window starts late enough", "[[check]]\nvalue='height'\nmin=9.99\nfrom=9.99", true, 20},
        {"window starts too early", "[[check]]\nvalue='height'\nmin=9.99\nfrom=9.89", false, 9.9},
        {"eventually in a window, long enough", "[[check]]\nvalue='height'\nmin=9.99\nfor=4.89\nfrom=11.99\nto=17.01",
         true, 16.9},
        {"eventually in a window, cut by its end", "[[check]]\nvalue='height'\nmin=9.99\nfor=5.1\nfrom=11.99\nto=17.01",
         false, 17.01},
        {"window after the flight", "[[check]]\nvalue='height'\nmax=100\nfrom=30", false, -1},
        {"at start, on the ground", "[[check]]\nvalue='height'\nmax=0.01\nat='start'", true, 0},
        {"at start, not above it", "[[check]]\nvalue='height'\nmin=0.01\nat='start'", false, 0},
        {"at end, at the top", "[[check]]\nvalue='height'\nmin=9.99\nat='end'", true, 20},
        {"at end, not above it", "[[check]]\nvalue='height'\nmin=10.01\nat='end'", false, 20},
        {"speed is horizontal", "[[check]]\nvalue='speed'\nmax=5.001", true, -1},
        {"speed above", "[[check]]\nvalue='speed'\nmax=4.999", false, 0},
        {"climb", "[[check]]\nvalue='climb'\nmin=-0.01\nmax=1.01", true, -1},
        {"climb above", "[[check]]\nvalue='climb'\nmax=0.99", false, 0},
        {"tilt in degrees", "[[check]]\nvalue='tilt'\nmin=9.99\nmax=10.01", true, -1},
        {"tilt above", "[[check]]\nvalue='tilt'\nmax=9.99", false, 0},
        {"roll in degrees", "[[check]]\nvalue='roll'\nmin=9.99\nmax=10.01", true, -1},
        {"yaw in degrees", "[[check]]\nvalue='yaw'\nmin=89.99\nmax=90.01", true, -1},
        {"yaw above", "[[check]]\nvalue='yaw'\nmax=89.99", false, 0},
        {"pitch", "[[check]]\nvalue='pitch'\nmin=-0.01\nmax=0.01", true, -1},
        {"distance from the first position", "[[check]]\nvalue='distance'\nmax=20.01", true, -1},
        {"distance above", "[[check]]\nvalue='distance'\nmax=19.99", false, 20},
        {"a key by its own name", "[[check]]\nvalue='VelocityY'\nmin=3.99\nmax=4.01", true, -1},
        {"an integer key", "[[check]]\nvalue='MotorStarted'\nmin=1", true, -1},
        {"an integer key outside", "[[check]]\nvalue='Time'\nmax=19990", false, 20},
    };
    for (const Case& c : cases) {
        const Verdict v = judgeOne(c.toml, states);
        EXPECT_EQ(c.passes, v.passed) << c.what << ": " << v.evidence.toStdString();
        if (c.decidedAt >= 0) {
            EXPECT_NEAR(c.decidedAt, v.time, 1e-6) << c.what << ": " << v.evidence.toStdString();
        }
    }
}

TEST(FlightJudge, RunLimitsAndProduct)
{
    const auto states = flightOf(20, 50, shaped); // 1001 states, 0.02 s apart
    const Case cases[] = {
        {"long enough", "[run]\nmin_duration=19.9", true, 20},    {"too short", "[run]\nmin_duration=20.1", false, 20},
        {"short enough", "[run]\nmax_duration=20.1", true, 20},   {"too long", "[run]\nmax_duration=19.9", false, 20},
        {"rate reached", "[run]\nmin_rate=49.9", true, -1},       {"rate missed", "[run]\nmin_rate=50.1", false, -1},
        {"gaps short enough", "[run]\nmax_gap=0.0201", true, -1}, {"gaps too long", "[run]\nmax_gap=0.0199", false, -1},
        {"the right product", "product='Nerio3'", true, 20},      {"another product", "product='Vx7'", false, 0},
    };
    for (const Case& c : cases) {
        const Verdict v = judgeOne(c.toml, states);
        EXPECT_EQ(c.passes, v.passed) << c.what << ": " << v.evidence.toStdString();
        if (c.decidedAt >= 0) {
            EXPECT_NEAR(c.decidedAt, v.time, 1e-6) << c.what;
        }
    }
}

TEST(FlightJudge, TheLongestGapAndTheFirstViolationAreTheEvidence)
{
    auto states = flightOf(10, 10, shaped);
    states.erase(states.begin() + 30, states.begin() + 35); // nothing from 3.0 to 3.4 s: a 0.6 s gap
    const Verdict gap = judgeOne("[run]\nmax_gap=0.5", states);
    EXPECT_FALSE(gap.passed);
    EXPECT_NEAR(3.5, gap.time, 1e-9);
    EXPECT_TRUE(gap.evidence.contains("0.600")) << gap.evidence.toStdString();

    const Verdict high = judgeOne("[[check]]\nvalue='height'\nmax=4.5", states);
    EXPECT_FALSE(high.passed);
    EXPECT_NEAR(4.6, high.time, 1e-6);
    EXPECT_TRUE(high.evidence.contains("4.6 above max 4.5")) << high.evidence.toStdString();
}

TEST(FlightJudge, ANonFiniteStateFailsAlwaysChecksWhoseWindowHoldsIt)
{
    auto states = flightOf(10, 10, shaped);
    states[50].second.finite = false; // at 5 s
    const Case cases[] = {
        {"always over the flight", "[[check]]\nvalue='height'\nmin=-1000\nmax=1000", false, 5},
        {"always, window before it", "[[check]]\nvalue='height'\nmax=1000\nto=4.95", true, -1},
        {"always, window after it", "[[check]]\nvalue='height'\nmax=1000\nfrom=5.05", true, -1},
        // The stretch breaks at 5 s: 0..4.9 and 5.1..10 are the longest.
        {"eventually across it", "[[check]]\nvalue='height'\nmax=1000\nfor=5", false, -1},
        {"eventually beside it", "[[check]]\nvalue='height'\nmax=1000\nfor=4.89", true, 4.9},
    };
    for (const Case& c : cases) {
        const Verdict v = judgeOne(c.toml, states);
        EXPECT_EQ(c.passes, v.passed) << c.what << ": " << v.evidence.toStdString();
        if (c.decidedAt >= 0) {
            EXPECT_NEAR(c.decidedAt, v.time, 1e-6) << c.what;
        }
    }
    states.back().second.finite = false;
    EXPECT_FALSE(judgeOne("[[check]]\nvalue='height'\nmax=1000\nat='end'", states).passed);
}

TEST(FlightJudge, AFlightWithoutStatesFailsEveryCheck)
{
    const CheckSuite suite = suiteOf("name='t'\nproduct='Nerio3'\n[run]\nmax_duration=100\n"
                                     "[[check]]\nvalue='height'\nmax=1\n[[check]]\nvalue='height'\nmax=1\nat='end'");
    const QVector<Verdict> verdicts = FlightJudge(suite).verdicts();
    ASSERT_EQ(4, verdicts.size());
    for (const Verdict& v : verdicts)
        EXPECT_FALSE(v.passed) << v.name.toStdString();
}

} // namespace
