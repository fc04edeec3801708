#include "viewer/app/FlightSnapshot.h"
#include "tests/viewer/DatagramKeys.h"
#include "common/StateDatagram.h"

#include <gtest/gtest.h>

namespace {
StateDatagram::State parse(const char* text)
{
    const std::optional<StateDatagram::State> state = StateDatagram::decode(text);
    EXPECT_TRUE(state) << text;
    return state.value_or(StateDatagram::State());
}

// The host's own datagram for a Nerio3 in flight.
const char* kHostState =
    R"({"Roll":0.5,"Pitch":-0.25,"Yaw":1.5,"WorldX":1,"WorldY":2,"WorldZ":3,"WorldLatitude":28.6479,)"
    R"("WorldLongitude":114.592,"VelocityX":0.5,"VelocityY":0,"VelocityZ":-0.25,"Time":1200,"TransformState":0,)"
    R"("MotorStarted":1,"FlyingState":1,"ProductType":2,"SenderIP":"192.168.0.10","SimulatorCommand":1})";

} // namespace

TEST(Snapshot, HostDatagramFillsEveryField)
{
    const StateDatagram::State m = parse(kHostState);
    const FlightSnapshot s = readSnapshot(m);
    EXPECT_FLOAT_EQ(s.Roll, 0.5f);
    EXPECT_FLOAT_EQ(s.Pitch, -0.25f);
    EXPECT_FLOAT_EQ(s.WorldZ, 3.0f);
    EXPECT_FLOAT_EQ(s.WorldLatitude, 28.6479f);
    EXPECT_FLOAT_EQ(s.VelocityZ, -0.25f);
    EXPECT_EQ(s.Time, 1200);
    EXPECT_EQ(s.MotorStarted, 1);
    EXPECT_EQ(s.ProductType, 2);
    EXPECT_EQ(s.SimulatorCommand, 1);

    const ViewState v = toViewState(s);
    EXPECT_DOUBLE_EQ(v.y, 2.0);
    EXPECT_FLOAT_EQ(v.yaw, 1.5f);
    EXPECT_EQ(v.productType, 2);

    QMap<QString, QString> values;
    QStringList order;
    buildParamValues(m.keys, s, values, order);
    EXPECT_EQ(order,
              (QStringList{"Roll", "Pitch", "Yaw", "WorldX", "WorldY", "WorldZ", "Latitude", "Longitude", "VelocityX",
                           "VelocityY", "VelocityZ"}));
    EXPECT_EQ(values["Pitch"], "-0.2500");
    EXPECT_EQ(values["Latitude"], "28.6479");
}

TEST(Snapshot, AbsentOrNullKeysStoreZeroAndAreNotDisplayed)
{
    // Start from a filled snapshot so that a missing reset would show.
    const StateDatagram::State m = parse(R"({"Roll":null,"Rpm3":1500,"AccZ":-9.81,"TransformState":258,"Time":1e3})");
    const FlightSnapshot s = readSnapshot(m);
    EXPECT_EQ(s.Roll, 0.0f);
    EXPECT_EQ(s.Yaw, 0.0f);
    EXPECT_FLOAT_EQ(s.Rpm3, 1500.0f);
    EXPECT_EQ(s.TransformState, 2) << "low 8 bits of 258";
    EXPECT_EQ(s.Time, 1000) << "a number in exponent form still counts";

    QMap<QString, QString> values{{"stale", "x"}};
    QStringList order{"stale"};
    buildParamValues(m.keys, s, values, order);
    EXPECT_EQ(order, (QStringList{"AccZ", "RPM3"}));
    EXPECT_EQ(values.size(), 2);
    EXPECT_EQ(values["RPM3"], "1500.0000");

    buildParamValues(parse("{}").keys, readSnapshot(parse("{}")), values, order);
    EXPECT_TRUE(values.isEmpty());
    EXPECT_TRUE(order.isEmpty());
}

TEST(Snapshot, EveryNumberMustBeFiniteAndFitAFloat)
{
    const char* bad[] = {"1e400", "-1e400", "\"NaN\"", "\"nan\"", "\"inf\"", "\"-inf\""};
    for (const char* key : kNumericKeys) {
        for (const char* value : bad) {
            const QByteArray text = QByteArray("{\"Roll\":0.5,\"") + key + "\":" + value + "}";
            EXPECT_FALSE(parse(text.constData()).finite) << text.constData();
        }
    }
    // Reals must also fit the float they are stored in.
    EXPECT_FALSE(parse(R"({"Yaw":1.0e39})").finite);
    EXPECT_FALSE(parse(R"({"Rpm8":-1e39})").finite);

    const char* good[] = {"{}", R"({"WorldX":1e+38,"Time":1.0e30})", R"({"Roll":null,"Pitch":"abc","Yaw":[1]})",
                          kHostState};
    for (const char* text : good)
        EXPECT_TRUE(parse(text).finite) << text;
}

