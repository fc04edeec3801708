#pragma once
#include <string>

#include <OgrePrerequisites.h>
#include <OgreQuaternion.h>
#include <OgreVector.h>

#include "viewer/models/AircraftLayout.h"
#include "viewer/models/ArmTimeline.h"

// Rotation from three angles in degrees: a about Y, b about Z, c about X (each alone is
// a plain rotation about that axis).
Ogre::Quaternion eulerToQuaternion(float a, float b, float c);

// An aircraft drawn by the visualiser: body, optional three-axis gimbal and four fans.
// Subclasses fill the mesh names and positions in their constructors; createScene builds
// the node tree under the parent node (the scene's root when none is given), and
// destroyScene takes away only the nodes and entities it built, so several aircraft and
// the view's lines can share one scene. Every name it gives (nodes, entities, animations)
// starts with the prefix. Model coordinates are x left, y nose, z down; the per-frame
// pose stands the body upright. GUI thread only.
class QuvorModel {
public:
    // Fan slots hold fan 1, fan 4, fan 2, fan 3 in this order.
    enum FanSlot { Fan1Slot = 0, Fan4Slot = 1, Fan2Slot = 2, Fan3Slot = 3 };
    static constexpr int kFanCount = 4;

    explicit QuvorModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent = nullptr);

    virtual void createScene(const std::string& prefix) = 0;
    virtual void destroyScene() = 0;
    virtual void setInitialPose();
    virtual void createAnimations();
    virtual void destroyAnimations();
    virtual void addTime(float seconds);
    virtual void stopMotors();
    virtual void lowerArms();
    virtual void raiseArms();
    virtual void checkLowering();
    virtual void checkRaising();
    virtual void startMotors();
    virtual void pauseTransform();
    // Takes one value and does nothing in every model: a place in the models'
    // interface kept free, so that a model that needs one more hook has it.
    virtual void reservedHook(int value);
    virtual ~QuvorModel();
    virtual void setAnimationsEnabled(bool on);
    virtual void setAnimationsLoop(bool on);
    virtual Ogre::AnimationState* createFanAnimation(const std::string& name, Ogre::SceneNode* node,
                                                     const Ogre::Vector3& position);

    Ogre::SceneNode* bodyNode() const { return mBodyNode; }
    // Gimbal nodes, null when the model has no such part (the gimbal debugging keys).
    Ogre::SceneNode* gimbalYawNode() const { return mGimbalYawNode; }
    Ogre::SceneNode* gimbalRollNode() const { return mGimbalRollNode; }
    Ogre::SceneNode* cameraNode() const { return mCameraNode; }
    Ogre::SceneNode* fanNode(int slot) const { return mFans[slot].node; }
    Ogre::AnimationState* fanState(int slot) const { return mFanStates[slot]; }
    const MotorFlags& flags() const { return mFlags; }
    const std::string& prefix() const { return mPrefix; }
    // Added to the scene height of every pose: the body origin's height above the floor
    // while the aircraft stands on the ground.
    float groundLift() const { return mGroundLift; }
    // A body mesh built facing backwards, turned half round about its vertical by the pose.
    bool facesBackward() const { return mFacesBackward; }

    QuvorModel(const QuvorModel&) = delete;
    QuvorModel& operator=(const QuvorModel&) = delete;

protected:
    struct Fan {
        Ogre::Entity* entity = nullptr;
        Ogre::SceneNode* node = nullptr;
        std::string mesh;
        Ogre::Vector3 position = Ogre::Vector3::ZERO;
    };

    // Body and gimbal parts; every createScene starts with it.
    void createSceneBase(const std::string& prefix);
    // Entities of the body and gimbal, then the body node with every node under it;
    // every destroyScene ends with it.
    void destroySceneBase();
    // With s = scale.width / (x extent of the body mesh): scales the body node by
    // scale.factor * s and lifts it by half the mesh height times s. The next pose
    // replaces the position. A body mesh without extent leaves the scale alone.
    void scaleBody(aircraft::BodyScale scale);
    static Ogre::Vector3 toVector(aircraft::Point p) { return Ogre::Vector3(p.x, p.y, p.z); }
    // Slot of fan number 1..4.
    static int slotOfFan(int number)
    {
        return number == 1 ? Fan1Slot : number == 4 ? Fan4Slot : number == 2 ? Fan2Slot : Fan3Slot;
    }

    // startMotors of the models without arm transform.
    void startFans();
    // Entity and node `prefix + name` under `parent`.
    Ogre::Entity* attachPart(const std::string& name, const std::string& mesh, Ogre::SceneNode* parent,
                             const Ogre::Vector3& position);

    // Animation `prefix + name`, unique per model in the scene.
    std::string animationName(const char* name) const { return mPrefix + name; }

    std::string mPrefix;
    int mFanType = 0;
    Ogre::SceneManager* mSceneMgr;
    Ogre::SceneNode* mParent;
    Ogre::SceneNode* mBodyNode = nullptr;
    Ogre::Entity* mBodyEntity = nullptr;
    std::string mBodyMesh;
    Ogre::Entity* mGimbalYawEntity = nullptr;
    Ogre::SceneNode* mGimbalYawNode = nullptr;
    std::string mGimbalYawMesh;
    Ogre::Vector3 mGimbalYawPos = Ogre::Vector3::ZERO;
    Ogre::Entity* mGimbalRollEntity = nullptr;
    Ogre::SceneNode* mGimbalRollNode = nullptr;
    std::string mGimbalRollMesh;
    Ogre::Vector3 mGimbalRollPos = Ogre::Vector3::ZERO;
    Ogre::Entity* mCameraEntity = nullptr;
    Ogre::SceneNode* mCameraNode = nullptr;
    std::string mCameraMesh;
    Ogre::Vector3 mCameraPos = Ogre::Vector3::ZERO;
    Fan mFans[kFanCount];
    Ogre::AnimationState* mFanStates[kFanCount] = {nullptr, nullptr, nullptr, nullptr};
    MotorFlags mFlags;
    float mGroundLift = aircraft::kGroundLift;
    bool mFacesBackward = false;
};
