#include <cmath>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "tests/viewer/HeadlessOgre.h"
#include "common/Angles.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"

namespace {

const std::string kPrefix = "QuvorSimulator/Context/1/";

using namespace aircraft;

Ogre::Vector3 vec(Point p) { return Ogre::Vector3(p.x, p.y, p.z); }

void expectNear(const Ogre::Vector3& actual, const Ogre::Vector3& expected, float tolerance, const std::string& what)
{
    EXPECT_TRUE(actual.positionEquals(expected, tolerance)) << what << ": " << actual << " expected " << expected;
}

void expectSameRotation(const Ogre::Quaternion& actual, const Ogre::Quaternion& expected, const std::string& what)
{
    EXPECT_TRUE(actual.equals(expected, Ogre::Degree(0.05f))) << what << ": " << actual << " expected " << expected;
}

const Ogre::TransformKeyFrame* key(Ogre::SceneManager* scene, const std::string& animation, unsigned short index)
{
    return scene->getAnimation(animation)->getNodeTrack(0)->getNodeKeyFrame(index);
}

// Mean of a mesh's vertices: the hub of a rotor, whatever its number of blades.
Ogre::Vector3 vertexCentroid(const Ogre::MeshPtr& mesh)
{
    Ogre::Vector3 sum = Ogre::Vector3::ZERO;
    size_t count = 0;
    for (const Ogre::SubMesh* sub : mesh->getSubMeshes()) {
        const Ogre::VertexData* data = sub->useSharedVertices ? mesh->sharedVertexData : sub->vertexData;
        const Ogre::VertexElement* element = data->vertexDeclaration->findElementBySemantic(Ogre::VES_POSITION);
        Ogre::HardwareVertexBufferSharedPtr buffer = data->vertexBufferBinding->getBuffer(element->getSource());
        const auto* bytes = static_cast<const unsigned char*>(buffer->lock(Ogre::HardwareBuffer::HBL_READ_ONLY));
        for (size_t i = 0; i < data->vertexCount; ++i) {
            const float* p = nullptr;
            element->baseVertexPointerToElement(const_cast<unsigned char*>(bytes + i * buffer->getVertexSize()), &p);
            sum += Ogre::Vector3(p[0], p[1], p[2]);
        }
        buffer->unlock();
        count += data->vertexCount;
    }
    return sum / float(count);
}

class ModelTest : public SceneTest {
protected:
    template <class Model> Model* build()
    {
        auto model = std::make_unique<Model>(mScene);
        Model* raw = model.get();
        mModel = std::move(model);
        raw->createScene(kPrefix);
        raw->createAnimations();
        raw->setInitialPose();
        return raw;
    }

    void TearDown() override
    {
        if (mModel && mModel->bodyNode()) {
            mModel->destroyAnimations();
            mModel->destroyScene();
        }
        mModel.reset();
        SceneTest::TearDown();
    }

    // Runs the animations as a rendered frame would.
    void applyAnimations()
    {
        mScene->_applySceneAnimations();
        mScene->getRootSceneNode()->_update(true, false);
    }

    std::unique_ptr<QuvorModel> mModel;
};

struct NodeCase {
    std::string name, parent;
    Ogre::Vector3 position;
    std::string mesh; // of the entity with the node's name; empty: body (entity "body")
};

void expectTree(Ogre::SceneManager* scene, const std::vector<NodeCase>& cases)
{
    for (const NodeCase& c : cases) {
        ASSERT_TRUE(scene->hasSceneNode(kPrefix + c.name)) << c.name;
        Ogre::SceneNode* node = scene->getSceneNode(kPrefix + c.name);
        const std::string parent = c.parent.empty() ? scene->getRootSceneNode()->getName() : kPrefix + c.parent;
        EXPECT_EQ(node->getParent()->getName(), parent) << c.name;
        if (!c.mesh.empty()) {
            expectNear(node->getPosition(), c.position, 1e-5f, c.name);
            ASSERT_TRUE(scene->hasEntity(kPrefix + c.name)) << c.name;
            Ogre::Entity* entity = scene->getEntity(kPrefix + c.name);
            EXPECT_EQ(entity->getMesh()->getName(), c.mesh) << c.name;
            EXPECT_EQ(entity->getParentSceneNode(), node) << c.name;
        }
    }
}

} // namespace

