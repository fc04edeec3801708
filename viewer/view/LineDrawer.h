#pragma once

#include <OgreColourValue.h>
#include <OgreVector.h>

#include <QList>

#include <string>

namespace Ogre {
class ManualObject;
class SceneManager;
class SceneNode;
} // namespace Ogre

// What one paint does to the trace line, decided without OGRE.
struct TraceStep {
    enum Action { Keep, Draw, Clear } action = Keep;
    int from = 0; // Draw: first index of the new section (the last point already drawn)
    int to = 0; // Draw: last index, inclusive
    int drawn = 0; // index of the last drawn point after this paint
};

// visible: trace display on; count: number of trace points; drawn: index of the
// last point already emitted. A new batch continues the line from the last drawn
// point without redrawing the old part.
TraceStep planTraceStep(bool visible, int count, int drawn);

// A trace or the red trajectory: an OGRE manual object on its own node under the
// scene's root, kept up to date after every rendered frame. A drawer is created on
// one paint and attached to its node on the next; destroy() returns it to absent.
// The object and its node are found by name, so a drawer whose node someone else
// destroyed is still taken down cleanly. Names are unique per scene; drawers of one
// colour may share the material name.
class LineDrawer {
public:
    // exact: the line shows exactly its colour. Otherwise the light adds to it, which
    // keeps a pure red or blue but turns mixed colours such as orange to yellow.
    LineDrawer(std::string objectName, std::string materialName, const Ogre::ColourValue& colour, bool exact = false);

    // Both return true when they changed the scene, which then shows in the next frame.
    // Trajectory: rebuilds the whole line when dirty (and clears the flag).
    bool updateTrajectory(Ogre::SceneManager* sceneMgr, const QList<Ogre::Vector3>& points, bool& dirty);
    // Trace: adds the points that came since the last paint to the last section
    // until it holds kSectionPoints, then starts the next one at the last drawn
    // point. A paint costs at most one section's points, and an hour of flight is
    // a handful of draw calls instead of one per batch.
    bool updateTrace(Ogre::SceneManager* sceneMgr, const QList<Ogre::Vector3>& points, bool visible);
    void destroy(Ogre::SceneManager* sceneMgr);

    const std::string& objectName() const { return mObjectName; }
    const std::string& materialName() const { return mMaterialName; }
    const Ogre::ColourValue& colour() const { return mColour; }
    Ogre::ManualObject* object() const { return mObject; }
    Ogre::SceneNode* node() const { return mNode; }
    int drawnIndex() const { return mDrawn; }

    static constexpr int kSectionPoints = 2048;

private:
    // Creates the object or its node when missing; true when both already existed.
    bool ready(Ogre::SceneManager* sceneMgr);
    void ensureMaterial();
    void emitSection(const QList<Ogre::Vector3>& points, int from, int to);
    // Continues the trace from point `from` (already drawn, or 0 on an empty line) to `to`.
    void extendTrace(const QList<Ogre::Vector3>& points, int from, int to);

    std::string mObjectName;
    std::string mMaterialName;
    std::string mNodeName;
    Ogre::ColourValue mColour;
    bool mExact;
    Ogre::ManualObject* mObject = nullptr;
    Ogre::SceneNode* mNode = nullptr;
    // Per drawer: a recreated drawer starts again from the first point.
    int mDrawn = 0;
    // Index of the first point of the last trace section.
    int mSectionStart = 0;
};
