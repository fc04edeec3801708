// The flight model flown through whole missions, faster than real time.

#include "tools/flight-emulator/FlightSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace emu;

namespace {

constexpr double kSample = 0.02; // s between inspected states
constexpr double kDeadline = 60.0; // s a mission may take from spin-up to motors off

struct Sample {
    double t;
    MissionPhase phase;
    RigidBodyState body;
    FlightStateRecord record;
};

std::vector<Sample> fly(MissionKind mission, uint64_t seed, bool transforming, double lat = 0.0, double lon = 0.0)
{
    FlightSimulation sim(mission, seed, transforming);
    sim.setOrigin(lat, lon);
    std::vector<Sample> out;
    for (int i = 1; i * kSample <= kDeadline + 2.0; ++i) {
        sim.advanceTo(i * kSample);
        out.push_back({sim.time(), sim.phase(), sim.body(), sim.record()});
    }
    return out;
}

bool finite(const FlightStateRecord& r)
{
    for (float v :
         {r.roll, r.pitch, r.yaw, r.x, r.y, r.z, r.latitude, r.longitude, r.vx, r.vy, r.vz, r.time, r.transformState})
        if (!std::isfinite(v))
            return false;
    return true;
}

double distanceToSegment(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// Horizontal distance from the mission's planned path.
double pathError(MissionKind mission, const Vec3& p)
{
    switch (mission) {
    case MissionKind::Hover: return std::hypot(p.x, p.y);
    case MissionKind::Circle: return std::abs(std::hypot(p.x, p.y - Mission::kCircleRadius) - Mission::kCircleRadius);
    case MissionKind::Square: {
        const double a = Mission::kSquareSide;
        return std::min({distanceToSegment(p.x, p.y, 0, 0, a, 0), distanceToSegment(p.x, p.y, a, 0, a, a),
                         distanceToSegment(p.x, p.y, a, a, 0, a), distanceToSegment(p.x, p.y, 0, a, 0, 0)});
    }
    }
    return 0.0;
}

// Path tolerance of the pattern in wind gusts, and the area the pattern must cover.
struct MissionCase {
    MissionKind mission;
    double tolerance; // m
    double reachNorth, reachEast; // m the aircraft must get to
};

class MissionFlight : public ::testing::TestWithParam<std::tuple<MissionCase, uint64_t>> { };

} // namespace

TEST_P(MissionFlight, TakesOffFliesThePatternAndLands)
{
    const auto [c, seed] = GetParam();
    const auto samples = fly(c.mission, seed, false);

    double top = 0.0, maxError = 0.0, north = 0.0, east = 0.0, landedAt = -1.0;
    for (const Sample& s : samples) {
        ASSERT_TRUE(finite(s.record)) << "t=" << s.t;
        top = std::max(top, -s.body.position.z);
        if (s.phase == MissionPhase::Pattern) {
            maxError = std::max(maxError, pathError(c.mission, s.body.position));
            north = std::max(north, s.body.position.x);
            east = std::max(east, s.body.position.y);
            EXPECT_NEAR(-s.body.position.z, Mission::kAltitude, 1.0) << "t=" << s.t;
        }
        if (landedAt < 0 && s.phase == MissionPhase::Landed)
            landedAt = s.t;
    }
    EXPECT_GT(top, Mission::kAltitude - 0.5);
    EXPECT_LT(top, Mission::kAltitude + 1.0);
    EXPECT_LE(maxError, c.tolerance);
    EXPECT_GE(north, c.reachNorth);
    EXPECT_GE(east, c.reachEast);

    ASSERT_GT(landedAt, 0.0) << "never landed";
    EXPECT_LT(landedAt, kDeadline);
    const Sample& last = samples.back();
    EXPECT_EQ(last.body.position.z, 0.0);
    EXPECT_LT(std::hypot(last.body.position.x, last.body.position.y), 2.0) << "lands back at the start point";
    EXPECT_EQ(last.record.flags, 0) << "motors stopped, on the ground";
}

INSTANTIATE_TEST_SUITE_P(
    Missions, MissionFlight,
    ::testing::Combine(::testing::Values(MissionCase{MissionKind::Hover, 0.5, 0.0, 0.0},
                                         MissionCase{MissionKind::Square, 1.0, Mission::kSquareSide - 1.0,
                                                     Mission::kSquareSide - 1.0},
                                         MissionCase{MissionKind::Circle, 1.0, Mission::kCircleRadius - 1.0,
                                                     2 * Mission::kCircleRadius - 1.0}),
                       ::testing::Values(1u, 77u)));

TEST(FlightSimulation, SameSeedSameFlightOtherSeedOtherWind)
{
    const auto a = fly(MissionKind::Square, 5, true);
    const auto b = fly(MissionKind::Square, 5, true);
    const auto c = fly(MissionKind::Square, 6, true);
    ASSERT_EQ(a.size(), b.size());
    bool differs = false;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].record.encode(), b[i].record.encode()) << "t=" << a[i].t;
        differs = differs || a[i].record.encode() != c[i].record.encode();
    }
    EXPECT_TRUE(differs);
}

