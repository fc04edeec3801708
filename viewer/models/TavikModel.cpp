#include "viewer/models/TavikModel.h"

#include <OgreAnimation.h>
#include <OgreAnimationState.h>
#include <OgreAnimationTrack.h>
#include <OgreEntity.h>
#include <OgreKeyFrame.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSubEntity.h>

using namespace aircraft::tavik;

namespace {

const char* const kArmAnimationNames[] = {"LeftCnnAnimation", "RightCnnAnimation", "LeftWingAnimation",
                                          "RightWingAnimation"};

// One arm part's swing over the time line: flight position (the full angle) at 0, 15 and
// 20, landing position (identity) at 5 and 10. Wings pass half the angle half-way through
// each swing and turn about their pivot.
Ogre::AnimationState* createArmAnimation(Ogre::SceneManager* sceneMgr, const std::string& name, Ogre::SceneNode* node,
                                         float angle, const Ogre::Vector3& pivot, bool wing)
{
    Ogre::Animation* animation = sceneMgr->createAnimation(name, armtimeline::kLength);
    animation->setInterpolationMode(Ogre::Animation::IM_LINEAR);
    Ogre::NodeAnimationTrack* track = animation->createNodeTrack(0, node);
    struct Key {
        float time, share;
    };
    const Key connectionKeys[] = {{0.0f, 1.0f}, {5.0f, 0.0f}, {10.0f, 0.0f}, {15.0f, 1.0f}, {20.0f, 1.0f}};
    const Key wingKeys[] = {{0.0f, 1.0f},  {2.5f, 0.5f},  {5.0f, 0.0f}, {10.0f, 0.0f},
                            {12.5f, 0.5f}, {15.0f, 1.0f}, {20.0f, 1.0f}};
    auto addKeys = [&](const auto& keys) {
        for (const Key& k : keys) {
            Ogre::TransformKeyFrame* key = track->createNodeKeyFrame(k.time);
            key->setRotation(k.share == 0.0f ? Ogre::Quaternion::IDENTITY : eulerToQuaternion(k.share * angle, 0, 0));
            if (wing)
                key->setTranslate(pivot);
        }
    };
    if (wing)
        addKeys(wingKeys);
    else
        addKeys(connectionKeys);
    return sceneMgr->createAnimationState(name);
}

} // namespace

TavikModel::TavikModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent) : QuvorModel(sceneMgr, parent)
{
    mBodyMesh = "tavkBody.mesh";
    mGimbalYawMesh = "tavkGimbalYaw.mesh";
    mGimbalYawPos = toVector(kGimbalYaw);
    mGimbalRollMesh = "tavkGimbalRoll.mesh";
    mGimbalRollPos = toVector(kGimbalRoll);
    mCameraMesh = "tavkGimbalPitch.mesh";
    mCameraPos = toVector(kGimbalPitch);
    mLeftCnnMesh = "tavkLeftConnection.mesh";
    mLeftWingMesh = "tavkLeftWingChangeCenter.mesh";
    mLeftPivot = toVector(kLeftPivot);
    mRightCnnMesh = "tavkRightConnection.mesh";
    mRightWingMesh = "tavkRightWingChangeCenter.mesh";
    mRightPivot = toVector(kRightPivot);
    // The fans hang on the wings, so their positions are kept relative to the pivots.
    const struct {
        int number;
        aircraft::Point position, pivot;
    } fans[] = {{1, kFan1, kLeftPivot}, {4, kFan4, kLeftPivot}, {2, kFan2, kRightPivot}, {3, kFan3, kRightPivot}};
    for (const auto& f : fans) {
        Fan& fan = mFans[slotOfFan(f.number)];
        fan.mesh = "tavkFan" + std::to_string(f.number) + ".mesh";
        fan.position = toVector(f.position - f.pivot);
    }
}

