#include <algorithm>
#include <filesystem>
#include <memory>

#include <QImage>
#include <gtest/gtest.h>

#include <OgreCompositionPass.h>
#include <OgreCompositionTargetPass.h>
#include <OgreCompositionTechnique.h>
#include <OgreCompositor.h>
#include <OgreCompositorManager.h>
#include <OgreSubEntity.h>

#include "tests/viewer/HeadlessOgre.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"

namespace {

// Defined by one of our scripts, not a built-in fallback such as "BaseWhite".
bool scriptedMaterial(const std::string& name)
{
    Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().getByName(name);
    return material && !material->getOrigin().empty();
}

} // namespace

TEST(Media, EveryMeshLoadsWithMaterialsThatExist)
{
    int meshes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(HeadlessOgre::mediaDir())) {
        if (entry.path().extension() != ".mesh")
            continue;
        ++meshes;
        const std::string name = entry.path().filename().string();
        Ogre::MeshPtr mesh = Ogre::MeshManager::getSingleton().load(name, "General");
        ASSERT_GT(mesh->getNumSubMeshes(), 0u) << name;
        for (const Ogre::SubMesh* sub : mesh->getSubMeshes())
            EXPECT_TRUE(scriptedMaterial(sub->getMaterialName())) << name << ": " << sub->getMaterialName();
    }
    EXPECT_EQ(meshes, 25); // what the three models load: 12 + 8 + 5
}

TEST(Media, SceneResourcesResolve)
{
    for (const char* name : {"Examples/CloudySky", "Examples/GrassFloor"}) {
        ASSERT_TRUE(scriptedMaterial(name)) << name;
        Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().getByName(name);
        const std::string texture = material->getTechnique(0)->getPass(0)->getTextureUnitState(0)->getTextureName();
        EXPECT_TRUE(std::filesystem::is_regular_file(HeadlessOgre::mediaDir() + "/" + texture)) << texture;
        QImage image(QString::fromStdString(HeadlessOgre::mediaDir() + "/" + texture));
        EXPECT_GE(image.width(), 256) << texture;
    }

    // The glow compositor draws the "glow" scheme, and something has a technique there.
    Ogre::CompositorPtr glow = Ogre::CompositorManager::getSingleton().getByName("Glow");
    ASSERT_TRUE(glow);
    ASSERT_GT(glow->getNumTechniques(), 0u);
    bool drawsGlowScheme = false;
    for (const Ogre::CompositionTargetPass* target : glow->getTechnique(0)->getTargetPasses())
        drawsGlowScheme |= target->getMaterialScheme() == "glow";
    EXPECT_TRUE(drawsGlowScheme);
    Ogre::MaterialPtr led = Ogre::MaterialManager::getSingleton().getByName("Quvor/LedRed");
    ASSERT_TRUE(led);
    led->load();
    const auto& techniques = led->getTechniques();
    EXPECT_TRUE(std::any_of(techniques.begin(), techniques.end(),
                            [](const Ogre::Technique* t) { return t->getSchemeName() == "glow"; }));
}

TEST(Media, WindowIconLoads)
{
    const char* bin = std::getenv("QUVOR_BIN_DIR");
    const QImage icon(QString(bin ? bin : "bin") + "/QuvorSimulator.ico");
    ASSERT_FALSE(icon.isNull());
    EXPECT_GE(icon.width(), 16);
    EXPECT_EQ(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)), 255);
}

// Each aircraft assembled and posed as the view poses it on the ground (no angles, world
// height 0): it must stand on the floor, the gimbal below the body, the rotors above.
class Assembled : public SceneTest {
protected:
    struct Bounds {
        float bottom = 1e9f, top = -1e9f;
    };
    Bounds worldBounds(const std::vector<std::string>& entities)
    {
        Bounds b;
        for (const std::string& name : entities) {
            const Ogre::AxisAlignedBox box = mScene->getEntity(name)->getWorldBoundingBox(true);
            b.bottom = std::min(b.bottom, box.getMinimum().y);
            b.top = std::max(b.top, box.getMaximum().y);
        }
        return b;
    }
};

TEST_F(Assembled, AircraftStandOnTheFloor)
{
    const std::string p = "QuvorSimulator/Context/1/";
    struct Case {
        std::unique_ptr<QuvorModel> model;
        bool vx7;
        std::vector<std::string> fans, gimbal;
    };
    Case cases[3] = {
        {std::make_unique<TavikModel>(mScene), false, {"fan1", "fan2", "fan3", "fan4"}, {"camera"}},
        {std::make_unique<NerioModel>(mScene), false, {"fan1", "fan2", "fan3", "fan4"}, {"camera"}},
        {std::make_unique<Vx7Model>(mScene), true, {"Vx7_fan1", "Vx7_fan2", "Vx7_fan3", "Vx7_fan4"}, {}},
    };
    for (Case& c : cases) {
        QuvorModel* model = c.model.get();
        model->createScene(p);
        model->createAnimations();
        model->setInitialPose();
        if (auto* tavik = dynamic_cast<TavikModel*>(model)) {
            // On the ground the arms stand in the landing position.
            tavik->setAnimationsEnabled(true);
            tavik->setTimePosition(5.0f);
            mScene->_applySceneAnimations();
        }
        if (c.vx7) {
            // Moved once so the rotors sit on their hubs.
            model->setAnimationsEnabled(true);
            model->addTime(0.0175f);
            mScene->_applySceneAnimations();
        }
        Ogre::SceneNode* body = model->bodyNode();
        body->setOrientation(Ogre::Quaternion::IDENTITY);
        body->pitch(Ogre::Degree(90));
        // Posed as the window poses it, on the model's own lift and heading.
        body->setPosition(0, model->groundLift(), 0);
        if (model->facesBackward())
            body->rotate(Ogre::Vector3::UNIT_Y, Ogre::Radian(Ogre::Math::PI));
        mScene->getRootSceneNode()->_update(true, false);

        std::vector<std::string> all;
        for (const auto& entity : mScene->getMovableObjects("Entity"))
            all.push_back(entity.first);
        for (const std::string& name : all)
            for (const Ogre::SubEntity* sub : mScene->getEntity(name)->getSubEntities())
                EXPECT_TRUE(scriptedMaterial(sub->getMaterialName())) << name << ": " << sub->getMaterialName();
        const Bounds whole = worldBounds(all);
        const std::string what = body->getName();
        // Bounds are padded by 1 %, a few scene units at these sizes.
        EXPECT_NEAR(whole.bottom, 0.0f, 8.0f) << what;
        const float centre = body->_getDerivedPosition().y;
        for (const std::string& fan : c.fans) {
            const float fanHeight = mScene->getSceneNode(p + fan)->_getDerivedPosition().y;
            if (!c.vx7) { // Vx7 fan nodes are moved about by their animation
                EXPECT_GT(fanHeight, centre) << what << " " << fan;
            }
            EXPECT_GT(worldBounds({p + fan}).top, centre) << what << " " << fan;
        }
        for (const std::string& part : c.gimbal)
            EXPECT_LT(worldBounds({p + part}).top, centre) << what << " " << part;

        model->destroyAnimations();
        model->destroyScene();
    }
}