TEST(EulerToQuaternion, EachAngleAloneTurnsAboutItsAxis)
{
    struct Case {
        float a, b, c;
        Ogre::Vector3 axis;
        float degrees;
    } const cases[] = {
        {30, 0, 0, Ogre::Vector3::UNIT_Y, 30}, {-50, 0, 0, Ogre::Vector3::UNIT_Y, -50},
        {0, 20, 0, Ogre::Vector3::UNIT_Z, 20}, {0, 340, 0, Ogre::Vector3::UNIT_Z, 340},
        {0, 0, 90, Ogre::Vector3::UNIT_X, 90}, {0, 0, 0, Ogre::Vector3::UNIT_X, 0},
    };
    for (const Case& c : cases) {
        const Ogre::Quaternion q = eulerToQuaternion(c.a, c.b, c.c);
        const Ogre::Quaternion expected(Ogre::Degree(c.degrees), c.axis);
        EXPECT_NEAR(std::fabs(q.Dot(expected)), 1.0f, 1e-6f) << c.a << " " << c.b << " " << c.c;
    }
    // A quarter turn about Z takes x to y: the fans' spin direction.
    expectNear(eulerToQuaternion(0, 90, 0) * Ogre::Vector3::UNIT_X, Ogre::Vector3::UNIT_Y, 1e-6f, "spin");
    // Mixed angles still give a unit rotation; a NaN angle does not (the pose relies on it).
    EXPECT_NEAR(eulerToQuaternion(33, -71, 152).Norm(), 1.0f, 1e-6f);
    EXPECT_FALSE(std::fabs(eulerToQuaternion(std::nanf(""), 0, 0).Norm() - 1.0f) < 1e-6f);
}

TEST_F(ModelTest, TavikTreeHangsTheFansOnTheWings)
{
    build<TavikModel>();
    using namespace tavik;
    expectTree(mScene,
               {
                   {"tavkBody.mesh", "", {}, ""},
                   {"gimbalYaw", "tavkBody.mesh", vec(kGimbalYaw), "tavkGimbalYaw.mesh"},
                   {"gimbalRoll", "gimbalYaw", vec(kGimbalRoll - kGimbalYaw), "tavkGimbalRoll.mesh"},
                   {"camera", "gimbalRoll", vec(kGimbalPitch - kGimbalRoll), "tavkGimbalPitch.mesh"},
                   {"leftConnection", "tavkBody.mesh", Ogre::Vector3::ZERO, "tavkLeftConnection.mesh"},
                   {"leftWing", "leftConnection", vec(kLeftPivot), "tavkLeftWingChangeCenter.mesh"},
                   {"fan1", "leftWing", vec(kFan1 - kLeftPivot), "tavkFan1.mesh"},
                   {"fan4", "leftWing", vec(kFan4 - kLeftPivot), "tavkFan4.mesh"},
                   {"rightConnection", "tavkBody.mesh", Ogre::Vector3::ZERO, "tavkRightConnection.mesh"},
                   {"rightWing", "rightConnection", vec(kRightPivot), "tavkRightWingChangeCenter.mesh"},
                   {"fan2", "rightWing", vec(kFan2 - kRightPivot), "tavkFan2.mesh"},
                   {"fan3", "rightWing", vec(kFan3 - kRightPivot), "tavkFan3.mesh"},
               });
    EXPECT_EQ(mScene->getEntity(kPrefix + "body")->getMesh()->getName(), "tavkBody.mesh");
}