void TavikModel::createScene(const std::string& prefix)
{
    createSceneBase(prefix);
    const char* const materials[] = {"blinn4SG", "blinn3SG", "ookkkk_initialShadingGroup"};
    for (unsigned i = 0; i < 3; ++i)
        mBodyEntity->getSubEntity(i)->setMaterialName(materials[i]);

    auto buildArm = [this](const char* connection, const std::string& connectionMesh, const char* wing,
                           const std::string& wingMesh, const Ogre::Vector3& pivot, int frontFan, int rearFan) {
        Ogre::Entity* cnn = attachPart(connection, connectionMesh, mBodyNode, Ogre::Vector3::ZERO);
        Ogre::Entity* wng = attachPart(wing, wingMesh, cnn->getParentSceneNode(), pivot);
        for (int number : {frontFan, rearFan}) {
            Fan& fan = mFans[slotOfFan(number)];
            fan.entity = attachPart("fan" + std::to_string(number), fan.mesh, wng->getParentSceneNode(), fan.position);
            fan.node = fan.entity->getParentSceneNode();
        }
        return std::make_pair(cnn, wng);
    };
    std::tie(mLeftCnnEntity, mLeftWingEntity) =
        buildArm("leftConnection", mLeftCnnMesh, "leftWing", mLeftWingMesh, mLeftPivot, 1, 4);
    std::tie(mRightCnnEntity, mRightWingEntity) =
        buildArm("rightConnection", mRightCnnMesh, "rightWing", mRightWingMesh, mRightPivot, 2, 3);
    mLeftCnnNode = mLeftCnnEntity->getParentSceneNode();
    mLeftWingNode = mLeftWingEntity->getParentSceneNode();
    mRightCnnNode = mRightCnnEntity->getParentSceneNode();
    mRightWingNode = mRightWingEntity->getParentSceneNode();

    mBodyNode->translate(0.0f, 60.0f, 0.0f, Ogre::Node::TS_PARENT);
    scaleBody(aircraft::kTavikScale);
}

void TavikModel::destroyScene()
{
    for (const char* name :
         {"leftConnection", "leftWing", "rightConnection", "rightWing", "fan1", "fan2", "fan3", "fan4"})
        mSceneMgr->destroyEntity(mPrefix + name);
    mLeftCnnEntity = mLeftWingEntity = mRightCnnEntity = mRightWingEntity = nullptr;
    mLeftCnnNode = mLeftWingNode = mRightCnnNode = mRightWingNode = nullptr;
    destroySceneBase();
}

void TavikModel::setInitialPose()
{
    QuvorModel::setInitialPose();
    mLeftCnnNode->yaw(Ogre::Degree(kLeftConnectionAngle), Ogre::Node::TS_LOCAL);
    mRightCnnNode->yaw(Ogre::Degree(kRightConnectionAngle), Ogre::Node::TS_LOCAL);
    mLeftWingNode->yaw(Ogre::Degree(kLeftWingAngle), Ogre::Node::TS_LOCAL);
    mRightWingNode->yaw(Ogre::Degree(kRightWingAngle), Ogre::Node::TS_LOCAL);
}

void TavikModel::createAnimations()
{
    mLeftCnnState = createArmAnimation(mSceneMgr, animationName(kArmAnimationNames[0]), mLeftCnnNode,
                                       kLeftConnectionAngle, Ogre::Vector3::ZERO, false);
    mRightCnnState = createArmAnimation(mSceneMgr, animationName(kArmAnimationNames[1]), mRightCnnNode,
                                        kRightConnectionAngle, Ogre::Vector3::ZERO, false);
    mLeftWingState = createArmAnimation(mSceneMgr, animationName(kArmAnimationNames[2]), mLeftWingNode, kLeftWingAngle,
                                        mLeftPivot, true);
    mRightWingState = createArmAnimation(mSceneMgr, animationName(kArmAnimationNames[3]), mRightWingNode,
                                         kRightWingAngle, mRightPivot, true);
    QuvorModel::createAnimations();
}

