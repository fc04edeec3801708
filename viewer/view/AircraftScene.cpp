#include "viewer/view/AircraftScene.h"

#include "common/Angles.h"
#include "common/ProductType.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"

#include <OgreCamera.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSubEntity.h>
#include <OgreTechnique.h>
#include <OgreViewport.h>
#include <Overlay/OgreFontManager.h>
#include <Overlay/OgreOverlay.h>
#include <Overlay/OgreOverlayContainer.h>
#include <Overlay/OgreOverlayManager.h>
#include <Overlay/OgrePanelOverlayElement.h>
#include <Overlay/OgreTextAreaOverlayElement.h>

#include <cmath>
#include <functional>

namespace {

const char* const kLabelFont = "SdkTrays/Caption";
const float kLabelCharHeight = 18;
const float kLabelGap = 4;

// Saturated, none of them green, pale or grey, none close to the trajectory's red.
const Ogre::ColourValue kPalette[AircraftScene::kPaletteSize] = {
    Ogre::ColourValue(0, 0, 1), // blue
    Ogre::ColourValue(1, 0.5f, 0), // orange
    Ogre::ColourValue(1, 0, 1), // magenta
    Ogre::ColourValue(1, 0.85f, 0), // yellow
    Ogre::ColourValue(0, 0, 0), // black
    Ogre::ColourValue(0.5f, 0, 0.75f), // purple
    Ogre::ColourValue(0.75f, 0, 0.2f), // crimson
    Ogre::ColourValue(0.55f, 0.27f, 0.07f), // brown
    Ogre::ColourValue(1, 0.35f, 0.65f), // pink
    Ogre::ColourValue(0, 0, 0.45f), // navy
    Ogre::ColourValue(0, 0.8f, 0.8f), // cyan
    Ogre::ColourValue(0.75f, 0.6f, 0.2f), // ochre
    Ogre::ColourValue(0.6f, 0.4f, 1), // violet
    Ogre::ColourValue(0.5f, 0, 0.35f), // plum
    Ogre::ColourValue(0.35f, 0.05f, 0.05f), // maroon
    Ogre::ColourValue(0.3f, 0.1f, 0.5f), // indigo
};

int paletteIndex(int index)
{
    return ((index % AircraftScene::kPaletteSize) + AircraftScene::kPaletteSize) % AircraftScene::kPaletteSize;
}

// The first aircraft keeps the single-aircraft view's names.
std::string traceObjectName(int index)
{
    return index == 0 ? std::string("mTraceDrawer") : "mTraceDrawer/" + std::to_string(index + 1);
}

// One material per colour, shared by the traces that wrap onto it.
std::string traceMaterialName(int index)
{
    const int colour = paletteIndex(index);
    return colour == 0 ? std::string("TraceMaterialUI") : "TraceMaterialUI/" + std::to_string(colour + 1);
}

Ogre::MaterialPtr dimmedMaterial(const Ogre::MaterialPtr& original)
{
    const std::string name = original->getName() + "/dimmed";
    auto& materials = Ogre::MaterialManager::getSingleton();
    if (Ogre::MaterialPtr existing = materials.getByName(name, original->getGroup()))
        return existing;
    Ogre::MaterialPtr dimmed = original->clone(name);
    for (Ogre::Technique* technique : dimmed->getTechniques())
        for (Ogre::Pass* pass : technique->getPasses()) {
            Ogre::ColourValue diffuse = pass->getDiffuse();
            diffuse.a *= AircraftScene::kDimAlpha;
            pass->setDiffuse(diffuse);
            pass->setSceneBlending(Ogre::SBT_TRANSPARENT_ALPHA);
            // Its own hidden parts show through instead of leaving holes in it.
            pass->setDepthWriteEnabled(false);
        }
    return dimmed;
}

} // namespace

bool labelPosition(const Ogre::Camera* camera, const Ogre::Vector3& world, float width, float height,
                   Ogre::Vector2& pixel)
{
    const Ogre::Vector4 clip =
        camera->getProjectionMatrix() * (camera->getViewMatrix() * Ogre::Vector4(world.x, world.y, world.z, 1));
    if (!(clip.w > 0))
        return false;
    const float x = clip.x / clip.w, y = clip.y / clip.w;
    if (!(std::abs(x) <= 1 && std::abs(y) <= 1))
        return false;
    pixel = Ogre::Vector2((x + 1) * 0.5f * width, (1 - y) * 0.5f * height);
    return true;
}

