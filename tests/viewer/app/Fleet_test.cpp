// Aircraft and the fleet without a scene: who a datagram belongs to, joins,
// silence and removal on an injected clock.
#include "viewer/app/Fleet.h"

#include "common/StateDatagram.h"

#include <gtest/gtest.h>

namespace {
StateDatagram::State state(const QString& senderIp, int product = 1, double lat = 22.537, double lon = 113.9,
                           float x = 0, float y = 0)
{
    StateDatagram::State s;
    s.senderIp = senderIp;
    s.productType = product;
    s.worldLatitude = lat;
    s.worldLongitude = lon;
    s.worldX = x;
    s.worldY = y;
    s.flyingState = 1;
    s.simulatorCommand = 1;
    return s;
}

// What the host sends after a run: no "SenderIP" key.
StateDatagram::State zeroState(int product = 1) { return StateDatagram::zeroState(product, 1); }

// A datagram through the fleet and the aircraft, as the window passes it on.
Aircraft* deliver(Fleet& fleet, const StateDatagram::State& s, const QString& address, quint16 port, qint64 nowMs)
{
    Fleet::Route r = fleet.route(s, address, port);
    if (!r.aircraft)
        return nullptr;
    if (r.aircraft->take(s, 1.0f, nowMs)) {
        r.aircraft->apply(nowMs);
        fleet.place(*r.aircraft);
    }
    r.aircraft->countState();
    return r.aircraft;
}

// Five heartbeats without a state end a run.
void silence(Fleet& fleet)
{
    for (int i = 0; i < 6; ++i)
        for (const auto& a : fleet.aircraft())
            a->heartBeat();
}
} // namespace

TEST(Fleet, AnAircraftIsItsSocketAndItsSenderAddress)
{
    struct Case {
        const char* what;
        QString address;
        quint16 port;
        QString senderIp;
        int aircraft; // number the datagram lands on, after the first from 10.0.0.1:4000 "10.0.0.1"
    } cases[] = {
        {"the same sender again", "10.0.0.1", 4000, "10.0.0.1", 1},
        {"same address, other port: a second host on the machine", "10.0.0.1", 4001, "10.0.0.1", 2},
        {"same socket, other SenderIP: a replay of two senders", "10.0.0.1", 4000, "10.0.0.9", 2},
        {"same socket, empty SenderIP", "10.0.0.1", 4000, "", 2},
        {"other address, same port and SenderIP", "10.0.0.2", 4000, "10.0.0.1", 2},
    };
    for (const Case& c : cases) {
        Fleet fleet;
        deliver(fleet, state("10.0.0.1"), "10.0.0.1", 4000, 0);
        const Aircraft* a = deliver(fleet, state(c.senderIp), c.address, c.port, 10);
        ASSERT_NE(a, nullptr) << c.what;
        EXPECT_EQ(a->number(), c.aircraft) << c.what;
        EXPECT_EQ(fleet.size(), c.aircraft) << c.what;
    }
}

TEST(Fleet, StatesAfterARunGoToTheAircraftLastHeardOnTheirSocket)
{
    Fleet fleet;
    deliver(fleet, state("10.0.0.8"), "10.0.0.1", 4000, 0);
    const Aircraft* b = deliver(fleet, state("10.0.0.9"), "10.0.0.1", 4000, 0);
    EXPECT_EQ(deliver(fleet, zeroState(), "10.0.0.1", 4000, 10), b);
    EXPECT_EQ(fleet.size(), 2);
    // From a socket never heard, they are an aircraft of their own.
    const Aircraft* c = deliver(fleet, zeroState(), "10.0.0.1", 4001, 10);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->number(), 3);
    EXPECT_EQ(c->label(), "Tavik1 10.0.0.1:4001");
}

TEST(Fleet, AHostStartedAgainIsItsSilentAircraftAgain)
{
    Fleet fleet;
    Aircraft* a = deliver(fleet, state("10.0.0.1"), "10.0.0.1", 4000, 0);
    EXPECT_EQ(deliver(fleet, state("10.0.0.1"), "10.0.0.1", 4001, 0)->number(), 2) << "both fly: two hosts";
    silence(fleet);
    Fleet::Route again = fleet.route(state("10.0.0.1"), "10.0.0.1", 5000);
    EXPECT_EQ(again.aircraft, a) << "the first silent one with that address and sender";
    EXPECT_FALSE(again.joined);
    EXPECT_EQ(again.line, "aircraft 1 joined: Tavik1 from 10.0.0.1:5000 (10.0.0.1)");
    EXPECT_EQ(fleet.size(), 2);
    // Its states after the run follow it to the new socket.
    EXPECT_EQ(fleet.route(zeroState(), "10.0.0.1", 5000).aircraft, a);
    // Without a sender address there is nothing to recognise it by.
    deliver(fleet, state(""), "10.0.0.3", 1, 0);
    silence(fleet);
    EXPECT_EQ(fleet.route(state(""), "10.0.0.3", 2).aircraft->number(), 4);
}

