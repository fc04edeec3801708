#include "viewer/models/NerioModel.h"

#include <OgreEntity.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSubEntity.h>

using namespace aircraft::nerio;

NerioModel::NerioModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent) : QuvorModel(sceneMgr, parent)
{
    mBodyMesh = "nrioBody.mesh";
    mGimbalYawMesh = "nrioGimbalYaw.mesh";
    mGimbalYawPos = toVector(kGimbalYaw);
    mGimbalRollMesh = "nrioGimbalRoll.mesh";
    mGimbalRollPos = toVector(kGimbalRoll);
    mCameraMesh = "nrioGimbalPitch.mesh";
    mCameraPos = toVector(kGimbalPitch);
    const aircraft::Point positions[] = {kFan1, kFan2, kFan3, kFan4};
    for (int number = 1; number <= 4; ++number) {
        Fan& fan = mFans[slotOfFan(number)];
        fan.mesh = "nrioFan" + std::to_string(number) + ".mesh";
        fan.position = toVector(positions[number - 1]);
    }
}

void NerioModel::createScene(const std::string& prefix)
{
    createSceneBase(prefix);
    const char* const materials[] = {"initialShadingGroup", "lambert4SG.001", "lambert3SG_lambert4SG",
                                     "lambert3SG.001"};
    for (unsigned i = 0; i < 4; ++i)
        mBodyEntity->getSubEntity(i)->setMaterialName(materials[i]);
    for (int number = 1; number <= 4; ++number) {
        Fan& fan = mFans[slotOfFan(number)];
        fan.entity = attachPart("fan" + std::to_string(number), fan.mesh, mBodyNode, fan.position);
        fan.node = fan.entity->getParentSceneNode();
    }
    mBodyNode->translate(0.0f, 130.0f, 0.0f, Ogre::Node::TS_PARENT);
    scaleBody(aircraft::kNerioScale);
}

void NerioModel::destroyScene()
{
    for (int number = 1; number <= 4; ++number)
        mSceneMgr->destroyEntity(mPrefix + "fan" + std::to_string(number));
    destroySceneBase();
}

void NerioModel::startMotors() { startFans(); }
