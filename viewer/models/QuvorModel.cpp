#include "viewer/models/QuvorModel.h"

#include "common/Angles.h"

#include <cmath>

#include <OgreAnimation.h>
#include <OgreAnimationState.h>
#include <OgreAnimationTrack.h>
#include <OgreEntity.h>
#include <OgreKeyFrame.h>
#include <OgreResourceGroupManager.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>

Ogre::Quaternion eulerToQuaternion(float a, float b, float c)
{
    const double toHalfRad = Pi / 360.0;
    const double A = a * toHalfRad, B = b * toHalfRad, H = c * toHalfRad;
    const double sA = std::sin(A), cA = std::cos(A);
    const double sB = std::sin(B), cB = std::cos(B);
    const double sH = std::sin(H), cH = std::cos(H);
    return Ogre::Quaternion(Ogre::Real(sH * sA * sB + cH * cA * cB), Ogre::Real(sH * cA * cB - sA * cH * sB),
                            Ogre::Real(sH * cA * sB + sA * cH * cB), Ogre::Real(cH * cA * sB - sH * sA * cB));
}

namespace {

const char* const kFanAnimationNames[QuvorModel::kFanCount] = {"Fan1Aimation", "Fan4Animation", "Fan2Animation",
                                                               "Fan3Animation"};
const int kFanNumbers[QuvorModel::kFanCount] = {1, 4, 2, 3};

} // namespace

QuvorModel::QuvorModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent) : mSceneMgr(sceneMgr), mParent(parent) { }

QuvorModel::~QuvorModel() = default;

Ogre::Entity* QuvorModel::attachPart(const std::string& name, const std::string& mesh, Ogre::SceneNode* parent,
                                     const Ogre::Vector3& position)
{
    Ogre::Entity* entity =
        mSceneMgr->createEntity(mPrefix + name, mesh, Ogre::ResourceGroupManager::AUTODETECT_RESOURCE_GROUP_NAME);
    parent->createChildSceneNode(mPrefix + name, position)->attachObject(entity);
    return entity;
}

void QuvorModel::createSceneBase(const std::string& prefix)
{
    mPrefix = prefix;
    if (mBodyMesh.empty())
        return;
    mBodyEntity = mSceneMgr->createEntity(mPrefix + "body", mBodyMesh,
                                          Ogre::ResourceGroupManager::AUTODETECT_RESOURCE_GROUP_NAME);
    Ogre::SceneNode* parent = mParent ? mParent : mSceneMgr->getRootSceneNode();
    mBodyNode = parent->createChildSceneNode(mPrefix + mBodyMesh);
    mBodyNode->attachObject(mBodyEntity);

    if (!mGimbalYawMesh.empty()) {
        mGimbalYawEntity = attachPart("gimbalYaw", mGimbalYawMesh, mBodyNode, mGimbalYawPos);
        mGimbalYawNode = mGimbalYawEntity->getParentSceneNode();
    }
    if (!mGimbalRollMesh.empty()) {
        mGimbalRollEntity = attachPart("gimbalRoll", mGimbalRollMesh, mGimbalYawNode, mGimbalRollPos - mGimbalYawPos);
        mGimbalRollNode = mGimbalRollEntity->getParentSceneNode();
    }
    if (!mCameraMesh.empty()) {
        mCameraEntity = attachPart("camera", mCameraMesh, mGimbalRollNode, mCameraPos - mGimbalRollPos);
        mCameraNode = mCameraEntity->getParentSceneNode();
    }
}

void QuvorModel::destroySceneBase()
{
    const std::pair<const std::string*, const char*> parts[] = {{&mBodyMesh, "body"},
                                                                {&mGimbalYawMesh, "gimbalYaw"},
                                                                {&mGimbalRollMesh, "gimbalRoll"},
                                                                {&mCameraMesh, "camera"}};
    for (const auto& part : parts)
        if (!part.first->empty())
            mSceneMgr->destroyEntity(mPrefix + part.second);

    // Only this model's own tree: other aircraft, the lines, the floor, the camera and
    // the light share the parent.
    if (mBodyNode) {
        mBodyNode->removeAndDestroyAllChildren();
        mSceneMgr->destroySceneNode(mBodyNode);
    }

    mBodyNode = mGimbalYawNode = mGimbalRollNode = mCameraNode = nullptr;
    mBodyEntity = mGimbalYawEntity = mGimbalRollEntity = mCameraEntity = nullptr;
    for (Fan& fan : mFans) {
        fan.entity = nullptr;
        fan.node = nullptr;
    }
}