TEST_F(ModelTest, NerioTreeHasGimbalAndFansOnTheBody)
{
    build<NerioModel>();
    using namespace nerio;
    expectTree(mScene,
               {
                   {"nrioBody.mesh", "", {}, ""},
                   {"gimbalYaw", "nrioBody.mesh", vec(kGimbalYaw), "nrioGimbalYaw.mesh"},
                   {"gimbalRoll", "gimbalYaw", vec(kGimbalRoll - kGimbalYaw), "nrioGimbalRoll.mesh"},
                   {"camera", "gimbalRoll", vec(kGimbalPitch - kGimbalRoll), "nrioGimbalPitch.mesh"},
                   {"fan1", "nrioBody.mesh", vec(kFan1), "nrioFan1.mesh"},
                   {"fan2", "nrioBody.mesh", vec(kFan2), "nrioFan2.mesh"},
                   {"fan3", "nrioBody.mesh", vec(kFan3), "nrioFan3.mesh"},
                   {"fan4", "nrioBody.mesh", vec(kFan4), "nrioFan4.mesh"},
               });
}

TEST_F(ModelTest, Vx7TreeIsBodyAndFansAtItsOrigin)
{
    build<Vx7Model>();
    expectTree(mScene,
               {
                   {"Vx7_body.mesh", "", {}, ""},
                   {"Vx7_fan1", "Vx7_body.mesh", Ogre::Vector3::ZERO, "Vx7a.mesh"},
                   {"Vx7_fan2", "Vx7_body.mesh", Ogre::Vector3::ZERO, "Vx7b.mesh"},
                   {"Vx7_fan3", "Vx7_body.mesh", Ogre::Vector3::ZERO, "Vx7c.mesh"},
                   {"Vx7_fan4", "Vx7_body.mesh", Ogre::Vector3::ZERO, "Vx7d.mesh"},
               });
    for (const char* part : {"gimbalYaw", "gimbalRoll", "camera"})
        EXPECT_FALSE(mScene->hasSceneNode(kPrefix + part)) << part;
    EXPECT_EQ(mModel->gimbalYawNode(), nullptr);
}

TEST_F(ModelTest, BodyMaterialsScaleAndStartingPose)
{
    struct Case {
        std::function<QuvorModel*()> build;
        std::vector<std::string> materials;
        float width, factor, lift;
    };
    const Case cases[] = {
        {[this] { return build<TavikModel>(); }, {"blinn4SG", "blinn3SG", "ookkkk_initialShadingGroup"}, 100, 1, 60},
        {[this] { return build<NerioModel>(); },
         {"initialShadingGroup", "lambert4SG.001", "lambert3SG_lambert4SG", "lambert3SG.001"},
         100,
         4,
         130},
        {[this] { return build<Vx7Model>(); }, {"lambert4SG.001"}, 400, 1, 0},
    };
    for (const Case& c : cases) {
        QuvorModel* model = c.build();
        Ogre::Entity* body = mScene->getEntity(kPrefix + "body");
        for (unsigned i = 0; i < c.materials.size(); ++i)
            EXPECT_EQ(body->getSubEntity(i)->getMaterialName(), c.materials[i]) << c.materials[i];
        const Ogre::Vector3 size = body->getBoundingBox().getSize();
        const float s = c.width / size.x;
        // Nerio: drawn at four times the width, lifted by the unscaled half height.
        expectNear(model->bodyNode()->getScale(), Ogre::Vector3(c.factor * s), 1e-3f, c.materials[0]);
        expectNear(model->bodyNode()->getPosition(), Ogre::Vector3(0, c.lift + 0.5f * size.y * s, 0), 1e-3f,
                   c.materials[0]);
        // The starting pose stands the body up: its z axis points down the scene's y.
        expectNear(model->bodyNode()->getOrientation() * Ogre::Vector3::UNIT_Z, Ogre::Vector3::NEGATIVE_UNIT_Y, 1e-6f,
                   c.materials[0]);
        model->destroyAnimations();
        model->destroyScene();
    }
}

