#include "tools/replay/ReplayPlayer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace replay;

namespace {

class Times : public TimeTable {
public:
    explicit Times(std::vector<qint64> t) : mTimes(std::move(t)) { }
    int count() const override { return int(mTimes.size()); }
    qint64 timeMs(int i) const override { return mTimes[size_t(i)]; }

private:
    std::vector<qint64> mTimes;
};

constexpr qint64 Ms = 1000; // clock units (µs) per ms

// Runs the player on a hand-moved clock in 1 ms ticks and notes when each state left.
struct SendLog {
    std::vector<std::pair<int, qint64>> sent; // index, clock ms
};

SendLog runUntil(ReplayPlayer& p, qint64& now, qint64 untilMs)
{
    SendLog r;
    while (now < untilMs * Ms) {
        for (int i : p.takeDue(now))
            r.sent.push_back({i, now / Ms});
        now += Ms;
    }
    return r;
}

TEST(ReplayPlayer, StatesLeaveAtTheirRecordedGapsDividedBySpeed)
{
    const Times t({0, 100, 150, 1000, 1000, 2000});
    const struct {
        double speed;
        std::vector<qint64> atMs;
    } cases[] = {
        {1, {0, 100, 150, 1000, 1000, 2000}},
        {4, {0, 25, 38, 250, 250, 500}}, // 37.5 rounds up: never early
        {0.25, {0, 400, 600, 4000, 4000, 8000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed);
        ReplayPlayer p(t);
        qint64 now = 0;
        p.setSpeed(c.speed, now);
        p.play(now);
        const SendLog r = runUntil(p, now, 9000);
        ASSERT_EQ(6u, r.sent.size());
        for (size_t i = 0; i < r.sent.size(); ++i) {
            EXPECT_EQ(int(i), r.sent[i].first);
            EXPECT_EQ(c.atMs[i], r.sent[i].second) << i;
        }
        EXPECT_FALSE(p.playing()); // the end pauses
        EXPECT_EQ(-1, p.nextDueUs());
    }
}

TEST(ReplayPlayer, ALateCallerGetsEveryMissedStateInOrder)
{
    const Times t({0, 10, 20, 30, 40});
    ReplayPlayer p(t);
    p.play(0);
    EXPECT_EQ((std::vector<int>{0}), p.takeDue(0));
    EXPECT_EQ(10 * Ms, p.nextDueUs());
    EXPECT_EQ((std::vector<int>{1, 2, 3}), p.takeDue(35 * Ms));
    EXPECT_EQ(40 * Ms, p.nextDueUs()); // still on the original schedule: no drift
}

TEST(ReplayPlayer, PauseKeepsThePlaceAndPlayGoesOnFromIt)
{
    const Times t({0, 100, 200, 300});
    ReplayPlayer p(t);
    qint64 now = 0;
    p.play(now);
    runUntil(p, now, 150); // 0 and 1 sent
    EXPECT_EQ(1, p.current());
    p.pause(now);
    EXPECT_EQ(150, p.positionMs(now));
    EXPECT_TRUE(p.takeDue(now + 10000 * Ms).empty());
    EXPECT_EQ(150, p.positionMs(now + 10000 * Ms));
    now = 5000 * Ms;
    p.play(now);
    EXPECT_EQ(5050 * Ms, p.nextDueUs()); // the 50 ms left to the next state
}

TEST(ReplayPlayer, SeekingSendsTheStateAtThatTimeAndPlaysOnFromThere)
{
    const Times t({0, 100, 200, 300, 400});
    ReplayPlayer p(t);
    qint64 now = 0;
    p.play(now);
    runUntil(p, now, 50);
    EXPECT_EQ(2, p.seek(250, now)); // the state shown at 250 ms is the one of 200 ms
    EXPECT_TRUE(p.playing());
    EXPECT_EQ(250, p.positionMs(now));
    EXPECT_EQ(now + 50 * Ms, p.nextDueUs()); // 300 ms is 50 ms after 250 ms
    EXPECT_EQ(0, p.seek(-100, now));
    EXPECT_EQ(4, p.seek(1000000, now));
    // Past the last state, playing stops.
    p.takeDue(now);
    EXPECT_FALSE(p.playing());
    EXPECT_EQ(400, p.positionMs(now));
    // Play again starts over.
    p.play(now);
    EXPECT_EQ((std::vector<int>{0}), p.takeDue(now));
}

TEST(ReplayPlayer, StepsPauseAndStopAtTheEnds)
{
    const Times t({0, 100, 200});
    ReplayPlayer p(t);
    EXPECT_EQ(0, p.step(1, 0)); // the first step shows the first state
    EXPECT_EQ(1, p.step(1, 0));
    EXPECT_EQ(2, p.step(1, 0));
    EXPECT_EQ(2, p.step(1, 0));
    EXPECT_EQ(1, p.step(-1, 0));
    EXPECT_EQ(0, p.step(-5, 0));
    p.play(0);
    EXPECT_EQ(1, p.step(1, 0));
    EXPECT_FALSE(p.playing());
    EXPECT_EQ(100, p.positionMs(0));
}

TEST(ReplayPlayer, SpeedChangesTakeEffectFromNowWithoutAJump)
{
    const Times t({0, 1000, 2000});
    ReplayPlayer p(t);
    qint64 now = 0;
    p.play(now);
    runUntil(p, now, 500);
    EXPECT_EQ(500, p.positionMs(now));
    p.setSpeed(2, now);
    EXPECT_EQ(500, p.positionMs(now));
    EXPECT_EQ(now + 250 * Ms, p.nextDueUs()); // 500 ms of recording at 2×
    const SendLog r = runUntil(p, now, 2000);
    ASSERT_EQ(2u, r.sent.size());
    EXPECT_EQ(750, r.sent[0].second);
    EXPECT_EQ(1250, r.sent[1].second);
    // Out of range and non-finite speeds.
    p.setSpeed(1e9, now);
    EXPECT_EQ(ReplayPlayer::MaxSpeed, p.speed());
    p.setSpeed(std::numeric_limits<double>::quiet_NaN(), now);
    EXPECT_EQ(ReplayPlayer::MaxSpeed, p.speed());
    p.setSpeed(0, now);
    EXPECT_EQ(ReplayPlayer::MinSpeed, p.speed());
}

TEST(ReplayPlayer, ARangePlaysOnlyItsStatesAndLoopsBackToItsStart)
{
    const Times t({0, 100, 200, 300, 400, 500});
    ReplayPlayer p(t);
    p.setRange(150, 400);
    EXPECT_EQ(2, p.first());
    EXPECT_EQ(4, p.last());
    p.setLoop(true);
    qint64 now = 0;
    p.play(now);
    const SendLog r = runUntil(p, now, 700);
    std::vector<int> order;
    for (const auto& s : r.sent)
        order.push_back(s.first);
    // 200, 300, 400, then after the mean gap (100 ms) again 200, ...
    ASSERT_GE(order.size(), 7u);
    EXPECT_EQ((std::vector<int>{2, 3, 4, 2, 3, 4, 2}), std::vector<int>(order.begin(), order.begin() + 7));
    EXPECT_EQ(300, r.sent[3].second);
    EXPECT_TRUE(p.playing());
}

TEST(ReplayPlayer, LoopingARangeWithoutDurationDoesNotSpin)
{
    const Times t({0, 0, 0});
    ReplayPlayer p(t);
    p.setLoop(true);
    qint64 now = 0;
    p.play(now);
    const SendLog r = runUntil(p, now, 1000);
    EXPECT_LE(r.sent.size(), 3u * 11); // a pass every 100 ms at most
    EXPECT_GE(r.sent.size(), 3u * 5);
    // However late the caller, one call sends at most one pass.
    EXPECT_LE(p.takeDue(1000000 * Ms).size(), 3u);
}

TEST(ReplayPlayer, AnEmptyTableDoesNothing)
{
    const Times t({});
    ReplayPlayer p(t);
    p.play(0);
    EXPECT_FALSE(p.playing());
    EXPECT_EQ(-1, p.seek(10, 0));
    EXPECT_EQ(-1, p.step(1, 0));
    EXPECT_TRUE(p.takeDue(100).empty());
    EXPECT_EQ(0, p.positionMs(0));
}

} // namespace
