#include "viewer/models/Vx7Model.h"

#include "common/Angles.h"

#include <cmath>

#include <OgreAnimation.h>
#include <OgreAnimationTrack.h>
#include <OgreEntity.h>
#include <OgreKeyFrame.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSubEntity.h>

using namespace aircraft::vx7;

Vx7Model::Vx7Model(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent) : QuvorModel(sceneMgr, parent)
{
    mFanType = 0;
    // Its body mesh rests on the floor at its origin and faces backwards.
    mGroundLift = 0;
    mFacesBackward = true;
    mBodyMesh = "Vx7_body.mesh";
    const char* const meshes[] = {"Vx7a.mesh", "Vx7b.mesh", "Vx7c.mesh", "Vx7d.mesh"};
    for (int number = 1; number <= 4; ++number)
        mFans[slotOfFan(number)].mesh = meshes[number - 1];
}

void Vx7Model::createScene(const std::string& prefix)
{
    createSceneBase(prefix);
    mBodyEntity->getSubEntity(0)->setMaterialName("lambert4SG.001");
    for (int number = 1; number <= 4; ++number) {
        Fan& fan = mFans[slotOfFan(number)];
        fan.entity = attachPart("Vx7_fan" + std::to_string(number), fan.mesh, mBodyNode, Ogre::Vector3::ZERO);
        fan.node = fan.entity->getParentSceneNode();
    }
    scaleBody(aircraft::kVx7Scale);
}

void Vx7Model::destroyScene()
{
    for (int number = 1; number <= 4; ++number)
        mSceneMgr->destroyEntity(mPrefix + "Vx7_fan" + std::to_string(number));
    destroySceneBase();
}

void Vx7Model::startMotors() { startFans(); }

Ogre::AnimationState* Vx7Model::createFanAnimation(const std::string& name, Ogre::SceneNode* node, const Ogre::Vector3&)
{
    Ogre::Animation* animation = mSceneMgr->createAnimation(name, 10.0f);
    Ogre::NodeAnimationTrack* track = animation->createNodeTrack(0, node);
    if (mFanType >= 1 && mFanType <= 4) {
        // The rotor mesh is centred off its origin, so each key frame carries the node
        // round a circle while it turns: the rotor spins in place on its hub.
        const double toRad = Pi / 180.0;
        const double hub = kHubAngle[mFanType] * toRad;
        const double phase = hub; // the phase of every fan equals its hub angle
        const double r = kHubRadius;
        int k = 0;
        for (float t = 0.0f; t <= 10.0f; t += 0.001f) {
            k = (k + 20) % 360;
            Ogre::TransformKeyFrame* key = track->createNodeKeyFrame(t);
            key->setRotation(eulerToQuaternion(0.0f, float(k), 0.0f));
            key->setTranslate(Ogre::Vector3(float(r * std::cos(k * toRad + phase) + r * std::cos(hub)),
                                            float(r * std::sin(k * toRad + phase) + r * std::sin(hub)), 0.0f));
        }
    }
    return mSceneMgr->createAnimationState(name);
}
