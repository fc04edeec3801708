#pragma once
#include "viewer/models/QuvorModel.h"

// The developer-platform quadcopter (product type 3): no gimbal, no arm transform. Its
// fan nodes sit at the body origin and the spin animation carries each rotor round its
// hub.
class Vx7Model : public QuvorModel {
public:
    explicit Vx7Model(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent = nullptr);

    void createScene(const std::string& prefix) override;
    void destroyScene() override;
    void startMotors() override;
    Ogre::AnimationState* createFanAnimation(const std::string& name, Ogre::SceneNode* node,
                                             const Ogre::Vector3& position) override;
};