TEST(FlightSimulation, StatusFlagsFollowThePhases)
{
    // Flying state in bits 1-7, motors in bit 0: spin-up, climb, pattern, descent, motors off.
    const auto samples = fly(MissionKind::Hover, 1, false);
    std::vector<int> flags;
    for (const Sample& s : samples)
        if (flags.empty() || flags.back() != s.record.flags)
            flags.push_back(s.record.flags);
    EXPECT_EQ(flags, (std::vector<int>{0x01, 0x03, 0x05, 0x07, 0x00}));
}

TEST(FlightSimulation, TransformingAircraftRaisesArmsAfterTakeOffAndLowersThemBeforeLanding)
{
    struct Span {
        int state;
        double from, to;
    };
    std::vector<Span> spans;
    double touchDown = -1.0;
    for (const Sample& s : fly(MissionKind::Hover, 1, true)) {
        const int state = static_cast<int>(s.record.transformState);
        if (spans.empty() || spans.back().state != state)
            spans.push_back({state, s.t, s.t});
        spans.back().to = s.t;
        if (state == 3) {
            EXPECT_EQ(s.phase, MissionPhase::TakeOff);
        }
        if (state == 3 || state == 2) {
            EXPECT_LT(s.body.position.z, -1.0) << "arms rise only in the air";
        }
        if (touchDown < 0 && s.phase == MissionPhase::Landing && s.body.onGround)
            touchDown = s.t;
    }
    ASSERT_EQ(spans.size(), 5u);
    EXPECT_EQ((std::vector<int>{spans[0].state, spans[1].state, spans[2].state, spans[3].state, spans[4].state}),
              (std::vector<int>{4, 3, 2, 1, 4}));
    // The intermediate states last long enough that a host keeping only the newest
    // state of each burst still passes them on.
    EXPECT_GE(spans[1].to - spans[1].from, 0.5);
    EXPECT_GE(spans[3].to - spans[3].from, 0.5);
    EXPECT_LT(spans[4].from, touchDown) << "arms are down before touch-down";

    for (const Sample& s : fly(MissionKind::Hover, 1, false))
        ASSERT_EQ(s.record.transformState, 0.0f);
}

TEST(FlightSimulation, LatitudeAndLongitudeAdvanceFromTheStartPoint)
{
    const double lat0 = 0.5, lon0 = 2.0;
    const double metresPerRadLat = 6335439.0 / std::pow(1 - 6.69438e-3 * std::sin(lat0) * std::sin(lat0), 1.5);
    const double metresPerRadLon =
        6378137.0 / std::sqrt(1 - 6.69438e-3 * std::sin(lat0) * std::sin(lat0)) * std::cos(lat0);
    // The record carries float32 radians: half a unit in the last place is the
    // resolution on the ground (about 0.1 m of latitude, 0.6 m of longitude here).
    auto resolution = [](float v, double metresPerRad) {
        return (std::nextafter(v, 10.0f) - v) / 2 * metresPerRad + 0.01;
    };
    for (const Sample& s : fly(MissionKind::Square, 1, false, lat0, lon0)) {
        EXPECT_NEAR((s.record.latitude - lat0) * metresPerRadLat, s.body.position.x,
                    resolution(s.record.latitude, metresPerRadLat))
            << "t=" << s.t;
        EXPECT_NEAR((s.record.longitude - lon0) * metresPerRadLon, s.body.position.y,
                    resolution(s.record.longitude, metresPerRadLon))
            << "t=" << s.t;
    }
}
