#include <gtest/gtest.h>

#include "viewer/models/ArmTimeline.h"

namespace {

enum class S { Stopped, Flying, Lowering, Landed, Raising, Paused };

MotorFlags flagsOf(S s)
{
    MotorFlags f;
    f.flying = s == S::Flying;
    f.lowering = s == S::Lowering;
    f.landed = s == S::Landed;
    f.raising = s == S::Raising;
    f.paused = s == S::Paused;
    return f;
}

S stateOf(const MotorFlags& f)
{
    const int set = f.flying + f.lowering + f.landed + f.raising + f.paused;
    EXPECT_LE(set, 1) << "more than one state flag";
    return f.flying  ? S::Flying
        : f.lowering ? S::Lowering
        : f.landed   ? S::Landed
        : f.raising  ? S::Raising
        : f.paused   ? S::Paused
                     : S::Stopped;
}

// Share of the flight position the arms stand at for a time position (1 flight, 0 landing).
float armShare(float t)
{
    if (t <= 5.0f)
        return 1.0f - t / 5.0f;
    if (t <= 10.0f)
        return 0.0f;
    if (t <= 15.0f)
        return (t - 10.0f) / 5.0f;
    return 1.0f;
}

struct TriggerCase {
    const char* what;
    S from;
    float now, saved;
    std::optional<float> time; // nothing: the call changes nothing
    S to;
};

void expectCase(const TriggerCase& c, std::optional<float> (*op)(MotorFlags&, float, float))
{
    MotorFlags f = flagsOf(c.from);
    const std::optional<float> t = op(f, c.now, c.saved);
    ASSERT_EQ(t.has_value(), c.time.has_value()) << c.what;
    if (t) {
        EXPECT_FLOAT_EQ(*t, *c.time) << c.what;
    }
    EXPECT_EQ(stateOf(f), c.to) << c.what;
}

} // namespace

TEST(ArmTimeline, StartMotorsOnlyFromStoppedJumpsToTheFlightHold)
{
    MotorFlags f;
    EXPECT_EQ(armtimeline::startMotors(f), std::optional<float>(15.0f));
    EXPECT_EQ(stateOf(f), S::Flying);
    for (S s : {S::Flying, S::Lowering, S::Landed, S::Raising, S::Paused}) {
        MotorFlags g = flagsOf(s);
        EXPECT_FALSE(armtimeline::startMotors(g));
        EXPECT_EQ(stateOf(g), s);
    }
}

TEST(ArmTimeline, LowerArms)
{
    const TriggerCase cases[] = {
        {"from the flight hold", S::Flying, 17.3f, 0, 0.0f, S::Lowering},
        {"1 s into a raise reverses at the mirrored time", S::Raising, 11.0f, 0, 4.0f, S::Lowering},
        {"raise already past its end starts from the top", S::Raising, 15.2f, 0, 0.0f, S::Lowering},
        {"resumes a paused lowering where it stood", S::Paused, 0, 3.0f, 3.0f, S::Lowering},
        {"turns a paused raise round", S::Paused, 0, 12.0f, 3.0f, S::Lowering},
        {"stopped model ignores it", S::Stopped, 20.0f, 0, std::nullopt, S::Stopped},
        {"already lowering", S::Lowering, 2.0f, 0, std::nullopt, S::Lowering},
        {"already landed", S::Landed, 7.0f, 0, std::nullopt, S::Landed},
    };
    for (const TriggerCase& c : cases)
        expectCase(c, &armtimeline::lowerArms);
}

TEST(ArmTimeline, RaiseArms)
{
    const TriggerCase cases[] = {
        {"from the landing hold", S::Landed, 7.5f, 0, 10.0f, S::Raising},
        {"2 s into a lowering reverses at the mirrored time", S::Lowering, 2.0f, 0, 13.0f, S::Raising},
        {"turns a paused lowering round", S::Paused, 0, 3.0f, 12.0f, S::Raising},
        {"resumes a paused raise where it stood", S::Paused, 0, 12.0f, 12.0f, S::Raising},
        {"stopped model ignores it", S::Stopped, 20.0f, 0, std::nullopt, S::Stopped},
        {"flying ignores it", S::Flying, 16.0f, 0, std::nullopt, S::Flying},
        {"already raising", S::Raising, 12.0f, 0, std::nullopt, S::Raising},
    };
    for (const TriggerCase& c : cases)
        expectCase(c, &armtimeline::raiseArms);
}