TEST(Fleet, JoinAndLeaveLinesAndTheSeventeenthSender)
{
    Fleet fleet;
    Fleet::Route first = fleet.route(state("192.168.0.10", 2), "192.168.0.20", 50000);
    EXPECT_TRUE(first.joined);
    EXPECT_EQ(first.line, "aircraft 1 joined: Nerio3 from 192.168.0.20:50000 (192.168.0.10)");
    EXPECT_FALSE(fleet.route(state("192.168.0.10", 2), "192.168.0.20", 50000).joined);
    EXPECT_TRUE(fleet.route(state("192.168.0.10", 2), "192.168.0.20", 50000).line.isEmpty());

    for (quint16 port = 1; port < Fleet::kMaxAircraft; ++port)
        ASSERT_NE(fleet.route(state(QString::number(port)), "10.0.0.1", port).aircraft, nullptr);
    EXPECT_EQ(fleet.size(), Fleet::kMaxAircraft);
    Fleet::Route refused = fleet.route(state("10.0.0.1", 3), "10.0.0.1", 999);
    EXPECT_EQ(refused.aircraft, nullptr);
    EXPECT_EQ(refused.line, "aircraft refused: Vx7 from 10.0.0.1:999 (10.0.0.1): 16 aircraft are shown already");
    EXPECT_TRUE(fleet.route(state("10.0.0.1", 3), "10.0.0.1", 999).line.isEmpty()) << "said once per sender";
    EXPECT_EQ(fleet.size(), Fleet::kMaxAircraft);

    const QString left = fleet.remove(fleet.at(1));
    EXPECT_EQ(left, "aircraft 2 left: Unknown from 10.0.0.1:1") << "no state was taken, so no product";
    Fleet::Route late = fleet.route(state("10.0.0.1", 3), "10.0.0.1", 999);
    ASSERT_NE(late.aircraft, nullptr) << "a freed place takes the refused sender";
    EXPECT_EQ(late.aircraft->number(), 17) << "numbers count arrivals";
}

TEST(Fleet, SilentAircraftOtherThanTheFollowedOneGoAfterThirtySeconds)
{
    Fleet fleet;
    Aircraft* a = deliver(fleet, state("10.0.0.1"), "10.0.0.1", 4000, 0);
    Aircraft* b = deliver(fleet, state("10.0.0.2"), "10.0.0.2", 4000, 0);
    Aircraft* c = deliver(fleet, state("10.0.0.3", 3), "10.0.0.3", 4000, 0);
    EXPECT_EQ(fleet.followed(), a) << "the first is followed";
    EXPECT_EQ(b->status(), "flying");

    silence(fleet);
    EXPECT_EQ(b->status(), "silent");
    EXPECT_TRUE(fleet.removeSilent(29999).isEmpty());
    deliver(fleet, state("10.0.0.2"), "10.0.0.2", 4000, 20000); // b speaks again
    EXPECT_EQ(fleet.removeSilent(30000), QStringList{"aircraft 3 left: Vx7 from 10.0.0.3:4000"});
    EXPECT_EQ(fleet.size(), 2);
    EXPECT_EQ(fleet.followed(), a) << "the followed one stays however long it is silent";
    EXPECT_TRUE(fleet.removeSilent(1000000).isEmpty()) << "b still runs";

    fleet.follow(b);
    silence(fleet);
    EXPECT_EQ(fleet.removeSilent(1000000), QStringList{"aircraft 1 left: Tavik1 from 10.0.0.1:4000"});
    EXPECT_EQ(fleet.followed(), b);
    (void)c;
}

