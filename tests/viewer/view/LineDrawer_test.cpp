#include "viewer/view/LineDrawer.h"

#include "tests/viewer/HeadlessOgre.h"

#include <OgreDefaultHardwareBufferManager.h>
#include <OgreHardwareVertexBuffer.h>
#include <OgreLogManager.h>
#include <OgreManualObject.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreTechnique.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

TEST(TracePlan, Steps)
{
    struct Case {
        const char* name;
        bool visible;
        int count, drawn;
        TraceStep::Action action;
        int from, to, drawnAfter;
    };
    const Case cases[] = {
        {"one point draws nothing", true, 1, 0, TraceStep::Keep, 0, 0, 0},
        {"the second point draws a segment", true, 2, 0, TraceStep::Draw, 0, 1, 1},
        {"a new batch starts at the last drawn point", true, 5, 1, TraceStep::Draw, 1, 4, 4},
        {"nothing new", true, 5, 4, TraceStep::Keep, 0, 0, 4},
        {"hidden clears", false, 5, 4, TraceStep::Clear, 0, 0, 0},
        {"no points clears", true, 0, 4, TraceStep::Clear, 0, 0, 0},
        {"list cleared and refilled between paints", true, 3, 4, TraceStep::Draw, 0, 2, 2},
        {"refilled with one point", true, 1, 4, TraceStep::Clear, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TraceStep s = planTraceStep(c.visible, c.count, c.drawn);
        EXPECT_EQ(s.action, c.action);
        if (s.action == TraceStep::Draw) {
            EXPECT_EQ(s.from, c.from);
            EXPECT_EQ(s.to, c.to);
        }
        EXPECT_EQ(s.drawn, c.drawnAfter);
    }
}

// A real scene manager without a window: geometry lands in system-memory buffers.
class LineDrawerTest : public ::testing::Test {
protected:
    void SetUp() override { scene = Ogre::Root::getSingleton().createSceneManager(); }
    void TearDown() override
    {
        trace.destroy(scene);
        traj.destroy(scene);
        Ogre::Root::getSingleton().destroySceneManager(scene);
    }

    // Paints until the drawer exists and hangs on its node.
    void bringUp(LineDrawer& d, bool trajectory)
    {
        bool dirty = false;
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(d.node() && d.object() && d.object()->isAttached());
            trajectory ? d.updateTrajectory(scene, points, dirty) : d.updateTrace(scene, points, true);
        }
        ASSERT_NE(d.node(), nullptr);
        EXPECT_EQ(d.node()->getParent(), scene->getRootSceneNode());
        EXPECT_EQ(d.object()->getParentSceneNode(), d.node());
    }
    size_t vertices(LineDrawer& d, unsigned section)
    {
        return d.object()->getSections()[section]->getRenderOperation()->vertexData->vertexCount;
    }
    // The drawn line as one list of points; each section must begin where the one before ended.
    std::vector<Ogre::Vector3> drawnLine(LineDrawer& d)
    {
        std::vector<Ogre::Vector3> line;
        for (Ogre::ManualObject::ManualObjectSection* section : d.object()->getSections()) {
            const Ogre::VertexData* data = section->getRenderOperation()->vertexData;
            Ogre::HardwareVertexBufferSharedPtr buffer = data->vertexBufferBinding->getBuffer(0);
            std::vector<float> xyz(data->vertexCount * 3);
            buffer->readData(0, xyz.size() * sizeof(float), xyz.data());
            for (size_t i = 0; i < data->vertexCount; ++i) {
                const Ogre::Vector3 p(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
                if (i == 0 && !line.empty()) {
                    EXPECT_EQ(p, line.back()) << "section " << line.size() << " does not join the line";
                    continue;
                }
                line.push_back(p);
            }
        }
        return line;
    }
    void add(float x, float y, float z) { points.append(Ogre::Vector3(x, y, z)); }

    Ogre::SceneManager* scene = nullptr;
    LineDrawer trace{"mTraceDrawer", "TraceMaterialUI", Ogre::ColourValue(0, 0, 1)};
    LineDrawer traj{"mTrajDrawer", "TrajMaterialUI", Ogre::ColourValue(1, 0, 0)};
    QList<Ogre::Vector3> points;
};

TEST_F(LineDrawerTest, TraceGrowsInJoinedSectionsAndRedrawsWholeWhenShownAgain)
{
    bringUp(trace, false);
    add(0, 0, 0);
    // The result says whether the next frame shows something new.
    EXPECT_FALSE(trace.updateTrace(scene, points, true));
    EXPECT_EQ(trace.object()->getSections().size(), 0u);
    add(1, 0, 0);
    EXPECT_TRUE(trace.updateTrace(scene, points, true));
    ASSERT_EQ(trace.object()->getSections().size(), 1u);
    EXPECT_EQ(vertices(trace, 0), 2u);
    add(2, 0, 0);
    add(3, 0, 0);
    EXPECT_TRUE(trace.updateTrace(scene, points, true));
    ASSERT_EQ(trace.object()->getSections().size(), 1u) << "a new batch extends the last section";
    EXPECT_EQ(vertices(trace, 0), 4u);
    EXPECT_EQ(trace.object()->getSections()[0]->getRenderOperation()->operationType,
              Ogre::RenderOperation::OT_LINE_STRIP);
    EXPECT_FALSE(trace.updateTrace(scene, points, true)) << "nothing new";

    EXPECT_TRUE(trace.updateTrace(scene, points, false));
    EXPECT_EQ(trace.object()->getSections().size(), 0u);
    EXPECT_FALSE(trace.updateTrace(scene, points, false)) << "already cleared";
    trace.updateTrace(scene, points, true);
    ASSERT_EQ(trace.object()->getSections().size(), 1u);
    EXPECT_EQ(vertices(trace, 0), 4u);

    const Ogre::Pass* pass =
        Ogre::MaterialManager::getSingleton().getByName("TraceMaterialUI")->getTechnique(0)->getPass(0);
    EXPECT_EQ(pass->getSelfIllumination(), Ogre::ColourValue(0, 0, 1));
    EXPECT_EQ(pass->getDiffuse(), Ogre::ColourValue(0, 0, 1, 0));
    EXPECT_EQ(pass->getPointSize(), 3);
}

TEST_F(LineDrawerTest, AnHourOfTraceStaysInAFewSectionsWithEveryPointDrawn)
{
    // A point every 300 ms for an hour, appended a few per paint as a flight does.
    const int total = 12000;
    bringUp(trace, false);
    // Full sections share their end points: n points need ceil((n - 1) / (kSectionPoints - 1)).
    const size_t bound = size_t((total - 1 + LineDrawer::kSectionPoints - 2) / (LineDrawer::kSectionPoints - 1));
    for (int i = 0; i < total; ++i) {
        add(float(i), float(i % 7), float(i / 100));
        if (i % 3 == 2 || i == total - 1) {
            trace.updateTrace(scene, points, true);
            ASSERT_LE(trace.object()->getSections().size(), bound) << "after " << i + 1 << " points";
            if (i % 300 == 2) {
                EXPECT_FALSE(trace.updateTrace(scene, points, true)) << "a paint without new points changes nothing";
            }
        }
    }
    EXPECT_EQ(trace.object()->getSections().size(), bound);
    std::vector<Ogre::Vector3> line = drawnLine(trace);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), points.begin(), points.end())) << line.size() << " drawn";
    EXPECT_TRUE(trace.object()->getBoundingBox().contains(points.last()));

    // Hidden and shown again: the whole line at once, in sections of the same bound.
    trace.updateTrace(scene, points, false);
    EXPECT_EQ(trace.object()->getSections().size(), 0u);
    trace.updateTrace(scene, points, true);
    EXPECT_EQ(trace.object()->getSections().size(), bound);
    line = drawnLine(trace);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), points.begin(), points.end())) << line.size() << " drawn";
}