TEST(ArmTimeline, ReversalKeepsTheArmsWhereTheyStand)
{
    for (float t : {0.0f, 0.7f, 2.0f, 3.9f, 5.0f}) {
        MotorFlags f = flagsOf(S::Lowering);
        const std::optional<float> back = armtimeline::raiseArms(f, t, 0);
        ASSERT_TRUE(back);
        EXPECT_NEAR(armShare(*back), armShare(t), 1e-5f) << "raise at lowering time " << t;
    }
    for (float t : {10.0f, 11.0f, 12.5f, 14.2f, 15.0f}) {
        MotorFlags f = flagsOf(S::Raising);
        const std::optional<float> back = armtimeline::lowerArms(f, t, 0);
        ASSERT_TRUE(back);
        EXPECT_NEAR(armShare(*back), armShare(t), 1e-5f) << "lower at raising time " << t;
    }
    // Through a pause as well.
    for (float t : {1.5f, 12.5f}) {
        MotorFlags f = flagsOf(t < 5 ? S::Lowering : S::Raising);
        float saved = -1;
        ASSERT_TRUE(armtimeline::pause(f, t, saved));
        MotorFlags g = f;
        EXPECT_NEAR(armShare(*armtimeline::lowerArms(f, 99.0f, saved)), armShare(t), 1e-5f);
        EXPECT_NEAR(armShare(*armtimeline::raiseArms(g, 99.0f, saved)), armShare(t), 1e-5f);
    }
}

TEST(ArmTimeline, FrameChecksEndTheSwingsAndHoldThePositions)
{
    struct Case {
        const char* what;
        std::optional<float> (*check)(MotorFlags&, float);
        S from;
        float now;
        std::optional<float> time;
        S to;
    } const cases[] = {
        {"lowering done", armtimeline::checkLowering, S::Lowering, 5.01f, 5.0f, S::Landed},
        {"lowering under way", armtimeline::checkLowering, S::Lowering, 4.9f, std::nullopt, S::Lowering},
        {"landing hold loops", armtimeline::checkLowering, S::Landed, 10.02f, 5.0f, S::Landed},
        {"landing hold", armtimeline::checkLowering, S::Landed, 8.0f, std::nullopt, S::Landed},
        {"landing hold wrapped by a long frame", armtimeline::checkLowering, S::Landed, 0.4f, 5.0f, S::Landed},
        {"paused lowering", armtimeline::checkLowering, S::Paused, 6.0f, std::nullopt, S::Paused},
        {"raising done", armtimeline::checkRaising, S::Raising, 15.01f, 15.0f, S::Flying},
        {"raising under way", armtimeline::checkRaising, S::Raising, 14.0f, std::nullopt, S::Raising},
        {"flight hold loops", armtimeline::checkRaising, S::Flying, 19.81f, 15.0f, S::Flying},
        {"flight hold", armtimeline::checkRaising, S::Flying, 19.7f, std::nullopt, S::Flying},
        {"flight hold wrapped by a long frame", armtimeline::checkRaising, S::Flying, 0.1f, 15.0f, S::Flying},
        {"paused raise", armtimeline::checkRaising, S::Paused, 16.0f, std::nullopt, S::Paused},
    };
    for (const Case& c : cases) {
        MotorFlags f = flagsOf(c.from);
        const std::optional<float> t = c.check(f, c.now);
        ASSERT_EQ(t.has_value(), c.time.has_value()) << c.what;
        if (t) {
            EXPECT_FLOAT_EQ(*t, *c.time) << c.what;
        }
        EXPECT_EQ(stateOf(f), c.to) << c.what;
    }
}

TEST(ArmTimeline, PauseOnlyDuringASwing)
{
    for (S s : {S::Lowering, S::Raising}) {
        MotorFlags f = flagsOf(s);
        float saved = 0;
        EXPECT_TRUE(armtimeline::pause(f, 3.25f, saved));
        EXPECT_FLOAT_EQ(saved, 3.25f);
        EXPECT_EQ(stateOf(f), S::Paused);
    }
    for (S s : {S::Stopped, S::Flying, S::Landed, S::Paused}) {
        MotorFlags f = flagsOf(s);
        float saved = 7.0f;
        EXPECT_FALSE(armtimeline::pause(f, 3.25f, saved));
        EXPECT_FLOAT_EQ(saved, 7.0f);
        EXPECT_EQ(stateOf(f), s);
    }
}