TEST(Fleet, FollowingCyclesAndPassesOnWhenTheFollowedOneGoes)
{
    Fleet fleet;
    EXPECT_EQ(fleet.followed(), nullptr);
    fleet.followNext(1); // nothing to follow: no harm
    Aircraft* a = deliver(fleet, state("1"), "10.0.0.1", 1, 0);
    Aircraft* b = deliver(fleet, state("2"), "10.0.0.1", 2, 0);
    Aircraft* c = deliver(fleet, state("3"), "10.0.0.1", 3, 0);
    fleet.followNext(1);
    EXPECT_EQ(fleet.followed(), b);
    fleet.followNext(-2);
    EXPECT_EQ(fleet.followed(), c) << "Shift+Tab wraps backwards";
    fleet.followNext(1);
    EXPECT_EQ(fleet.followed(), a);

    fleet.follow(b);
    fleet.remove(b);
    EXPECT_EQ(fleet.followed(), c) << "the next one";
    fleet.remove(c);
    EXPECT_EQ(fleet.followed(), a) << "the next one wraps to the first";
    fleet.remove(a);
    EXPECT_EQ(fleet.followed(), nullptr);
}

TEST(Fleet, AircraftAreOffsetByWhereTheirFlightsStarted)
{
    Fleet fleet;
    // 0.0001 degrees north is 11.12 m; the second joins in flight 4 m north of its start.
    Aircraft* a = deliver(fleet, state("1", 1, 22.5370, 113.9), "10.0.0.1", 1, 0);
    Aircraft* b = deliver(fleet, state("2", 1, 22.5371 + 4 / 111194.9, 113.9, 4, 0), "10.0.0.1", 2, 0);
    Aircraft* c = deliver(fleet, state("3", 1, 22.5370, 113.9001), "10.0.0.1", 3, 0);
    EXPECT_EQ(a->offset(), Ogre::Vector3::ZERO);
    EXPECT_NEAR(b->offset().z, 400 * 11.1195, 1.0) << "north is scene z";
    EXPECT_NEAR(b->offset().x, 0, 1e-3);
    EXPECT_NEAR(c->offset().x, -400 * 11.1195 * std::cos(22.537 * M_PI / 180), 1.0) << "east is scene -x";
    EXPECT_NEAR(c->offset().z, 0, 1e-3);

    // The states after a run carry no place; a sender on the far side of the
    // earth or with a broken position stays within what the scene can hold.
    Aircraft* zero = deliver(fleet, zeroState(), "10.0.0.1", 4, 0);
    EXPECT_EQ(zero->offset(), Ogre::Vector3::ZERO);
    Aircraft* far = deliver(fleet, state("5", 1, -22.5, -66.1), "10.0.0.1", 5, 0);
    EXPECT_EQ(far->offset().z, -Fleet::kOffsetLimit);
    StateDatagram::State broken = state("6", 1, 1e300, 0);
    Aircraft* huge = deliver(fleet, broken, "10.0.0.1", 6, 0);
    EXPECT_LE(std::abs(huge->offset().z), Fleet::kOffsetLimit);
    EXPECT_FALSE(huge->offset().isNaN());
}

TEST(Aircraft, FileTagsAreSafeNames)
{
    struct Case {
        SenderKey key;
        QString tag;
    } cases[] = {
        {{"10.0.0.1", 4000, "192.168.0.10"}, "192.168.0.10"},
        {{"10.0.0.1", 4000, ""}, "10.0.0.1_4000"},
        {{"::1", 4000, ""}, "__1_4000"},
        {{"10.0.0.1", 4000, "../../etc/passwd"}, ".._.._etc_passwd"},
        {{"10.0.0.1", 4000, QString(200, 'a')}, QString(64, 'a')},
        {{"10.0.0.1", 4000, QString::fromUtf8("b\xc3\xa4nk 1")}, "b_nk_1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.key.fileTag(), c.tag) << qPrintable(c.key.senderIp);
}

TEST(Aircraft, PanelRowsAreBuiltWhenAskedAndFollowTheLastShownState)
{
    Aircraft a(1, SenderKey{"10.0.0.1", 1, "x"});
    StateDatagram::State s = state("x");
    s.yaw = 1.5f;
    s.keys.reset();
    s.keys.set(size_t(StateDatagram::Key::Yaw));
    ASSERT_TRUE(a.take(s, 1.0f, 0));
    EXPECT_EQ(a.paramOrder(), QStringList{"Yaw"});
    EXPECT_EQ(a.paramValues().value("Yaw"), "1.5000");

    StateDatagram::State bad = s;
    bad.finite = false;
    EXPECT_FALSE(a.take(bad, 1.0f, 10));
    EXPECT_TRUE(a.firstRefusedThisRun());
    EXPECT_FALSE(a.firstRefusedThisRun());
    EXPECT_EQ(a.paramValues().value("Yaw"), "1.5000") << "the last good state stays";
    EXPECT_EQ(a.lastHeardMs(), 10) << "a refused state still shows the sender alive";
}