TEST_F(ModelTest, FanAnimationsSpinTwentyDegreesPerCentisecond)
{
    QuvorModel* model = build<NerioModel>();
    const struct {
        std::string name;
        int slot;
    } fans[] = {{kPrefix + "Fan1Aimation", QuvorModel::Fan1Slot},
                {kPrefix + "Fan4Animation", QuvorModel::Fan4Slot},
                {kPrefix + "Fan2Animation", QuvorModel::Fan2Slot},
                {kPrefix + "Fan3Animation", QuvorModel::Fan3Slot}};
    for (const auto& fan : fans) {
        Ogre::Animation* animation = mScene->getAnimation(fan.name);
        EXPECT_FLOAT_EQ(animation->getLength(), 20.0f);
        EXPECT_EQ(animation->getInterpolationMode(), Ogre::Animation::IM_SPLINE);
        Ogre::NodeAnimationTrack* track = animation->getNodeTrack(0);
        EXPECT_EQ(track->getAssociatedNode(), model->fanNode(fan.slot));
        EXPECT_NEAR(track->getNumKeyFrames(), 2000, 1) << fan.name;
        for (unsigned short i : {0, 1, 16, 17, 18, 1999}) {
            const Ogre::TransformKeyFrame* k = key(mScene, fan.name, i);
            EXPECT_NEAR(k->getTime(), 0.01f * i, 1e-3f);
            const float degrees = float(((i + 1) * 20 - 1) % 360 + 1); // 20 .. 360, never 0
            expectSameRotation(k->getRotation(), Ogre::Quaternion(Ogre::Degree(degrees), Ogre::Vector3::UNIT_Z),
                               fan.name);
            expectNear(k->getTranslate(), model->fanNode(fan.slot)->getPosition(), 1e-6f, fan.name);
        }
        Ogre::AnimationState* state = model->fanState(fan.slot);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->getAnimationName(), fan.name);
        EXPECT_FALSE(state->getEnabled());
        EXPECT_FALSE(state->getLoop());
    }
}

TEST_F(ModelTest, Vx7FansTurnOnTheirOwnHubs)
{
    QuvorModel* model = build<Vx7Model>();
    const struct {
        std::string name;
        int slot, number;
    } fans[] = {{kPrefix + "Fan1Aimation", QuvorModel::Fan1Slot, 1},
                {kPrefix + "Fan4Animation", QuvorModel::Fan4Slot, 4},
                {kPrefix + "Fan2Animation", QuvorModel::Fan2Slot, 2},
                {kPrefix + "Fan3Animation", QuvorModel::Fan3Slot, 3}};
    for (const auto& fan : fans) {
        Ogre::Animation* animation = mScene->getAnimation(fan.name);
        EXPECT_FLOAT_EQ(animation->getLength(), 10.0f);
        EXPECT_EQ(animation->getInterpolationMode(), Ogre::Animation::IM_LINEAR);
        const unsigned short count = animation->getNodeTrack(0)->getNumKeyFrames();
        EXPECT_GE(count, 10000) << fan.name;
        EXPECT_LE(count, 10001) << fan.name;

        const double hubAngle = vx7::kHubAngle[fan.number] * Pi / 180.0;
        const Ogre::Vector3 hub(float(vx7::kHubRadius * std::cos(hubAngle)),
                                float(vx7::kHubRadius * std::sin(hubAngle)), 0.0f);
        // Angles run 20, 40, ..., 340, 0, 20: the 18th key frame is the one at 0 degrees.
        const Ogre::TransformKeyFrame* zero = key(mScene, fan.name, 17);
        expectSameRotation(zero->getRotation(), Ogre::Quaternion::IDENTITY, fan.name);
        expectNear(zero->getTranslate(), 2.0f * hub, 1e-5f, fan.name);
        EXPECT_NEAR(key(mScene, fan.name, 1)->getTime(), 0.001f, 1e-6f);

        // The rotor mesh is centred opposite the hub; every key frame must bring it onto
        // the hub, or the rotor would wobble round the body instead of spinning.
        const Ogre::Vector3 rotorCentre =
            vertexCentroid(mScene->getEntity(kPrefix + "Vx7_fan" + std::to_string(fan.number))->getMesh());
        for (unsigned short i : {0, 5, 17, 100, 4321, 9999}) {
            const Ogre::TransformKeyFrame* k = key(mScene, fan.name, i);
            const Ogre::Vector3 placed = k->getTranslate() + k->getRotation() * rotorCentre;
            expectNear(Ogre::Vector3(placed.x, placed.y, 0), hub, 2e-3f, fan.name);
        }
        EXPECT_EQ(model->fanState(fan.slot)->getAnimationName(), fan.name);
    }
}