void TavikModel::destroyAnimations()
{
    QuvorModel::destroyAnimations();
    mMotorsOff = false;
    for (const char* name : kArmAnimationNames) {
        mSceneMgr->destroyAnimationState(animationName(name));
        mSceneMgr->destroyAnimation(animationName(name));
    }
    mLeftCnnState = mRightCnnState = mLeftWingState = mRightWingState = nullptr;
}

std::array<Ogre::AnimationState*, 4> TavikModel::armStates() const
{
    return {mLeftCnnState, mRightCnnState, mLeftWingState, mRightWingState};
}

void TavikModel::addTime(float seconds)
{
    QuvorModel::addTime(seconds);
    for (Ogre::AnimationState* state : armStates())
        state->addTime(seconds);
}

void TavikModel::setArmStatesEnabled(bool on)
{
    for (Ogre::AnimationState* state : armStates())
        state->setEnabled(on);
}

void TavikModel::setAnimationsEnabled(bool on)
{
    QuvorModel::setAnimationsEnabled(on);
    setArmStatesEnabled(on);
}

void TavikModel::setAnimationsLoop(bool on)
{
    QuvorModel::setAnimationsLoop(on);
    for (Ogre::AnimationState* state : armStates())
        state->setLoop(on);
}

void TavikModel::setTimePosition(float seconds)
{
    for (Ogre::AnimationState* state : mFanStates)
        state->setTimePosition(seconds);
    for (Ogre::AnimationState* state : armStates())
        state->setTimePosition(seconds);
}

void TavikModel::setLength(float seconds)
{
    for (Ogre::AnimationState* state : mFanStates)
        state->setLength(seconds);
    for (Ogre::AnimationState* state : armStates())
        state->setLength(seconds);
}

float TavikModel::timePosition() const { return mLeftCnnState->getTimePosition(); }

void TavikModel::applyTime(std::optional<float> t)
{
    if (t)
        setTimePosition(*t);
}

void TavikModel::enableMotion()
{
    if (mMotorsOff)
        setArmStatesEnabled(true);
    else
        setAnimationsEnabled(true);
}

void TavikModel::startMotors()
{
    if (mMotorsOff) {
        // The motors run again where they stopped: the fans turn, and in the landing hold
        // its animation runs as before.
        mMotorsOff = false;
        QuvorModel::setAnimationsEnabled(true);
        if (mFlags.landed)
            setArmStatesEnabled(true);
        return;
    }
    if (auto t = armtimeline::startMotors(mFlags)) {
        setTimePosition(*t);
        setAnimationsEnabled(true);
        setAnimationsLoop(true);
    }
}

void TavikModel::lowerArms()
{
    if (auto t = armtimeline::lowerArms(mFlags, timePosition(), mSavedTime)) {
        setTimePosition(*t);
        enableMotion();
    }
}

void TavikModel::raiseArms()
{
    if (auto t = armtimeline::raiseArms(mFlags, timePosition(), mSavedTime)) {
        setTimePosition(*t);
        enableMotion();
    }
}

void TavikModel::stopMotors()
{
    if (mFlags.flying || !mFlags.any()) {
        QuvorModel::stopMotors();
        mMotorsOff = false;
        return;
    }
    mMotorsOff = true;
    QuvorModel::setAnimationsEnabled(false); // the fans keep their angle
    // Every frame since the landing drew the arms at the landing position.
    if (mFlags.landed)
        setArmStatesEnabled(false);
}

void TavikModel::checkLowering()
{
    const bool wasLanded = mFlags.landed;
    applyTime(armtimeline::checkLowering(mFlags, timePosition()));
    // A lowering that ended with the motors off: the last frame drew the landing position,
    // where the arms now stay, so nothing moves any more.
    if (mMotorsOff && wasLanded && mFlags.landed)
        setArmStatesEnabled(false);
}

void TavikModel::checkRaising() { applyTime(armtimeline::checkRaising(mFlags, timePosition())); }

void TavikModel::pauseTransform()
{
    if (armtimeline::pause(mFlags, timePosition(), mSavedTime))
        setArmStatesEnabled(false);
}
