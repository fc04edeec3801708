#include "viewer/view/GlowArea.h"

#include <gtest/gtest.h>

namespace {

TEST(GlowArea, CoveringRectOfProjectedPoints)
{
    using V = Ogre::Vector4;
    struct Case {
        const char* name;
        std::vector<V> points;
        DeviceRect expected;
    };
    const Case cases[] = {
        {"nothing glows", {}, {0, 0, 0, 0}},
        {"divided by w, widened by the margin",
         {V(0.2f, 0.4f, 0, 2), V(-0.4f, -0.2f, 0, 2)},
         {-0.3f, 0.3f, 0.2f, -0.2f}},
        {"kept on screen", {V(0.95f, 0.95f, 0, 1), V(0.5f, 0.5f, 0, 1)}, {0.4f, 1, 1, 0.4f}},
        {"entirely off screen", {V(3, 3, 0, 1), V(4, 5, 0, 1)}, {0, 0, 0, 0}},
        {"a corner behind the eye: the whole screen", {V(0, 0, 0, 1), V(0, 0, 0, -1)}, {-1, 1, 1, -1}},
        {"non-finite: the whole screen", {V(NAN, 0, 0, 1)}, {-1, 1, 1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DeviceRect r = coveringRect(c.points, 0.1f, 0.1f);
        EXPECT_NEAR(r.left, c.expected.left, 1e-6f);
        EXPECT_NEAR(r.top, c.expected.top, 1e-6f);
        EXPECT_NEAR(r.right, c.expected.right, 1e-6f);
        EXPECT_NEAR(r.bottom, c.expected.bottom, 1e-6f);
    }
}

TEST(GlowArea, QuadIsKeptWhileItCoversAndRenewedWhenLeft)
{
    const DeviceRect full;
    const DeviceRect aircraft{-0.2f, 0.3f, 0.1f, -0.1f};
    const DeviceRect first = nextGlowQuad(full, aircraft);
    EXPECT_TRUE(first.contains(aircraft));
    EXPECT_LT(first.area(), full.area() / 4) << "the full screen is far too large";

    const DeviceRect nudged{-0.18f, 0.32f, 0.12f, -0.08f};
    EXPECT_EQ(nextGlowQuad(first, nudged), first) << "a small move keeps the compiled quad";

    const DeviceRect moved{0.5f, 0.3f, 0.8f, -0.1f};
    const DeviceRect second = nextGlowQuad(first, moved);
    EXPECT_TRUE(second.contains(moved));

    EXPECT_TRUE(nextGlowQuad(second, DeviceRect{0, 0, 0, 0}).empty()) << "nothing glows: nothing drawn";
    EXPECT_EQ(nextGlowQuad(full, full), full);
}

} // namespace
