#include "view/SceneCamera.h"

#include <cmath>

const Ogre::Vector3 FollowCamera::HomePosition(0, 500, -2000);

Ogre::Vector3 ScenePlacement::worldToScene(double x, double y, double z, float speedRate)
{
    if (mOriginPending) {
        mLastWorld = Ogre::Vector3(float(x), float(y), float(z));
        mSceneTarget = Ogre::Vector3(float(-400 * y), float(400 * z), float(400 * x));
        mOriginPending = false;
    } else {
        mSceneTarget.x += float(-(y - mLastWorld.y) * 400 * speedRate);
        mSceneTarget.y = float(400 * z);
        mSceneTarget.z += float((x - mLastWorld.x) * 400 * speedRate);
        mLastWorld = Ogre::Vector3(float(x), float(y), float(z));
    }
    return mSceneTarget;
}

bool ScenePlacement::staysInside(double x, double y, double z, float speedRate, bool newOrigin) const
{
    double sx = -400 * y;
    double sz = 400 * x;
    if (!mOriginPending && !newOrigin) {
        sx = mSceneTarget.x - (y - mLastWorld.y) * 400 * speedRate;
        sz = mSceneTarget.z + (x - mLastWorld.x) * 400 * speedRate;
    }
    const double sy = 400 * z;
    // Written so that NaN fails.
    return std::abs(sx) <= SceneLimit && std::abs(sy) <= SceneLimit && std::abs(sz) <= SceneLimit;
}

void ScenePlacement::reset(bool newOrigin)
{
    mLastWorld = Ogre::Vector3::ZERO;
    mSceneTarget = Ogre::Vector3::ZERO;
    if (newOrigin)
        mOriginPending = true;
}

void FollowCamera::step(const Ogre::Vector3& target, float speedRate)
{
    const float d2 = mFollowCamPos.squaredDistance(target);
    const float k = 0.015f * speedRate;
    switch (mFollowState) {
    case Hold:
        if (d2 > 9000000.0f)
            mFollowState = Closing;
        else if (d2 < 1000000.0f)
            mFollowState = BackingOff;
        break;
    case Closing:
        if (d2 > 4000000.0f)
            mFollowCamPos += (target - mFollowCamPos) * k;
        else
            mFollowState = Hold;
        break;
    case BackingOff:
        if (d2 < 4000000.0f)
            mFollowCamPos -= (target - mFollowCamPos) * k;
        else
            mFollowState = Hold;
        break;
    default:
        mFollowState = Hold;
        break;
    }
}

void FollowCamera::reset()
{
    mFollowState = Hold;
    mFollowCamPos = HomePosition;
}

bool FixedCameraAim::needsAim(bool movable)
{
    if (movable) {
        mAimedOnce = false;
        return false;
    }
    const bool aim = !mAimedOnce;
    mAimedOnce = true;
    return aim;
}
