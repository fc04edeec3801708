#include "viewer/view/FramePacer.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 ms(double v) { return qint64(v * 1e6); }

TEST(FramePacer, TicksDrawOnlyWhenRequestedOrChanging)
{
    FramePacer pacer;
    EXPECT_TRUE(pacer.tick(ms(0), false)) << "the first tick draws";
    pacer.beginFrame(ms(0));

    struct Step {
        const char* name;
        bool request, changing, draws;
    };
    const Step steps[] = {
        {"nothing changed", false, false, false},         {"still nothing", false, false, false},
        {"the scene moves", false, true, true},           {"an event asked for a frame", true, false, true},
        {"the request was used up", false, false, false},
    };
    qint64 now = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        now += ms(20);
        if (s.request)
            pacer.request();
        const bool draws = pacer.tick(now, s.changing);
        EXPECT_EQ(draws, s.draws);
        if (draws)
            pacer.beginFrame(now);
    }
    EXPECT_EQ(pacer.framesDrawn(), 3);
    EXPECT_EQ(pacer.ticksSkipped(), 3);
    EXPECT_EQ(pacer.idleTicks(), 1);
}

TEST(FramePacer, ARequestMadeDuringAFrameDrawsTheNextOne)
{
    FramePacer pacer;
    pacer.beginFrame(ms(0));
    pacer.request(); // the frame found that its lines change again
    EXPECT_TRUE(pacer.tick(ms(20), false));
    pacer.beginFrame(ms(20));
    EXPECT_FALSE(pacer.tick(ms(40), false));
}

TEST(FramePacer, AnimationsAdvanceByRealTimeButNotByIdleTicks)
{
    FramePacer pacer;
    EXPECT_EQ(pacer.beginFrame(ms(100)), 0.0) << "the first frame has no predecessor";
    EXPECT_DOUBLE_EQ(pacer.beginFrame(ms(120)), 0.020);
    // A late tick (a loaded machine) still moves the animations by the real time.
    EXPECT_DOUBLE_EQ(pacer.beginFrame(ms(175)), 0.055);

    // Idle ticks: nothing moved, so anything moving now started after the last of them.
    for (double t : {195.0, 215.0, 235.0})
        EXPECT_FALSE(pacer.tick(ms(t), false));
    EXPECT_DOUBLE_EQ(pacer.beginFrame(ms(250)), 0.015);
    EXPECT_DOUBLE_EQ(pacer.beginFrame(ms(270)), 0.020) << "back to frame-to-frame time";

    // An expose between ticks counts the same way; a clock that did not move gives 0.
    EXPECT_FALSE(pacer.tick(ms(290), false));
    EXPECT_DOUBLE_EQ(pacer.beginFrame(ms(293)), 0.003);
    EXPECT_EQ(pacer.beginFrame(ms(293)), 0.0);
}

} // namespace