TEST_F(LineDrawerTest, DestroyTakesDownItsOwnNodeAndARecreatedDrawerStartsFromTheFirstPoint)
{
    for (int i = 0; i < 6; ++i)
        add(float(i), 0, 0);
    // A second trace of its own name beside it stays untouched.
    LineDrawer other("mTraceDrawer/2", "TraceMaterialUI/2", Ogre::ColourValue(1, 0.5f, 0));
    bringUp(other, false);
    other.updateTrace(scene, points, true);
    for (bool nodeGoneBefore : {false, true}) {
        SCOPED_TRACE(nodeGoneBefore ? "its node destroyed by someone else" : "its node still there");
        bringUp(trace, false);
        trace.updateTrace(scene, points, true);
        EXPECT_EQ(trace.drawnIndex(), 5);
        if (nodeGoneBefore)
            scene->getRootSceneNode()->removeAndDestroyChild(trace.node());
        trace.destroy(scene);
        EXPECT_FALSE(scene->hasManualObject("mTraceDrawer"));
        EXPECT_EQ(scene->getRootSceneNode()->numChildren(), 1u) << "no node left behind";

        bringUp(trace, false);
        trace.updateTrace(scene, points, true);
        ASSERT_EQ(trace.object()->getSections().size(), 1u);
        EXPECT_EQ(vertices(trace, 0), 6u);
        trace.destroy(scene);
    }
    ASSERT_EQ(other.object()->getSections().size(), 1u);
    EXPECT_EQ(other.object()->getParentSceneNode(), other.node());
    EXPECT_EQ(other.node()->getParent(), scene->getRootSceneNode());
    EXPECT_EQ(other.object()->getSections()[0]->getMaterialName(), "TraceMaterialUI/2");
    other.destroy(scene);
    EXPECT_EQ(scene->getRootSceneNode()->numChildren(), 0u);
}

TEST_F(LineDrawerTest, TrajectoryIsRebuiltOnlyWhenDirty)
{
    bringUp(traj, true);
    bool dirty = true;
    for (int i = 0; i < 4; ++i)
        add(float(i), 1, 0);
    EXPECT_TRUE(traj.updateTrajectory(scene, points, dirty));
    EXPECT_FALSE(dirty);
    ASSERT_EQ(traj.object()->getSections().size(), 1u);
    EXPECT_EQ(vertices(traj, 0), 4u);
    EXPECT_EQ(traj.object()->getSections()[0]->getMaterialName(), "TrajMaterialUI");

    add(9, 9, 9); // not dirty: the line stays as it was
    EXPECT_FALSE(traj.updateTrajectory(scene, points, dirty));
    EXPECT_EQ(vertices(traj, 0), 4u);

    points.clear(); // an empty dirty trajectory clears the line and the flag
    dirty = true;
    traj.updateTrajectory(scene, points, dirty);
    EXPECT_FALSE(dirty);
    EXPECT_EQ(traj.object()->getSections().size(), 0u);
}

TEST_F(LineDrawerTest, DirtyFlagWaitsForTheRecreatedDrawer)
{
    bool dirty = true;
    add(0, 0, 0);
    add(1, 1, 1);
    EXPECT_TRUE(traj.updateTrajectory(scene, points, dirty)) << "object created";
    EXPECT_TRUE(traj.updateTrajectory(scene, points, dirty)) << "node created";
    EXPECT_TRUE(dirty);
    EXPECT_TRUE(traj.updateTrajectory(scene, points, dirty));
    EXPECT_FALSE(dirty);
    EXPECT_EQ(traj.object()->getSections().size(), 1u);
}

} // namespace
