#include "viewer/view/OgreWidget.h"
#include "viewer/view/SceneCamera.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(WorldToScene, FirstPositionIsAbsoluteThenHorizontalIntegratesScaled)
{
    ScenePlacement p;
    EXPECT_EQ(p.worldToScene(1, 2, 3, 0.5f), Ogre::Vector3(-800, 1200, 400));
    EXPECT_EQ(p.worldToScene(1, 2, 3, 0.5f), Ogre::Vector3(-800, 1200, 400)) << "same position, same result";
    // Moving 2 in x and 1 in y at half speed: 400 and -200 scene units; height stays absolute.
    EXPECT_EQ(p.worldToScene(3, 3, 1, 0.5f), Ogre::Vector3(-1000, 400, 800));

    ScenePlacement still;
    still.worldToScene(0, 0, 0, 0);
    EXPECT_EQ(still.worldToScene(10, -7, 2, 0), Ogre::Vector3(0, 800, 0)) << "speed 0 moves only vertically";

    p.reset(true);
    EXPECT_EQ(p.worldToScene(5, 0, 0, 1), Ogre::Vector3(0, 0, 2000)) << "a reset starts a new origin";
    p.reset(false);
    EXPECT_EQ(p.worldToScene(5, 0, 0, 1), Ogre::Vector3(0, 0, 2000)) << "integrates from the zeroed last world";
}

TEST(WorldToScene, StaysInsideJudgesThePositionWorldToSceneWouldGive)
{
    const double nan = std::nan("");
    struct Case {
        const char* name;
        double x, y, z;
        float rate;
        bool newOrigin;
        bool inside;
    };
    // Origin taken at world x = 20000, scene z 8e6.
    const Case cases[] = {
        {"small step", 20001, 0, 0, 1, false, true},
        {"a step scaled beyond the limit", 25000, 0, 0, 1.5f, false, false},
        {"the same point as a new origin", 25000, 0, 0, 1.5f, true, true},
        {"exactly at the limit", 25000, -25000, 25000, 1, true, true},
        {"height beyond", 0, 0, 25000.01, 1, false, false},
        {"float overflow", 1e38, 0, 0, 1, false, false},
        {"NaN", nan, 0, 0, 1, false, false},
        {"NaN as a new origin", 0, nan, 0, 1, true, false},
    };
    for (const Case& c : cases) {
        ScenePlacement p;
        p.worldToScene(20000, 0, 0, 1);
        EXPECT_EQ(p.staysInside(c.x, c.y, c.z, c.rate, c.newOrigin), c.inside) << c.name;
        if (c.newOrigin)
            p.mOriginPending = true;
        const Ogre::Vector3 s = p.worldToScene(c.x, c.y, c.z, c.rate);
        const bool reallyInside = std::abs(s.x) <= 1e7f && std::abs(s.y) <= 1e7f && std::abs(s.z) <= 1e7f;
        EXPECT_EQ(reallyInside, c.inside) << c.name << ": what worldToScene then gives";
    }
    ScenePlacement fresh;
    EXPECT_FALSE(fresh.staysInside(0, 30000, 0, 1, false)) << "a pending origin counts as new";
    EXPECT_TRUE(fresh.staysInside(0, 20000, 0, 1, false));
}

TEST(FollowCamera, HoldsInsideTheBandAndMovesBackToIt)
{
    struct Case {
        float distance;
        int state;
    };
    // Camera at home; target straight ahead along +Z at the given distance.
    const Case cases[] = {{3000, FollowCamera::Hold},
                          {3000.5f, FollowCamera::Closing},
                          {1000, FollowCamera::Hold},
                          {999, FollowCamera::BackingOff},
                          {2000, FollowCamera::Hold}};
    for (const Case& c : cases) {
        FollowCamera cam;
        const Ogre::Vector3 target = FollowCamera::HomePosition + Ogre::Vector3(0, 0, c.distance);
        cam.step(target, 1);
        EXPECT_EQ(cam.mFollowState, c.state) << c.distance;
        EXPECT_EQ(cam.mFollowCamPos, FollowCamera::HomePosition) << "the deciding frame does not move";
    }

    FollowCamera cam;
    const Ogre::Vector3 far = FollowCamera::HomePosition + Ogre::Vector3(0, 0, 4000);
    int frames = 0;
    do {
        cam.step(far, 1);
        ++frames;
    } while (cam.mFollowState != FollowCamera::Hold && frames < 1000);
    const float d = cam.mFollowCamPos.distance(far);
    EXPECT_LE(d, 2000.0f);
    EXPECT_GT(d, 1960.0f) << "stops within one 1.5 % step of 2000";

    FollowCamera close;
    const Ogre::Vector3 near = FollowCamera::HomePosition + Ogre::Vector3(0, 0, 500);
    frames = 0;
    do {
        close.step(near, 2);
        ++frames;
    } while (close.mFollowState != FollowCamera::Hold && frames < 1000);
    EXPECT_GE(close.mFollowCamPos.distance(near), 2000.0f);
    EXPECT_LT(close.mFollowCamPos.z, FollowCamera::HomePosition.z) << "backs away from the aircraft";

    FollowCamera still;
    still.step(far, 0);
    for (int i = 0; i < 10; ++i)
        still.step(far, 0);
    EXPECT_EQ(still.mFollowCamPos, FollowCamera::HomePosition) << "speed rate 0 never moves";
}

