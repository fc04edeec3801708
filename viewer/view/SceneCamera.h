#pragma once

#include <OgreVector.h>

// World position (flight controller units, z up) to scene position (400 units
// per world unit, Y up). Height is absolute; the horizontal position integrates
// the displacement from a resettable origin, scaled by the speed rate.
class ScenePlacement {
public:
    Ogre::Vector3 worldToScene(double x, double y, double z, float speedRate);
    // True when worldToScene would keep every coordinate within ±SceneLimit
    // (newOrigin: as if an origin were pending). Beyond it OGRE's bounds overflow.
    bool staysInside(double x, double y, double z, float speedRate, bool newOrigin) const;
    // Zeroes the bookkeeping; with newOrigin the next position becomes the origin.
    void reset(bool newOrigin);

    static constexpr double SceneLimit = 1e7;

    bool mOriginPending = true;
    Ogre::Vector3 mLastWorld = Ogre::Vector3::ZERO;
    Ogre::Vector3 mSceneTarget = Ogre::Vector3::ZERO;
};

// Follow camera: holds still while 1000 to 3000 units from the aircraft, and
// once outside that band moves by 1.5 % of the offset per 20 ms frame (times the
// speed rate) until it is back at 2000 units. A step covers `seconds` of real
// time, so the camera keeps its pace whatever the frame rate.
class FollowCamera {
public:
    enum State { Hold = 0, Closing = 1, BackingOff = 2 };

    static const Ogre::Vector3 HomePosition;
    static constexpr float kFrameSeconds = 0.02f;

    // True when the step moved the camera or changed its state.
    bool step(const Ogre::Vector3& target, float speedRate, float seconds = kFrameSeconds);
    void reset();

    Ogre::Vector3 mFollowCamPos = HomePosition;
    int32_t mFollowState = Hold;
};

// The fixed camera is aimed at the aircraft once each time the movable camera is turned off.
class FixedCameraAim {
public:
    // True when the fixed camera should look at the aircraft now.
    bool needsAim(bool movable);

private:
    bool mAimedOnce = false;
};
