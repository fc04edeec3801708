#pragma once
#include <array>

#include "viewer/models/QuvorModel.h"

// The transforming aircraft (default model): body, three-axis gimbal and two arm
// assemblies, each a connection swinging about the body axis and a wing on it that
// carries two fans. The arms and fans share one 20-second time line (ArmTimeline.h).
class TavikModel : public QuvorModel {
public:
    explicit TavikModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent = nullptr);

    void createScene(const std::string& prefix) override;
    void destroyScene() override;
    void setInitialPose() override;
    void createAnimations() override;
    void destroyAnimations() override;
    void addTime(float seconds) override;
    void lowerArms() override;
    void raiseArms() override;
    void checkLowering() override;
    void checkRaising() override;
    void startMotors() override;
    // Flying: as every model (all still, Stopped). During a transform, paused or landed
    // the fans stop where they stand and the state stays; landed, the arms stand still too.
    void stopMotors() override;
    void pauseTransform() override;
    void setAnimationsEnabled(bool on) override;
    void setAnimationsLoop(bool on) override;
    // Both act on all eight states (four fans, four arms).
    virtual void setTimePosition(float seconds);
    virtual void setLength(float seconds);

    // Time position of the arm time line (the left connection's state).
    float timePosition() const;
    Ogre::SceneNode* leftConnectionNode() const { return mLeftCnnNode; }
    Ogre::SceneNode* leftWingNode() const { return mLeftWingNode; }
    Ogre::SceneNode* rightConnectionNode() const { return mRightCnnNode; }
    Ogre::SceneNode* rightWingNode() const { return mRightWingNode; }
    Ogre::AnimationState* armState(int index) const { return armStates()[index]; }

private:
    std::array<Ogre::AnimationState*, 4> armStates() const;
    void setArmStatesEnabled(bool on);
    void applyTime(std::optional<float> t);
    // Starts the arm motion, and the fans unless the motors are off.
    void enableMotion();

    Ogre::Entity* mLeftCnnEntity = nullptr;
    Ogre::SceneNode* mLeftCnnNode = nullptr;
    std::string mLeftCnnMesh;
    Ogre::Entity* mLeftWingEntity = nullptr;
    Ogre::SceneNode* mLeftWingNode = nullptr;
    std::string mLeftWingMesh;
    Ogre::Vector3 mLeftPivot;
    Ogre::Entity* mRightCnnEntity = nullptr;
    Ogre::SceneNode* mRightCnnNode = nullptr;
    std::string mRightCnnMesh;
    Ogre::Entity* mRightWingEntity = nullptr;
    Ogre::SceneNode* mRightWingNode = nullptr;
    std::string mRightWingMesh;
    Ogre::Vector3 mRightPivot;
    Ogre::AnimationState* mLeftCnnState = nullptr;
    Ogre::AnimationState* mRightCnnState = nullptr;
    Ogre::AnimationState* mLeftWingState = nullptr;
    Ogre::AnimationState* mRightWingState = nullptr;
    float mSavedTime = 0.0f;
    // MotorStarted is 0 while the arms transform, pause or hold the landing.
    bool mMotorsOff = false;
};