TEST(FollowCamera, KeepsItsPaceWhateverTheFrameRate)
{
    const Ogre::Vector3 far = FollowCamera::HomePosition + Ogre::Vector3(0, 0, 6000);
    const Ogre::Vector3 near = FollowCamera::HomePosition + Ogre::Vector3(0, 0, 300);
    for (const Ogre::Vector3& target : {far, near}) {
        FollowCamera every20, every40, every10;
        every20.step(target, 1);
        every40.step(target, 1, 0.04f);
        every10.step(target, 1, 0.01f);
        ASSERT_NE(every20.mFollowState, FollowCamera::Hold);
        for (int i = 0; i < 10; ++i) {
            EXPECT_TRUE(every20.step(target, 1)) << "moving";
            every20.step(target, 1);
            every40.step(target, 1, 0.04f);
            every10.step(target, 1, 0.01f);
            every10.step(target, 1, 0.01f);
            every10.step(target, 1, 0.01f);
            every10.step(target, 1, 0.01f);
        }
        // 10 x 40 ms of real time each way: the same place within float rounding.
        EXPECT_LT(every40.mFollowCamPos.distance(every20.mFollowCamPos), 0.5f);
        EXPECT_LT(every10.mFollowCamPos.distance(every20.mFollowCamPos), 0.5f);
        EXPECT_GT(every20.mFollowCamPos.distance(FollowCamera::HomePosition), 100.0f);
    }

    FollowCamera still;
    const Ogre::Vector3 inBand = FollowCamera::HomePosition + Ogre::Vector3(0, 0, 2000);
    EXPECT_FALSE(still.step(inBand, 1, 0.5f)) << "inside the band nothing moves";
    FollowCamera stopped;
    EXPECT_TRUE(stopped.step(far, 0)) << "the state changes";
    EXPECT_FALSE(stopped.step(far, 0)) << "speed rate 0: closing without moving";
}

TEST(FixedCameraAim, AimsOnceEachTimeTheMovableCameraIsOff)
{
    FixedCameraAim aim;
    EXPECT_TRUE(aim.needsAim(false));
    EXPECT_FALSE(aim.needsAim(false));
    EXPECT_FALSE(aim.needsAim(true));
    EXPECT_FALSE(aim.needsAim(true));
    EXPECT_TRUE(aim.needsAim(false));
    EXPECT_FALSE(aim.needsAim(false));
}

TEST(OgreWidgetRules, PathGainsTheAppDirOnce)
{
    using OgreWidgetRules::pathWithAppDir;
    EXPECT_EQ(pathWithAppDir("/usr/bin:/bin", "/opt/q"), "/usr/bin:/bin:/opt/q");
    EXPECT_EQ(pathWithAppDir("/usr/bin:/opt/q/bin", "/opt/q"), "/usr/bin:/opt/q/bin") << "occurs anywhere";
}

TEST(OgreWidgetRules, ResourceLocations)
{
    using OgreWidgetRules::resolveResourceLocation;
    EXPECT_EQ(resolveResourceLocation("./media", "/app"), "/app/media");
    EXPECT_EQ(resolveResourceLocation(".\\media", "/app"), "/app\\media");
    EXPECT_EQ(resolveResourceLocation("./", "/app"), "") << "two characters are skipped";
    EXPECT_EQ(resolveResourceLocation("ab", "/app"), "");
    EXPECT_EQ(resolveResourceLocation("/usr/share/x.zip", "/app"), "/usr/share/x.zip");
    EXPECT_EQ(resolveResourceLocation("../m", "/app"), "../m");
}

TEST(OgreWidgetRules, BorderColumnAndRowAreIgnored)
{
    EXPECT_TRUE(OgreWidgetRules::insideView(1, 1, 800, 600));
    EXPECT_TRUE(OgreWidgetRules::insideView(799, 599, 800, 600));
    EXPECT_FALSE(OgreWidgetRules::insideView(0, 300, 800, 600));
    EXPECT_FALSE(OgreWidgetRules::insideView(800, 300, 800, 600));
    EXPECT_FALSE(OgreWidgetRules::insideView(400, 0, 800, 600));
    EXPECT_FALSE(OgreWidgetRules::insideView(400, 600, 800, 600));
}

TEST(OgreWidgetRules, Utf8ToAnsi)
{
    EXPECT_EQ(utf8ToAnsi(nullptr), nullptr);
    char* converted = utf8ToAnsi("/tmp/ä");
    ASSERT_NE(converted, nullptr);
    EXPECT_STREQ(converted, QString::fromUtf8("/tmp/ä").toLocal8Bit().constData());
    delete[] converted;
}
