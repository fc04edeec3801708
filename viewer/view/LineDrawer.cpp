#include "viewer/view/LineDrawer.h"

#include <OgreManualObject.h>
#include <OgreMaterialManager.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreTechnique.h>

#include <algorithm>
#include <utility>

TraceStep planTraceStep(bool visible, int count, int drawn)
{
    TraceStep step;
    if (!visible || count <= 0) {
        step.action = TraceStep::Clear;
        step.drawn = 0;
        return step;
    }
    if (drawn >= count) {
        // The points were cleared and refilled since the last paint: the drawn
        // sections belong to the old list, so start over.
        step.action = count > 1 ? TraceStep::Draw : TraceStep::Clear;
        step.from = 0;
        step.to = count - 1;
        step.drawn = count > 1 ? count - 1 : 0;
        return step;
    }
    if (drawn + 1 < count) {
        step.action = TraceStep::Draw;
        step.from = drawn;
        step.to = count - 1;
        step.drawn = count - 1;
        return step;
    }
    step.drawn = drawn;
    return step;
}

LineDrawer::LineDrawer(std::string objectName, std::string materialName, const Ogre::ColourValue& colour, bool exact)
    : mObjectName(std::move(objectName)),
      mMaterialName(std::move(materialName)),
      mNodeName(mObjectName + "/node"),
      mColour(colour),
      mExact(exact)
{
}

bool LineDrawer::ready(Ogre::SceneManager* sceneMgr)
{
    if (!mObject) {
        mObject = sceneMgr->hasManualObject(mObjectName) ? sceneMgr->getManualObject(mObjectName)
                                                         : sceneMgr->createManualObject(mObjectName);
        if (mNode && !mObject->isAttached())
            mNode->attachObject(mObject);
        return false;
    }
    if (!mNode) {
        mNode = sceneMgr->hasSceneNode(mNodeName) ? sceneMgr->getSceneNode(mNodeName)
                                                  : sceneMgr->getRootSceneNode()->createChildSceneNode(mNodeName);
        if (!mObject->isAttached())
            mNode->attachObject(mObject);
        return false;
    }
    return true;
}

void LineDrawer::ensureMaterial()
{
    auto& materials = Ogre::MaterialManager::getSingleton();
    const auto group = Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
    if (materials.resourceExists(mMaterialName, group))
        return;
    Ogre::MaterialPtr material = materials.create(mMaterialName, group);
    material->setReceiveShadows(false);
    Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
    pass->setLightingEnabled(true);
    const Ogre::ColourValue lit = mExact ? Ogre::ColourValue::Black : mColour;
    pass->setDiffuse(lit.r, lit.g, lit.b, 0);
    pass->setAmbient(lit.r, lit.g, lit.b);
    pass->setSelfIllumination(mColour.r, mColour.g, mColour.b);
    pass->setPointSize(3);
    pass->setPointMinSize(3);
    pass->setPointMaxSize(3);
}

void LineDrawer::emitSection(const QList<Ogre::Vector3>& points, int from, int to)
{
    ensureMaterial();
    mObject->begin(mMaterialName, Ogre::RenderOperation::OT_LINE_STRIP,
                   Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME);
    for (int i = from; i <= to; ++i)
        mObject->position(points[i]);
    mObject->end();
}

void LineDrawer::extendTrace(const QList<Ogre::Vector3>& points, int from, int to)
{
    while (from < to) {
        const size_t sections = mObject->getSections().size();
        if (sections > 0 && from - mSectionStart + 1 < kSectionPoints) {
            // Room left in the last section: rewrite it into its own buffer, which was
            // sized for a full section when it was made.
            const int end = std::min(to, mSectionStart + kSectionPoints - 1);
            mObject->beginUpdate(sections - 1);
            for (int i = mSectionStart; i <= end; ++i)
                mObject->position(points[i]);
            mObject->end();
            from = end;
        } else {
            // The next section starts at the last drawn point, so the line stays joined.
            const int end = std::min(to, from + kSectionPoints - 1);
            emitSection(points, from, end);
            mSectionStart = from;
            from = end;
        }
    }
}

bool LineDrawer::updateTrajectory(Ogre::SceneManager* sceneMgr, const QList<Ogre::Vector3>& points, bool& dirty)
{
    if (!ready(sceneMgr))
        return true;
    if (!dirty)
        return false;
    mObject->clear();
    if (!points.isEmpty())
        emitSection(points, 0, points.size() - 1);
    dirty = false;
    return true;
}

bool LineDrawer::updateTrace(Ogre::SceneManager* sceneMgr, const QList<Ogre::Vector3>& points, bool visible)
{
    if (!ready(sceneMgr))
        return true;
    // Updated sections keep their buffers, written as the trace grows.
    mObject->setDynamic(true);
    mObject->estimateVertexCount(kSectionPoints);
    const TraceStep step = planTraceStep(visible, points.size(), mDrawn);
    const bool hadSections = !mObject->getSections().empty();
    if (step.action == TraceStep::Clear || (step.action == TraceStep::Draw && step.from == 0))
        mObject->clear();
    if (step.action == TraceStep::Draw)
        extendTrace(points, step.from, step.to);
    mDrawn = step.drawn;
    return step.action == TraceStep::Draw || (step.action == TraceStep::Clear && hadSections);
}

void LineDrawer::destroy(Ogre::SceneManager* sceneMgr)
{
    // By name: mNode may point at a node that went with its parent.
    mNode = nullptr;
    if (sceneMgr && sceneMgr->hasSceneNode(mNodeName))
        sceneMgr->destroySceneNode(mNodeName);
    if (sceneMgr && sceneMgr->hasManualObject(mObjectName))
        sceneMgr->destroyManualObject(mObjectName);
    mObject = nullptr;
    mDrawn = 0;
    mSectionStart = 0;
}