TEST(Snapshot, LocalAddressesEndWithLoopback)
{
    const QStringList addresses = localIPv4Addresses();
    ASSERT_FALSE(addresses.isEmpty());
    EXPECT_EQ(addresses.last(), "127.0.0.1");
    EXPECT_EQ(addresses.count("127.0.0.1"), 1);
}

TEST(DatagramFilter, LocalOnlyDropsForeignAndMissingSenders)
{
    struct Case {
        const char* datagram;
        bool localOnly;
        bool accepted;
    };
    const Case cases[] = {
        {R"({"SenderIP":"127.0.0.1"})", true, true},
        {R"({"SenderIP":"10.9.8.7"})", true, false},
        {R"({"Roll":0})", true, false}, // the host's zero-state datagrams carry no sender
        {R"({"SenderIP":"10.9.8.7"})", false, true},
        {"{}", false, true},
    };
    for (const Case& c : cases) {
        DatagramFilter filter({"192.168.0.10", "127.0.0.1"});
        EXPECT_EQ(filter.accept(parse(c.datagram), c.localOnly), c.accepted) << c.datagram;
    }
}

TEST(DatagramFilter, PlaybackTurnsOffOnlyAfterTwentyMisses)
{
    DatagramFilter filter({"127.0.0.1"});
    filter.accept(parse(R"({"PlayBackEnabled":1})"), false);
    EXPECT_TRUE(filter.playbackEnabled());
    for (int i = 0; i < 19; ++i)
        filter.accept(parse(R"({"PlayBackEnabled":2})"), false);
    EXPECT_TRUE(filter.playbackEnabled()) << "value 2 is a miss, but only the 19th";
    filter.accept(parse(R"({"SenderIP":"10.0.0.1"})"), true); // a dropped datagram counts too
    EXPECT_FALSE(filter.playbackEnabled());

    filter.accept(parse(R"({"PlayBackEnabled":1})"), false);
    for (int i = 0; i < 19; ++i)
        filter.accept(parse("{}"), false);
    filter.accept(parse(R"({"PlayBackEnabled":1})"), false);
    for (int i = 0; i < 19; ++i)
        filter.accept(parse("{}"), false);
    EXPECT_TRUE(filter.playbackEnabled()) << "a replayed state resets the miss count";
}

TEST(StateTriggers, ArmsMoveOnlyOnTheirTransitions)
{
    using Arms = StateTriggers::Arms;
    struct Case {
        std::vector<int> states;
        Arms last;
    };
    const Case cases[] = {
        {{3, 2}, Arms::Raise}, {{2, 3}, Arms::None},    {{1, 4}, Arms::Lower},          {{3, 3}, Arms::None},
        {{2}, Arms::None},     {{3, 2, 2}, Arms::None}, {{3, 258 & 0xff}, Arms::Raise},
    };
    for (const Case& c : cases) {
        StateTriggers t;
        Arms arms = Arms::None;
        int raises = 0;
        for (int s : c.states) {
            arms = t.transform(uint8_t(s));
            raises += arms == Arms::Raise;
        }
        EXPECT_EQ(arms, c.last);
        EXPECT_LE(raises, 1);
    }
}

TEST(StateTriggers, FirstCommandAlwaysResetsThenOnlyChanges)
{
    StateTriggers t;
    EXPECT_TRUE(t.simulatorCommandChanged(0)) << "the stored value starts at -1";
    EXPECT_FALSE(t.simulatorCommandChanged(0));
    EXPECT_TRUE(t.simulatorCommandChanged(1));
    EXPECT_FALSE(t.simulatorCommandChanged(1));
    EXPECT_TRUE(t.simulatorCommandChanged(0));
}

TEST(StateTriggers, TracePointsAtMostEvery300ms)
{
    StateTriggers t;
    EXPECT_FALSE(t.traceDue(1000)) << "the first call starts the clock";
    EXPECT_FALSE(t.traceDue(1299));
    EXPECT_TRUE(t.traceDue(1300));
    EXPECT_FALSE(t.traceDue(1500));
    EXPECT_TRUE(t.traceDue(1650));
}

TEST(RunTracker, EveryRunEndsAfterFiveSilentHeartbeats)
{
    RunTracker run;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(run.onState());
        EXPECT_FALSE(run.onState());
        EXPECT_TRUE(run.running());
        EXPECT_FALSE(run.onHeartBeat()) << "progress";
        for (int i = 0; i < 4; ++i)
            EXPECT_FALSE(run.onHeartBeat()) << i;
        EXPECT_TRUE(run.onHeartBeat()) << "fifth silent heartbeat";
        EXPECT_FALSE(run.running());
    }

    // A run of one state: its first heartbeat already sees no progress.
    EXPECT_TRUE(run.onState());
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(run.onHeartBeat()) << i;
    EXPECT_TRUE(run.onHeartBeat());

    // Progress in between starts the count again.
    EXPECT_TRUE(run.onState());
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(run.onHeartBeat());
    run.onState();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(run.onHeartBeat()) << i;
    EXPECT_TRUE(run.onHeartBeat());
}
