#include "viewer/app/TrajectoryTable.h"

#include "common/Json.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using ::testing::ElementsAre;

TrajPoint P(double x, double y, double z, double d, double t) { return {x, y, z, d, t}; }

MATCHER_P3(At, x, y, z, "")
{
    return std::abs(arg.x - x) < 1e-3f && std::abs(arg.y - y) < 1e-3f && std::abs(arg.z - z) < 1e-3f;
}

TEST(TrajBuild, ThreePointsWithOneRoundedCorner)
{
    const QVector<TrajPoint> pts = {P(0, 0, 0, 2, 0.5), P(10, 0, 0, 0, 0.5), P(10, 10, 0, 0, 0.5)};
    ASSERT_TRUE(Traj::check(pts).ok);
    // World (x, y, z) lands at scene (400 x, 400 z, 400 y).
    const auto out = Traj::build(pts, 1.0f);
    EXPECT_THAT(out,
                ElementsAre(At(1600, 0, 0), At(3200, 0, 0), // piece to (8,0,0)
                            At(3800, 0, 200), At(4000, 0, 800), // corner to (10,2,0)
                            At(4000, 0, 2400), At(4000, 0, 4000)) // last piece to the end
    );
}

TEST(TrajBuild, SpeedScalesAndHeightIsTheSceneUpAxis)
{
    const QVector<TrajPoint> pts = {P(0, 0, 0, 0, 1), P(0, 0, 5, 0, 1), P(0, 5, 5, 0, 1)};
    EXPECT_THAT(Traj::build(pts, 0.5f), ElementsAre(At(0, 1000, 0), At(0, 1000, 0), At(0, 1000, 1000)));
}

TEST(TrajBuild, EveryPieceGetsCeilOfOneOverDeltaSamples)
{
    // 0.3 -> 0.3, 0.6, 0.9, then 1 exactly; the last straight piece stops D(n-2) short.
    const QVector<TrajPoint> pts = {P(0, 0, 0, 1, 0.3), P(10, 0, 0, 1, 0.3), P(10, 10, 0, 0, 0.3)};
    const auto out = Traj::build(pts, 1.0f);
    ASSERT_EQ(out.size(), 12);
    EXPECT_THAT(out.back(), At(4000, 0, 3600));
}

TEST(TrajCheck, DampingRows)
{
    struct Case {
        const char* name;
        QVector<TrajPoint> pts;
        QVector<bool> dampingOk;
        bool ok;
    };
    const Case cases[] = {
        {"fits", {P(0, 0, 0, 2, .5), P(10, 0, 0, 0, .5), P(10, 10, 0, 0, .5)}, {true, true, true}, true},
        {"row 0 longer than its piece",
         {P(0, 0, 0, 11, .5), P(10, 0, 0, 0, .5), P(10, 10, 0, 0, .5)},
         {false, true, true},
         false},
        {"row 1 needs 6+6 on a piece of 10",
         {P(0, 0, 0, 6, .5), P(20, 0, 0, 6, .5), P(20, 10, 0, 0, .5), P(30, 10, 0, 0, .5)},
         {true, false, true, true},
         false},
        {"two points", {P(0, 0, 0, 0, .5), P(1, 0, 0, 0, .5)}, {true, true}, false},
        {"empty", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Traj::check(c.pts);
        EXPECT_EQ(r.dampingOk, c.dampingOk);
        EXPECT_EQ(r.ok, c.ok);
    }
}

TEST(TrajCheck, DeltaThatCannotSampleAPieceFailsItsRow)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double bad : {0.0, -1.0, 1e-9, inf, nan}) {
        SCOPED_TRACE(bad);
        const QVector<TrajPoint> pts = {P(0, 0, 0, 0, .5), P(10, 0, 0, 0, bad), P(10, 10, 0, 0, bad)};
        const auto r = Traj::check(pts);
        EXPECT_THAT(r.deltaOk, ElementsAre(true, false, true)); // the last row's delta is unused
        EXPECT_FALSE(r.ok);
        // Building anyway must return, skipping the piece it cannot sample.
        EXPECT_EQ(Traj::build(pts, 1.0f).size(), 4);
    }
}

TEST(TrajFile, ParsingSkipsWhatItCannotRead)
{
    const QString text = "{ \"X\" : 1.5, \"Y\" : -2, \"Z\" : 3, \"DAMPLING_LENGTH\" : 0.5, \"DELTA\" : 0.1 }\r\n"
                         "\n"
                         "garbage\n"
                         "{ \"X\" : 7 }\n"
                         "[1, 2]\n"
                         "{ \"X\" : \n"
                         "{\"DELTA\":1e5}";
    const auto pts = Traj::parseFile(text);
    ASSERT_EQ(pts.size(), 4);
    EXPECT_EQ(pts[0].x, 1.5);
    EXPECT_EQ(pts[0].y, -2);
    EXPECT_EQ(pts[0].z, 3);
    EXPECT_EQ(pts[0].damping, 0.5);
    EXPECT_EQ(pts[0].delta, 0.1);
    EXPECT_EQ(pts[1].x, 7);
    EXPECT_EQ(pts[1].delta, 0);
    EXPECT_EQ(pts[2].x, 0); // a valid value that is not an object gives zeros
    EXPECT_EQ(pts[3].delta, 1e5);
}

TEST(TrajFile, LinesReadBackAsWritten)
{
    const TrajPoint p = P(1500, -0.25, 3, 2, 0.1);
    const QByteArray line = Traj::fileLine(p);
    EXPECT_TRUE(line.endsWith("}\n"));
    EXPECT_TRUE(line.contains("\"DAMPLING_LENGTH\" : 2.0"));
    const auto back = Traj::parseFile(QString::fromUtf8(line + line));
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[1].x, 1500);
    EXPECT_EQ(back[1].y, -0.25);
    EXPECT_EQ(back[1].delta, 0.1);
}

TEST(TrajCells, TextToValuesAndBack)
{
    const TrajPoint p = Traj::fromCells({"1.5", "abc", "", "-3", "-0.1"});
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.damping, 0); // not above 0
    EXPECT_EQ(p.delta, 0);
    const TrajPoint q = Traj::fromCells({"inf", "nan", "1e400", "2", "0.5"});
    EXPECT_EQ(q.x, 0);
    EXPECT_EQ(q.y, 0);
    EXPECT_EQ(q.z, 0);
    EXPECT_EQ(q.damping, 2);

    EXPECT_EQ(Traj::cellText(0.1), "0.1");
    EXPECT_EQ(Traj::cellText(1500), "1500");
    EXPECT_EQ(Traj::cellText(1234567), "1.23457e+06");
}

} // namespace