TEST_F(ModelTest, NerioAndVx7MotorsStartOnceAndStopWhereTheFansStand)
{
    for (int kind = 0; kind < 2; ++kind) {
        QuvorModel* model = kind == 0 ? static_cast<QuvorModel*>(build<NerioModel>()) : build<Vx7Model>();
        model->stopMotors(); // stopped: nothing
        EXPECT_FALSE(model->flags().any());

        model->startMotors();
        EXPECT_TRUE(model->flags().flying);
        for (int slot = 0; slot < QuvorModel::kFanCount; ++slot) {
            EXPECT_TRUE(model->fanState(slot)->getEnabled());
            EXPECT_TRUE(model->fanState(slot)->getLoop());
        }
        model->addTime(0.055f);
        model->startMotors(); // already flying: the fans run on from where they are
        EXPECT_NEAR(model->fanState(0)->getTimePosition(), 0.055f, 1e-6f);
        // Arm triggers mean nothing to these models.
        model->lowerArms();
        model->raiseArms();
        model->pauseTransform();
        EXPECT_TRUE(model->flags().flying);

        applyAnimations();
        const Ogre::Quaternion turned = model->fanNode(0)->getOrientation();
        EXPECT_FALSE(turned.equals(Ogre::Quaternion::IDENTITY, Ogre::Degree(1)));
        model->stopMotors();
        EXPECT_FALSE(model->flags().any());
        EXPECT_FALSE(model->fanState(0)->getEnabled());
        model->addTime(0.03f);
        applyAnimations();
        expectSameRotation(model->fanNode(0)->getOrientation(), turned, "stopped fan keeps its angle");

        model->destroyAnimations();
        model->destroyScene();
    }
}

