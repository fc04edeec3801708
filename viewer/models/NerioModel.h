#pragma once
#include "viewer/models/QuvorModel.h"

// The small quadcopter with a three-axis gimbal (product type 2).
class NerioModel : public QuvorModel {
public:
    explicit NerioModel(Ogre::SceneManager* sceneMgr, Ogre::SceneNode* parent = nullptr);

    void createScene(const std::string& prefix) override;
    void destroyScene() override;
    void startMotors() override;
};
