#include "viewer/view/AircraftScene.h"

#include "tests/viewer/HeadlessOgre.h"
#include "common/ProductType.h"
#include "viewer/models/QuvorModel.h"
#include "viewer/view/TiledFloor.h"

#include <OgreManualObject.h>
#include <OgreMaterialManager.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreSubEntity.h>
#include <OgreTechnique.h>
#include <Overlay/OgreOverlay.h>
#include <Overlay/OgreOverlayManager.h>
#include <Overlay/OgreTextAreaOverlayElement.h>
#include <Overlay/OgreOverlaySystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>

namespace {

const std::string kContext = "QuvorSimulator/Context/1/";

std::string prefixOf(int index) { return kContext + "aircraft/" + std::to_string(index + 1) + "/"; }

bool startsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

std::vector<std::string> materialNames(Ogre::SceneNode* node)
{
    std::vector<std::string> names;
    forEachSubEntity(node, [&](Ogre::SubEntity* sub) { names.push_back(sub->getMaterialName()); });
    return names;
}

class AircraftSceneTest : public SceneTest {
protected:
    // The label needs the overlay manager, as in the window.
    static void SetUpTestSuite() { sOverlays = std::make_unique<Ogre::OverlaySystem>(); }
    static void TearDownTestSuite() { sOverlays.reset(); }

    void TearDown() override
    {
        aircraft.clear();
        SceneTest::TearDown();
    }

    AircraftScene& add(int index, uint8_t productType)
    {
        aircraft[index] = std::make_unique<AircraftScene>(mScene, index, prefixOf(index));
        aircraft[index]->showModel(productType);
        return *aircraft[index];
    }

    // Every node with its parent, every attached object with its node and every
    // animation state: (kind, name, where).
    using Item = std::tuple<std::string, std::string, std::string>;
    std::set<Item> sceneItems()
    {
        std::set<Item> items;
        std::function<void(Ogre::SceneNode*)> walk = [&](Ogre::SceneNode* node) {
            items.emplace("node", node->getName(), node->getParent() ? node->getParent()->getName() : "");
            for (Ogre::MovableObject* object : node->getAttachedObjects())
                items.emplace("object", object->getName(), node->getName());
            for (Ogre::Node* child : node->getChildren())
                walk(static_cast<Ogre::SceneNode*>(child));
        };
        walk(mScene->getRootSceneNode());
        for (const auto& state : mScene->getAnimationStates())
            items.emplace("animation", state.first, "");
        return items;
    }
    // The scene less what belongs to aircraft `a` (its prefix, its trace).
    std::set<Item> sceneWithout(const AircraftScene& a)
    {
        std::set<Item> items = sceneItems();
        const std::string trace = a.traceDrawer().objectName();
        for (auto it = items.begin(); it != items.end();) {
            const std::string& name = std::get<1>(*it);
            if (startsWith(name, a.prefix()) || name == trace || name == trace + "/node")
                it = items.erase(it);
            else
                ++it;
        }
        return items;
    }

    // Points along x, drawn until the trace hangs on its node.
    void drawTrace(AircraftScene& a, int points)
    {
        for (int i = 0; i < points; ++i)
            a.appendTracePoint(Ogre::Vector3(float(i), float(a.index()), 0));
        for (int i = 0; i < 3; ++i)
            a.updateTrace(true);
    }