TEST_F(ModelTest, TavikArmAnimationsSwingBetweenFlightAndLanding)
{
    auto* model = build<TavikModel>();
    using namespace tavik;
    const struct {
        std::string name;
        Ogre::SceneNode* node;
        float angle;
        Ogre::Vector3 pivot;
    } arms[] = {
        {kPrefix + "LeftCnnAnimation", model->leftConnectionNode(), kLeftConnectionAngle, Ogre::Vector3::ZERO},
        {kPrefix + "RightCnnAnimation", model->rightConnectionNode(), kRightConnectionAngle, Ogre::Vector3::ZERO},
        {kPrefix + "LeftWingAnimation", model->leftWingNode(), kLeftWingAngle, vec(kLeftPivot)},
        {kPrefix + "RightWingAnimation", model->rightWingNode(), kRightWingAngle, vec(kRightPivot)}};
    // The starting pose is the flight position.
    for (const auto& arm : arms)
        expectSameRotation(arm.node->getOrientation(), eulerToQuaternion(arm.angle, 0, 0), arm.name);

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(model->armState(i)->getAnimationName(), arms[i].name);
        EXPECT_FALSE(model->armState(i)->getEnabled());
        EXPECT_FALSE(model->armState(i)->getLoop());
        EXPECT_EQ(mScene->getAnimation(arms[i].name)->getInterpolationMode(), Ogre::Animation::IM_LINEAR);
    }
    model->setAnimationsEnabled(true);
    const struct {
        float time, share;
    } times[] = {{0, 1}, {5, 0}, {7.5f, 0}, {10, 0}, {15, 1}, {17, 1}};
    for (const auto& t : times) {
        model->setTimePosition(t.time);
        applyAnimations();
        for (const auto& arm : arms) {
            const std::string what = std::string(arm.name) + " at " + std::to_string(t.time);
            expectSameRotation(arm.node->getOrientation(), eulerToQuaternion(t.share * arm.angle, 0, 0), what);
            expectNear(arm.node->getPosition(), arm.pivot, 1e-5f, what);
        }
    }
    // Wings pass their half angle half-way; the connections have no such key.
    model->setTimePosition(2.5f);
    applyAnimations();
    expectSameRotation(model->leftWingNode()->getOrientation(), eulerToQuaternion(0.5f * kLeftWingAngle, 0, 0),
                       "left wing half-way");

    // The assembled arm visibly moves: the fan tips travel between the two positions.
    model->setTimePosition(15);
    applyAnimations();
    const Ogre::Vector3 flight = model->fanNode(QuvorModel::Fan1Slot)->_getDerivedPosition();
    model->setTimePosition(5);
    applyAnimations();
    const Ogre::Vector3 landing = model->fanNode(QuvorModel::Fan1Slot)->_getDerivedPosition();
    const float scale = model->bodyNode()->getScale().x;
    EXPECT_GT(flight.distance(landing) / scale, 0.3f);
}

TEST_F(ModelTest, TavikTransformFollowsTheTimeLine)
{
    auto* model = build<TavikModel>();
    auto allStates = [&] {
        std::vector<Ogre::AnimationState*> states;
        for (int i = 0; i < 4; ++i)
            states.push_back(model->fanState(i)), states.push_back(model->armState(i));
        return states;
    };
    auto frame = [&](float seconds) {
        model->addTime(seconds);
        model->checkLowering();
        model->checkRaising();
    };
    auto expectTime = [&](float t, const char* what) {
        for (Ogre::AnimationState* state : allStates())
            EXPECT_NEAR(state->getTimePosition(), t, 1e-4f) << what << " " << state->getAnimationName();
    };

    model->lowerArms(); // stopped: ignored
    model->raiseArms();
    EXPECT_FALSE(model->flags().any());

    model->startMotors();
    EXPECT_TRUE(model->flags().flying);
    expectTime(15, "start");
    for (Ogre::AnimationState* state : allStates())
        EXPECT_TRUE(state->getEnabled() && state->getLoop()) << state->getAnimationName();
    frame(4.9f); // past 19.8: back to the start of the flight hold
    expectTime(15, "flight hold");

    model->lowerArms();
    EXPECT_TRUE(model->flags().lowering);
    expectTime(0, "lowering");
    frame(2.0f);
    model->raiseArms(); // 2 s into the lowering: raise from the mirrored time
    EXPECT_TRUE(model->flags().raising);
    expectTime(13, "reversed");
    frame(1.0f);
    model->lowerArms(); // at 14: lower from 1
    expectTime(1, "reversed again");
    frame(4.5f);
    EXPECT_TRUE(model->flags().landed);
    expectTime(5, "landed");
    model->startMotors(); // landed: no effect, the fans keep cycling through the hold
    EXPECT_TRUE(model->flags().landed);
    model->stopMotors(); // motors off in the hold: everything stands still, still landed
    EXPECT_TRUE(model->flags().landed);
    for (Ogre::AnimationState* state : allStates())
        EXPECT_FALSE(state->getEnabled()) << state->getAnimationName();
    model->startMotors(); // and on again: the hold runs as before
    EXPECT_TRUE(model->flags().landed);
    for (Ogre::AnimationState* state : allStates())
        EXPECT_TRUE(state->getEnabled()) << state->getAnimationName();
    model->pauseTransform(); // only during a swing
    EXPECT_TRUE(model->flags().landed);
    frame(5.5f);
    expectTime(5, "landing hold");

    model->raiseArms();
    expectTime(10, "raising");
    frame(1.5f);
    model->pauseTransform();
    EXPECT_TRUE(model->flags().paused);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(model->armState(i)->getEnabled());
        EXPECT_TRUE(model->fanState(i)->getEnabled());
    }
    frame(30.0f); // paused: the checks leave the time alone, resuming uses the saved time
    model->raiseArms();
    expectTime(11.5f, "resumed");
    EXPECT_TRUE(model->armState(0)->getEnabled());
    frame(3.6f);
    EXPECT_TRUE(model->flags().flying);
    expectTime(15, "flying again");

    model->stopMotors();
    EXPECT_FALSE(model->flags().any());
    for (Ogre::AnimationState* state : allStates())
        EXPECT_FALSE(state->getEnabled()) << state->getAnimationName();

    model->setLength(12.0f);
    for (Ogre::AnimationState* state : allStates())
        EXPECT_FLOAT_EQ(state->getLength(), 12.0f);
}