void forEachSubEntity(Ogre::SceneNode* node, const std::function<void(Ogre::SubEntity*)>& visit)
{
    for (Ogre::MovableObject* object : node->getAttachedObjects())
        if (auto* entity = dynamic_cast<Ogre::Entity*>(object))
            for (Ogre::SubEntity* sub : entity->getSubEntities())
                visit(sub);
    for (Ogre::Node* child : node->getChildren())
        forEachSubEntity(static_cast<Ogre::SceneNode*>(child), visit);
}

AircraftScene::AircraftScene(Ogre::SceneManager* sceneMgr, int index, std::string prefix)
    : mSceneMgr(sceneMgr),
      mIndex(index),
      mPrefix(std::move(prefix)),
      // The first keeps the single view's blue line; the palette's mixed colours need theirs exact.
      mTraceDrawer(traceObjectName(index), traceMaterialName(index), traceColour(index), index != 0)
{
    mNode = mSceneMgr->getRootSceneNode()->createChildSceneNode(mPrefix + "aircraft");
}

AircraftScene::~AircraftScene()
{
    releaseModel();
    mTraceDrawer.destroy(mSceneMgr);
    destroyLabel();
    mNode->removeAndDestroyAllChildren();
    mSceneMgr->destroySceneNode(mNode);
}

QuvorModel* AircraftScene::showModel(uint8_t productType)
{
    releaseModel();
    switch (productType) {
    case ProductNerio3:
        if (!mNerio)
            mNerio = std::make_unique<NerioModel>(mSceneMgr, mNode);
        mModel = mNerio.get();
        break;
    case ProductVx7:
        if (!mVx7)
            mVx7 = std::make_unique<Vx7Model>(mSceneMgr, mNode);
        mModel = mVx7.get();
        break;
    default:
        if (!mTavik)
            mTavik = std::make_unique<TavikModel>(mSceneMgr, mNode);
        mModel = mTavik.get();
        break;
    }
    mModel->createScene(mPrefix);
    mModel->createAnimations();
    mModel->setInitialPose();
    if (mDimmed)
        dim();
    return mModel;
}

void AircraftScene::releaseModel()
{
    if (!mModel)
        return;
    mOriginalMaterials.clear(); // their entities go with the scene
    mModel->destroyAnimations();
    mModel->destroyScene();
    mModel = nullptr;
    if (mLabelOverlay)
        mLabelOverlay->hide();
}

void AircraftScene::pose(float roll, float pitch, float yaw, const Ogre::Vector3& scenePos)
{
    const Ogre::Quaternion q = eulerToQuaternion(-yaw * 180.0f / float(Pi), 0, 0);
    // A non-finite yaw fails this test and leaves the body where it was.
    if (!(std::abs(q.Norm() - 1) < 1e-6f) || !mModel || !mModel->bodyNode())
        return;
    Ogre::Vector3 p = scenePos;
    p.y += mModel->groundLift();
    Ogre::SceneNode* body = mModel->bodyNode();
    body->setOrientation(q);
    body->pitch(Ogre::Degree(90), Ogre::Node::TS_LOCAL);
    body->yaw(Ogre::Radian(roll), Ogre::Node::TS_LOCAL);
    body->pitch(Ogre::Radian(-pitch), Ogre::Node::TS_LOCAL);
    body->setPosition(p);
    if (mModel->facesBackward())
        body->rotate(Ogre::Vector3::UNIT_Y, Ogre::Radian(Ogre::Math::PI), Ogre::Node::TS_LOCAL);
}

bool AircraftScene::appendTracePoint(const Ogre::Vector3& p)
{
    if (!mTracePoints.isEmpty()) {
        const Ogre::Vector3& last = mTracePoints.last();
        if (std::abs(p.x - last.x) < 1e-6f && std::abs(p.y - last.y) < 1e-6f && std::abs(p.z - last.z) < 1e-6f)
            return false;
    }
    mTracePoints.append(p);
    return true;
}

bool AircraftScene::clearTracePoints()
{
    const bool had = !mTracePoints.isEmpty();
    mTracePoints.clear();
    return had;
}

bool AircraftScene::updateTrace(bool visible) { return mTraceDrawer.updateTrace(mSceneMgr, mTracePoints, visible); }

void AircraftScene::destroyTraceDrawer() { mTraceDrawer.destroy(mSceneMgr); }

Ogre::ColourValue AircraftScene::traceColour(int index) { return kPalette[paletteIndex(index)]; }

void AircraftScene::setLabel(const QString& text)
{
    // A new caption lays the text out again: only when it changed.
    if (text == mLabel)
        return;
    mLabel = text;
    if (mLabelText)
        mLabelText->setCaption(Ogre::DisplayString(text.toStdString()));
}

void AircraftScene::setLabelVisible(bool on)
{
    mLabelVisible = on;
    if (!on && mLabelOverlay)
        mLabelOverlay->hide();
}