void QuvorModel::scaleBody(aircraft::BodyScale scale)
{
    const Ogre::Vector3 size = mBodyEntity->getBoundingBox().getSize();
    if (!(size.x > 0.0f))
        return;
    const float s = scale.width / size.x;
    mBodyNode->setScale(Ogre::Vector3(scale.factor * s));
    mBodyNode->translate(0.0f, 0.5f * size.y * s, 0.0f, Ogre::Node::TS_PARENT);
    mBodyNode->setInitialState();
}

void QuvorModel::setInitialPose() { mBodyNode->pitch(Ogre::Degree(90), Ogre::Node::TS_LOCAL); }

void QuvorModel::createAnimations()
{
    for (int slot = 0; slot < kFanCount; ++slot) {
        mFanType = kFanNumbers[slot];
        mFanStates[slot] =
            createFanAnimation(animationName(kFanAnimationNames[slot]), mFans[slot].node, mFans[slot].position);
    }
    setAnimationsEnabled(false);
    setAnimationsLoop(false);
}

Ogre::AnimationState* QuvorModel::createFanAnimation(const std::string& name, Ogre::SceneNode* node,
                                                     const Ogre::Vector3& position)
{
    Ogre::Animation* animation = mSceneMgr->createAnimation(name, 20.0f);
    animation->setInterpolationMode(Ogre::Animation::IM_SPLINE);
    Ogre::NodeAnimationTrack* track = animation->createNodeTrack(0, node);
    // 20 degrees per 10 ms: one turn per 0.18 s of animation time.
    float degrees = 0.0f;
    for (float t = 0.0f; t < 20.0f; t += 0.01f) {
        degrees += 20.0f;
        if (degrees > 360.0f)
            degrees -= 360.0f;
        Ogre::TransformKeyFrame* key = track->createNodeKeyFrame(t);
        key->setRotation(eulerToQuaternion(0.0f, degrees, 0.0f));
        key->setTranslate(position);
    }
    return mSceneMgr->createAnimationState(name);
}

void QuvorModel::destroyAnimations()
{
    for (int slot = 0; slot < kFanCount; ++slot) {
        mSceneMgr->destroyAnimationState(animationName(kFanAnimationNames[slot]));
        mSceneMgr->destroyAnimation(animationName(kFanAnimationNames[slot]));
        mFanStates[slot] = nullptr;
    }
    mFlags.clear();
}

void QuvorModel::addTime(float seconds)
{
    for (Ogre::AnimationState* state : mFanStates)
        state->addTime(seconds);
}

void QuvorModel::setAnimationsEnabled(bool on)
{
    for (Ogre::AnimationState* state : mFanStates)
        state->setEnabled(on);
}

void QuvorModel::setAnimationsLoop(bool on)
{
    for (Ogre::AnimationState* state : mFanStates)
        state->setLoop(on);
}

void QuvorModel::stopMotors()
{
    if (!mFlags.flying)
        return;
    setAnimationsEnabled(false);
    mFlags.clear();
}

void QuvorModel::startFans()
{
    if (mFlags.any())
        return;
    mFlags.clear();
    mFlags.flying = true;
    setAnimationsEnabled(true);
    setAnimationsLoop(true);
}

void QuvorModel::startMotors() { }
void QuvorModel::lowerArms() { }
void QuvorModel::raiseArms() { }
void QuvorModel::checkLowering() { }
void QuvorModel::checkRaising() { }
void QuvorModel::pauseTransform() { }
void QuvorModel::reservedHook(int) { }