TEST_F(ModelTest, TavikMotorsOffStopTheFansWhereTheyStandAndTheArmsOnceLanded)
{
    auto* model = build<TavikModel>();
    std::vector<Ogre::AnimationState*> fans, arms;
    for (int i = 0; i < 4; ++i)
        fans.push_back(model->fanState(i)), arms.push_back(model->armState(i));
    auto frame = [&](float seconds) {
        model->addTime(seconds);
        model->checkLowering();
        model->checkRaising();
        applyAnimations();
    };
    auto enabled = [](const std::vector<Ogre::AnimationState*>& states) {
        int n = 0;
        for (Ogre::AnimationState* state : states)
            n += state->getEnabled();
        return n;
    };
    model->startMotors();
    frame(0.05f);
    model->lowerArms();
    frame(2.0f);
    // Motors off half-way down: the arms go on to the landing position, the fans stop.
    model->stopMotors();
    EXPECT_TRUE(model->flags().lowering);
    EXPECT_EQ(enabled(fans), 0);
    EXPECT_EQ(enabled(arms), 4);
    const Ogre::Quaternion fanAngle = model->fanNode(0)->getOrientation();
    frame(1.0f);
    frame(2.5f); // past 5: landed, drawn at the landing position
    EXPECT_TRUE(model->flags().landed);
    const Ogre::Quaternion landedArm = model->leftConnectionNode()->getOrientation();
    expectSameRotation(landedArm, Ogre::Quaternion::IDENTITY, "arm at the landing position");
    frame(0.02f);
    EXPECT_EQ(enabled(arms), 0) << "landed with the motors off, nothing is left to animate";
    for (const char* name : {"Fan1Aimation", "LeftCnnAnimation"})
        EXPECT_FALSE(mScene->getAnimationState(kPrefix + name)->getEnabled()) << name;
    frame(3.0f);
    expectSameRotation(model->fanNode(0)->getOrientation(), fanAngle, "fan keeps its angle");
    expectSameRotation(model->leftConnectionNode()->getOrientation(), landedArm, "arm stays");

    // Raising with the motors still off moves the arms only; the motors starting turn the fans.
    model->raiseArms();
    EXPECT_TRUE(model->flags().raising);
    EXPECT_EQ(enabled(fans), 0);
    EXPECT_EQ(enabled(arms), 4);
    frame(1.0f);
    model->pauseTransform();
    model->stopMotors(); // paused with the motors off: still paused, all still
    EXPECT_TRUE(model->flags().paused);
    EXPECT_EQ(enabled(fans) + enabled(arms), 0);
    model->startMotors();
    EXPECT_TRUE(model->flags().paused);
    EXPECT_EQ(enabled(fans), 4);
    EXPECT_EQ(enabled(arms), 0);
    model->raiseArms();
    frame(4.5f);
    EXPECT_TRUE(model->flags().flying);
    EXPECT_EQ(enabled(fans) + enabled(arms), 8);
    model->stopMotors(); // flying: stopped as before
    EXPECT_FALSE(model->flags().any());
    EXPECT_EQ(enabled(fans) + enabled(arms), 0);
}