    static std::unique_ptr<Ogre::OverlaySystem> sOverlays;
    std::map<int, std::unique_ptr<AircraftScene>> aircraft;
};

std::unique_ptr<Ogre::OverlaySystem> AircraftSceneTest::sOverlays;

TEST_F(AircraftSceneTest, EachAircraftRebuildsAndDestroysOnlyItsOwnSubtree)
{
    // What the window keeps beside the aircraft: camera, floor with its tiles, trajectory.
    Ogre::SceneNode* root = mScene->getRootSceneNode();
    Ogre::Camera* camera = mScene->createCamera("cam");
    root->createChildSceneNode("camNode")->attachObject(camera);
    Ogre::MeshManager::getSingleton().createPlane("testFloor", Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME,
                                                  Ogre::Plane(Ogre::Vector3::UNIT_Y, 0), 1000, 1000, 8, 8, true, 1, 1,
                                                  1, Ogre::Vector3::UNIT_Z, Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY,
                                                  Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY, true, true);
    Ogre::Entity* floor = mScene->createEntity("Floor", "testFloor");
    root->attachObject(floor);
    TiledFloor tiles(mScene, floor, camera, 4);
    LineDrawer trajectory("mTrajDrawer", "TrajMaterialUI", Ogre::ColourValue(1, 0, 0));
    bool dirty = true;
    const QList<Ogre::Vector3> plan = {Ogre::Vector3::ZERO, Ogre::Vector3::UNIT_X};
    for (int i = 0; i < 3; ++i)
        trajectory.updateTrajectory(mScene, plan, dirty);
    ASSERT_NE(trajectory.node(), nullptr);

    const uint8_t types[] = {ProductTavik1, ProductNerio3, ProductVx7};
    const char* const bodies[] = {"tavkBody.mesh", "nrioBody.mesh", "Vx7_body.mesh"};
    for (int i = 0; i < 3; ++i) {
        AircraftScene& a = add(i, types[i]);
        drawTrace(a, 4);
        ASSERT_NE(a.model(), nullptr);
        EXPECT_EQ(a.node()->getParent(), root);
        EXPECT_EQ(a.model()->bodyNode()->getParent(), a.node());
        EXPECT_EQ(a.model()->bodyNode()->getName(), prefixOf(i) + bodies[i]);
        EXPECT_TRUE(mScene->hasAnimationState(prefixOf(i) + "Fan1Aimation"));
        ASSERT_NE(a.traceDrawer().object(), nullptr);
        EXPECT_EQ(a.traceDrawer().object()->getParentSceneNode(), a.traceDrawer().node());
    }
    AircraftScene& b = *aircraft[1];
    const std::string bTrace = b.traceDrawer().objectName();
    const std::set<Item> others = sceneWithout(b);
    ASSERT_TRUE(others.count(Item("object", "Floor", root->getName())));
    ASSERT_TRUE(others.count(Item("object", "Floor/tile0", root->getName())));
    ASSERT_TRUE(others.count(Item("object", "mTraceDrawer", "mTraceDrawer/node")));
    ASSERT_TRUE(others.count(Item("object", "mTrajDrawer", "mTrajDrawer/node")));
    ASSERT_TRUE(others.count(Item("object", prefixOf(2) + "body", prefixOf(2) + "Vx7_body.mesh")));

    // A type change: 2 -> 3 -> 2 on the same node; the Nerio object comes back.
    QuvorModel* nerio = b.model();
    EXPECT_NE(b.showModel(ProductVx7), nerio);
    EXPECT_EQ(b.model()->bodyNode()->getParent(), b.node());
    EXPECT_FALSE(mScene->hasSceneNode(b.prefix() + "nrioBody.mesh"));
    EXPECT_TRUE(mScene->hasEntity(b.prefix() + "Vx7_fan1"));
    EXPECT_EQ(sceneWithout(b), others);
    EXPECT_EQ(b.showModel(ProductNerio3), nerio);
    EXPECT_EQ(b.model()->bodyNode()->getParent(), b.node());
    EXPECT_FALSE(mScene->hasSceneNode(b.prefix() + "Vx7_body.mesh"));
    EXPECT_EQ(sceneWithout(b), others);

    b.releaseModel();
    EXPECT_EQ(b.model(), nullptr);
    EXPECT_EQ(b.node()->numChildren(), 0u);
    EXPECT_FALSE(mScene->hasAnimationState(b.prefix() + "Fan1Aimation"));
    b.destroyTraceDrawer();
    EXPECT_FALSE(mScene->hasManualObject(bTrace));
    EXPECT_EQ(sceneWithout(b), others);
    drawTrace(b, 2); // the line comes back from the first point
    ASSERT_EQ(b.traceDrawer().object()->getSections().size(), 1u);

    aircraft.erase(1);
    EXPECT_EQ(sceneItems(), others) << "nothing of the destroyed aircraft is left, all else is";
    EXPECT_FALSE(mScene->hasManualObject(bTrace));

    trajectory.destroy(mScene);
}

TEST_F(AircraftSceneTest, TracesHaveTheirOwnNamesAndColours)
{
    AircraftScene& first = add(0, ProductTavik1);
    AircraftScene& second = add(1, ProductTavik1);
    EXPECT_EQ(first.traceDrawer().objectName(), "mTraceDrawer");
    EXPECT_EQ(first.traceDrawer().materialName(), "TraceMaterialUI");
    EXPECT_EQ(second.traceDrawer().objectName(), "mTraceDrawer/2");
    drawTrace(first, 3);
    drawTrace(second, 3);
    const Ogre::Pass* blue =
        Ogre::MaterialManager::getSingleton().getByName("TraceMaterialUI")->getTechnique(0)->getPass(0);
    EXPECT_EQ(blue->getSelfIllumination(), Ogre::ColourValue(0, 0, 1));
    const std::string secondMaterial = second.traceDrawer().object()->getSections()[0]->getMaterialName();
    EXPECT_NE(secondMaterial, "TraceMaterialUI");
    EXPECT_EQ(Ogre::MaterialManager::getSingleton()
                  .getByName(secondMaterial)
                  ->getTechnique(0)
                  ->getPass(0)
                  ->getSelfIllumination(),
              AircraftScene::traceColour(1));

    // Duplicates are dropped; both calls say whether the picture changes.
    EXPECT_FALSE(first.appendTracePoint(first.tracePoints().last()));
    EXPECT_EQ(first.tracePoints().size(), 3);
    EXPECT_TRUE(first.clearTracePoints());
    EXPECT_FALSE(first.clearTracePoints());
    EXPECT_TRUE(first.updateTrace(true)) << "the cleared line goes";
    EXPECT_EQ(first.traceDrawer().object()->getSections().size(), 0u);
    EXPECT_EQ(second.traceDrawer().object()->getSections().size(), 1u);
}

TEST(TraceColour, BlueFirstThenDistinctColoursApartFromGrassSkyAndTrajectory)
{
    EXPECT_EQ(AircraftScene::traceColour(0), Ogre::ColourValue(0, 0, 1));
    auto distance = [](const Ogre::ColourValue& a, const Ogre::ColourValue& b) {
        return std::sqrt((a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b));
    };
    const int n = AircraftScene::kPaletteSize;
    for (int i = 0; i < n; ++i) {
        const Ogre::ColourValue c = AircraftScene::traceColour(i);
        SCOPED_TRACE(i);
        EXPECT_FALSE(c.g > c.r && c.g > c.b) << "green is lost on the grass";
        EXPECT_LT(std::min({c.r, c.g, c.b}), 0.5f) << "pale is lost in the clouds";
        EXPECT_GT(distance(c, Ogre::ColourValue(1, 0, 0)), 0.3f) << "taken for the trajectory";
        for (int j = 0; j < i; ++j)
            EXPECT_GT(distance(c, AircraftScene::traceColour(j)), 0.25f) << j;
        EXPECT_EQ(AircraftScene::traceColour(i + n), c);
    }
}

TEST_F(AircraftSceneTest, DimmingOffRestoresTheVeryMaterials)
{
    AircraftScene& a = add(0, ProductTavik1);
    AircraftScene& other = add(1, ProductTavik1);
    const std::vector<std::string> original = materialNames(a.node());
    ASSERT_FALSE(original.empty());
    const float bodyAlpha =
        Ogre::MaterialManager::getSingleton().getByName("blinn4SG")->getTechnique(0)->getPass(0)->getDiffuse().a;

    a.setDimmed(true);
    const std::vector<std::string> dimmed = materialNames(a.node());
    ASSERT_EQ(dimmed.size(), original.size());
    for (size_t i = 0; i < dimmed.size(); ++i) {
        EXPECT_NE(dimmed[i], original[i]);
        const Ogre::MaterialPtr m = Ogre::MaterialManager::getSingleton().getByName(dimmed[i]);
        ASSERT_TRUE(m) << dimmed[i];
        EXPECT_TRUE(m->isTransparent()) << dimmed[i];
    }
    EXPECT_EQ(materialNames(other.node()), original) << "the other aircraft stays as it was";
    EXPECT_EQ(Ogre::MaterialManager::getSingleton().getByName("blinn4SG")->getTechnique(0)->getPass(0)->getDiffuse().a,
              bodyAlpha)
        << "the original material is left alone";

    a.setDimmed(false);
    EXPECT_EQ(materialNames(a.node()), original);

    // A model shown while dimmed is dimmed too, and comes back with its own materials.
    a.setDimmed(true);
    a.showModel(ProductNerio3);
    const std::vector<std::string> nerioDimmed = materialNames(a.node());
    for (const std::string& name : nerioDimmed)
        EXPECT_TRUE(Ogre::MaterialManager::getSingleton().getByName(name)->isTransparent()) << name;
    a.setDimmed(false);
    AircraftScene& plain = add(2, ProductNerio3);
    EXPECT_EQ(materialNames(a.node()), materialNames(plain.node()));
}

TEST_F(AircraftSceneTest, PoseTurnsTheBodyAndANonFiniteYawKeepsIt)
{
    AircraftScene& tavik = add(0, ProductTavik1);
    AircraftScene& vx7 = add(1, ProductVx7);
    const float halfPi = float(Ogre::Math::HALF_PI);
    // Model axes: y the nose, z down.
    struct Case {
        const char* name;
        float roll, pitch, yaw;
        Ogre::Vector3 nose, down;
    } const cases[] = {
        {"level", 0, 0, 0, Ogre::Vector3::UNIT_Z, Ogre::Vector3::NEGATIVE_UNIT_Y},
        {"yawed a quarter turn", 0, 0, halfPi, Ogre::Vector3::NEGATIVE_UNIT_X, Ogre::Vector3::NEGATIVE_UNIT_Y},
        {"nose up", 0, halfPi, 0, Ogre::Vector3::UNIT_Y, Ogre::Vector3::UNIT_Z},
        {"rolled on its side", halfPi, 0, 0, Ogre::Vector3::UNIT_Z, Ogre::Vector3::UNIT_X},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Ogre::Vector3 at(10, 20, 30);
        tavik.pose(c.roll, c.pitch, c.yaw, at);
        vx7.pose(c.roll, c.pitch, c.yaw, at);
        const Ogre::SceneNode* body = tavik.model()->bodyNode();
        EXPECT_TRUE((body->getOrientation() * Ogre::Vector3::UNIT_Y).positionEquals(c.nose, 1e-5f));
        EXPECT_TRUE((body->getOrientation() * Ogre::Vector3::UNIT_Z).positionEquals(c.down, 1e-5f));
        EXPECT_TRUE(body->getPosition().positionEquals(at + Ogre::Vector3(0, tavik.model()->groundLift(), 0)));
        // The Vx7's mesh faces backwards: the same pose turned half round about the body's
        // own y; it rests on its origin.
        const Ogre::SceneNode* vx7Body = vx7.model()->bodyNode();
        const Ogre::Quaternion halfTurn(Ogre::Radian(Ogre::Math::PI), Ogre::Vector3::UNIT_Y);
        EXPECT_TRUE(vx7Body->getOrientation().equals(body->getOrientation() * halfTurn, Ogre::Degree(0.01f)));
        EXPECT_EQ(vx7Body->getPosition(), at);
    }
    const Ogre::Quaternion kept = tavik.model()->bodyNode()->getOrientation();
    const Ogre::Vector3 keptAt = tavik.model()->bodyNode()->getPosition();
    for (float yaw : {std::nanf(""), INFINITY}) {
        tavik.pose(0.3f, 0.2f, yaw, Ogre::Vector3(1, 2, 3));
        EXPECT_EQ(tavik.model()->bodyNode()->getOrientation(), kept);
        EXPECT_EQ(tavik.model()->bodyNode()->getPosition(), keptAt);
    }
    tavik.releaseModel();
    tavik.pose(0, 0, 0, Ogre::Vector3::ZERO); // nothing shown: nothing to place
}

TEST_F(AircraftSceneTest, LabelStaysOverTheBodyAndHidesBehindTheCamera)
{
    Ogre::Camera* camera = mScene->createCamera("cam");
    Ogre::SceneNode* eye = mScene->getRootSceneNode()->createChildSceneNode("eye", Ogre::Vector3(0, 0, 3000));
    eye->attachObject(camera);
    camera->setAspectRatio(800.0f / 600.0f);
    camera->setNearClipDistance(5);

    AircraftScene& a = add(0, ProductTavik1);
    AircraftScene& b = add(1, ProductNerio3);
    a.setLabel("Tavik1 #1");
    b.setLabel("Nerio3 #2");
    a.updateLabel(camera, 800, 600);
    EXPECT_TRUE(!a.labelOverlay() || !a.labelOverlay()->isVisible()) << "hidden until asked for";

    a.setLabelVisible(true);
    b.setLabelVisible(true);
    a.pose(0, 0, 0, Ogre::Vector3::ZERO);
    b.pose(0, 0, 0, Ogre::Vector3(500, 0, 0));
    a.updateLabel(camera, 800, 600);
    b.updateLabel(camera, 800, 600);
    ASSERT_NE(a.labelOverlay(), nullptr);
    ASSERT_NE(b.labelOverlay(), nullptr);
    EXPECT_TRUE(a.labelOverlay()->isVisible());
    auto& overlays = Ogre::OverlayManager::getSingleton();
    const Ogre::OverlayElement* panelA = overlays.getOverlayElement(a.prefix() + "label/panel");
    const Ogre::OverlayElement* panelB = overlays.getOverlayElement(b.prefix() + "label/panel");
    Ogre::Vector2 body;
    ASSERT_TRUE(labelPosition(camera, a.model()->bodyNode()->_getDerivedPosition(), 800, 600, body));
    EXPECT_NEAR(body.x, 400, 1);
    EXPECT_NEAR(panelA->getLeft(), 400, 1) << "centred over the body";
    EXPECT_LT(panelA->getTop(), body.y - 10) << "above the body";
    EXPECT_GT(panelB->getLeft(), 450) << "the other aircraft's label over its own body";
    EXPECT_EQ(static_cast<const Ogre::TextAreaOverlayElement*>(overlays.getOverlayElement(a.prefix() + "label/text"))
                  ->getCaption(),
              "Tavik1 #1");

    eye->yaw(Ogre::Degree(180)); // the aircraft now behind the camera
    a.updateLabel(camera, 800, 600);
    EXPECT_FALSE(a.labelOverlay()->isVisible());
    EXPECT_FALSE(labelPosition(camera, Ogre::Vector3::ZERO, 800, 600, body));
    eye->yaw(Ogre::Degree(180));
    a.updateLabel(camera, 800, 600);
    EXPECT_TRUE(a.labelOverlay()->isVisible());
    a.setLabelVisible(false);
    EXPECT_FALSE(a.labelOverlay()->isVisible());
    a.setLabelVisible(true);
    a.releaseModel();
    a.updateLabel(camera, 800, 600);
    EXPECT_FALSE(a.labelOverlay()->isVisible()) << "no body, no label";

    aircraft.erase(0);
    EXPECT_EQ(overlays.getByName(prefixOf(0) + "label"), nullptr);
    EXPECT_FALSE(overlays.hasOverlayElement(prefixOf(0) + "label/panel"));
    EXPECT_TRUE(b.labelOverlay()->isVisible());
}

} // namespace
