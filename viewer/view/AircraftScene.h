#pragma once

#include "viewer/view/LineDrawer.h"

#include <OgreColourValue.h>
#include <OgrePrerequisites.h>
#include <OgreVector.h>

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Ogre {
class Camera;
class Overlay;
class OverlayContainer;
class SceneManager;
class SceneNode;
class SubEntity;
class TextAreaOverlayElement;
class Viewport;
} // namespace Ogre
class QuvorModel;

// Where a label anchored at `world` goes on a viewport of width x height pixels (x to
// the right, y down); false when the point is behind the eye or off the screen.
bool labelPosition(const Ogre::Camera* camera, const Ogre::Vector3& world, float width, float height,
                   Ogre::Vector2& pixel);

// Calls visit for every sub-entity attached at or below node.
void forEachSubEntity(Ogre::SceneNode* node, const std::function<void(Ogre::SubEntity*)>& visit);

// One aircraft of the scene: a node of its own under the root with the model of its
// product type built under it, its trace line in its own colour and a label over the
// body. It names what it creates with its prefix (the trace with its index) and
// destroys only that, so aircraft come and go without touching each other, the floor
// or the other lines. GUI thread only.
class AircraftScene {
public:
    static constexpr int kPaletteSize = 16;

    // index: 0-based arrival number, which picks the trace colour and names the trace;
    // prefix: unique in the process (nodes, entities, animations, overlays).
    AircraftScene(Ogre::SceneManager* sceneMgr, int index, std::string prefix);
    ~AircraftScene();
    AircraftScene(const AircraftScene&) = delete;
    AircraftScene& operator=(const AircraftScene&) = delete;

    // Builds the model of productType (2 Nerio3, 3 Vx7, anything else Tavik1) under this
    // aircraft's node in its starting state, after releasing the one shown before (the
    // same type too, so this also resets it). One model object per type is made on
    // first use and kept.
    QuvorModel* showModel(uint8_t productType);
    // Destroys the shown model's animations and scene; the label hides with it.
    void releaseModel();
    QuvorModel* model() const { return mModel; }
    Ogre::SceneNode* node() const { return mNode; }
    int index() const { return mIndex; }
    const std::string& prefix() const { return mPrefix; }

    // Places the body from the attitude in radians and its scene position. A non-finite
    // yaw leaves the body where it was.
    void pose(float roll, float pitch, float yaw, const Ogre::Vector3& scenePos);

    // Trace points; a point equal to the last one is dropped. Both return true when the
    // next frame shows a change.
    bool appendTracePoint(const Ogre::Vector3& p);
    bool clearTracePoints();
    const QList<Ogre::Vector3>& tracePoints() const { return mTracePoints; }
    // After each rendered frame; true when it changed the scene (draw another frame).
    bool updateTrace(bool visible);
    // The line comes back on the following paints, drawn from the first point.
    void destroyTraceDrawer();
    const LineDrawer& traceDrawer() const { return mTraceDrawer; }

    // Index 0 is the blue of the single-aircraft view; then a fixed palette of
    // saturated colours that stand out on the grass and the cloudy sky and differ from
    // the red trajectory; it wraps after kPaletteSize.
    static Ogre::ColourValue traceColour(int index);

    // Text in the trace colour over the aircraft, hidden until made visible. Needs the
    // overlay system; without it there is no label.
    void setLabel(const QString& text);
    void setLabelVisible(bool on);
    // Once per frame, after the pose and the camera moved: keeps the label over the
    // body, hidden while the body is behind the camera or off screen.
    void updateLabel(const Ogre::Camera* camera, const Ogre::Viewport* viewport);
    void updateLabel(const Ogre::Camera* camera, float viewportWidth, float viewportHeight);
    Ogre::Overlay* labelOverlay() const { return mLabelOverlay; }

    // On: every part of the model drawn semi-transparent (clones of its materials,
    // shared by all dimmed aircraft), also for a model shown later; off: the very
    // materials it had.
    void setDimmed(bool on);
    bool dimmed() const { return mDimmed; }

    static constexpr float kDimAlpha = 0.35f;

private:
    void dim();
    void undim();
    void createLabel();
    void destroyLabel();

    Ogre::SceneManager* mSceneMgr;
    int mIndex;
    std::string mPrefix;
    Ogre::SceneNode* mNode = nullptr;
    std::unique_ptr<QuvorModel> mTavik, mNerio, mVx7;
    QuvorModel* mModel = nullptr;

    LineDrawer mTraceDrawer;
    QList<Ogre::Vector3> mTracePoints;

    QString mLabel;
    bool mLabelVisible = false;
    Ogre::Overlay* mLabelOverlay = nullptr;
    Ogre::OverlayContainer* mLabelPanel = nullptr;
    Ogre::TextAreaOverlayElement* mLabelText = nullptr;
    Ogre::Vector2 mLabelAt{-1, -1}; // where the label panel was placed last

    bool mDimmed = false;
    std::vector<std::pair<Ogre::SubEntity*, Ogre::MaterialPtr>> mOriginalMaterials;
};