TEST_F(ModelTest, RebuildRemovesOnlyItsOwnTree)
{
    // What else shares the scene: camera, light, a line's node, the floor and a second
    // aircraft whose animations carry the same names but its own prefix.
    Ogre::SceneNode* root = mScene->getRootSceneNode();
    Ogre::Camera* camera = mScene->createCamera("cam");
    root->createChildSceneNode("camNode")->createChildSceneNode("camPivot")->attachObject(camera);
    root->createChildSceneNode("lightNode")->attachObject(mScene->createLight("Light1"));
    root->createChildSceneNode("traceNode");
    Ogre::Entity* floor = mScene->createEntity("Floor", "nrioFan1.mesh");
    root->attachObject(floor);
    const std::string otherPrefix = "QuvorSimulator/Context/1/aircraft/2/";
    TavikModel other(mScene);
    other.createScene(otherPrefix);
    other.createAnimations();
    other.setInitialPose();

    Ogre::SceneNode* parent = root->createChildSceneNode("aircraft/1");
    mModel = std::make_unique<NerioModel>(mScene, parent);
    QuvorModel* model = mModel.get();
    for (int round = 0; round < 2; ++round) { // the same object builds again (a 2 -> 3 -> 2 switch)
        SCOPED_TRACE(round);
        model->createScene(kPrefix);
        model->createAnimations();
        model->setInitialPose();
        EXPECT_EQ(model->bodyNode()->getParent(), parent);
        EXPECT_TRUE(mScene->hasEntity(kPrefix + "fan4"));
        EXPECT_FALSE(model->fanState(0)->getEnabled());
        EXPECT_FALSE(model->flags().any());
        model->startMotors();

        model->destroyAnimations();
        EXPECT_FALSE(model->flags().any());
        EXPECT_FALSE(mScene->hasAnimation(kPrefix + "Fan1Aimation"));
        EXPECT_FALSE(mScene->hasAnimationState(kPrefix + "Fan1Aimation"));
        model->destroyScene();

        EXPECT_FALSE(mScene->hasSceneNode(kPrefix + "nrioBody.mesh"));
        EXPECT_FALSE(mScene->hasSceneNode(kPrefix + "fan1"));
        EXPECT_FALSE(mScene->hasEntity(kPrefix + "fan1"));
        EXPECT_FALSE(mScene->hasEntity(kPrefix + "body"));
        EXPECT_EQ(model->bodyNode(), nullptr);
        EXPECT_EQ(parent->numChildren(), 0u);
        EXPECT_TRUE(mScene->hasSceneNode("aircraft/1"));

        EXPECT_TRUE(mScene->hasSceneNode("traceNode"));
        EXPECT_TRUE(mScene->hasSceneNode("camPivot"));
        EXPECT_EQ(camera->getParentSceneNode()->getName(), "camPivot");
        EXPECT_TRUE(mScene->hasSceneNode("lightNode"));
        EXPECT_EQ(floor->getParentSceneNode(), root);
        EXPECT_TRUE(mScene->hasSceneNode(otherPrefix + "fan3"));
        EXPECT_EQ(other.bodyNode()->getParent(), root);
        EXPECT_TRUE(mScene->hasAnimationState(otherPrefix + "Fan1Aimation"));
        EXPECT_TRUE(mScene->hasAnimationState(otherPrefix + "LeftCnnAnimation"));
    }
    other.destroyAnimations();
    other.destroyScene();
    EXPECT_EQ(floor->getParentSceneNode(), root);
    EXPECT_TRUE(mScene->hasSceneNode("traceNode"));
}