void AircraftScene::updateLabel(const Ogre::Camera* camera, const Ogre::Viewport* viewport)
{
    updateLabel(camera, float(viewport->getActualWidth()), float(viewport->getActualHeight()));
}

void AircraftScene::updateLabel(const Ogre::Camera* camera, float viewportWidth, float viewportHeight)
{
    if (!mLabelVisible || !mModel || !mModel->bodyNode()) {
        if (mLabelOverlay)
            mLabelOverlay->hide();
        return;
    }
    if (!mLabelOverlay)
        createLabel();
    if (!mLabelOverlay)
        return;
    // Over the top of the body in its current pose (its box is derived afresh, not
    // taken from the last frame's update).
    Ogre::SceneNode* body = mModel->bodyNode();
    Ogre::Vector3 anchor = body->_getDerivedPosition();
    if (body->numAttachedObjects() > 0) {
        const Ogre::AxisAlignedBox box = body->getAttachedObject(0)->getWorldBoundingBox(true);
        if (box.isFinite())
            anchor = Ogre::Vector3(box.getCenter().x, box.getMaximum().y, box.getCenter().z);
    }
    Ogre::Vector2 pixel;
    if (!labelPosition(camera, anchor, viewportWidth, viewportHeight, pixel)) {
        mLabelOverlay->hide();
        return;
    }
    // The text is centred on the panel's left edge and stands a little above the anchor.
    // Moved only by whole pixels: every move rebuilds the overlay's geometry.
    const Ogre::Vector2 at(std::round(pixel.x), std::round(pixel.y - kLabelCharHeight - kLabelGap));
    if (at != mLabelAt) {
        mLabelPanel->setPosition(at.x, at.y);
        mLabelAt = at;
    }
    if (!mLabelOverlay->isVisible())
        mLabelOverlay->show();
}

void AircraftScene::createLabel()
{
    auto* overlays = Ogre::OverlayManager::getSingletonPtr();
    if (!overlays)
        return;
    mLabelOverlay = overlays->create(mPrefix + "label");
    auto* panel =
        static_cast<Ogre::PanelOverlayElement*>(overlays->createOverlayElement("Panel", mPrefix + "label/panel"));
    panel->setTransparent(true); // only the text shows
    mLabelPanel = panel;
    mLabelPanel->setMetricsMode(Ogre::GMM_PIXELS);
    mLabelPanel->setDimensions(0, 0);
    mLabelText =
        static_cast<Ogre::TextAreaOverlayElement*>(overlays->createOverlayElement("TextArea", mPrefix + "label/text"));
    mLabelText->setMetricsMode(Ogre::GMM_PIXELS);
    mLabelText->setPosition(0, 0);
    mLabelText->setAlignment(Ogre::TextAreaOverlayElement::Center);
    mLabelText->setCharHeight(kLabelCharHeight);
    mLabelText->setColour(traceColour(mIndex));
    // A scene without the trays' media has no font; the label then draws nothing.
    if (Ogre::FontManager::getSingleton().getByName(kLabelFont))
        mLabelText->setFontName(kLabelFont);
    mLabelText->setCaption(Ogre::DisplayString(mLabel.toStdString()));
    mLabelPanel->addChild(mLabelText);
    mLabelOverlay->add2D(mLabelPanel);
    mLabelOverlay->hide();
}

void AircraftScene::destroyLabel()
{
    if (!mLabelOverlay)
        return;
    auto& overlays = Ogre::OverlayManager::getSingleton();
    mLabelOverlay->remove2D(mLabelPanel);
    mLabelPanel->removeChild(mLabelText->getName());
    overlays.destroyOverlayElement(mLabelText);
    overlays.destroyOverlayElement(mLabelPanel);
    overlays.destroy(mLabelOverlay);
    mLabelOverlay = nullptr;
    mLabelPanel = nullptr;
    mLabelText = nullptr;
}

void AircraftScene::setDimmed(bool on)
{
    if (on == mDimmed)
        return;
    mDimmed = on;
    if (!mModel)
        return;
    if (on)
        dim();
    else
        undim();
}

void AircraftScene::dim()
{
    forEachSubEntity(mNode, [this](Ogre::SubEntity* sub) {
        const Ogre::MaterialPtr& original = sub->getMaterial();
        if (!original)
            return;
        mOriginalMaterials.emplace_back(sub, original);
        sub->setMaterial(dimmedMaterial(original));
    });
}

void AircraftScene::undim()
{
    for (auto& entry : mOriginalMaterials)
        entry.first->setMaterial(entry.second);
    mOriginalMaterials.clear();
}
