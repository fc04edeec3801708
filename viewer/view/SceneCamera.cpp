#include "viewer/view/SceneCamera.h"

#include <algorithm>
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

namespace {
// Share of the offset covered in `frames` 20 ms frames that each cover `k` of it
// (k < 0: the offset grows). One frame gives k exactly.
float compoundShare(float k, float frames)
{
    if (frames == 1.0f || !(k > -1.0f && k < 1.0f))
        return k * frames;
    return 1.0f - std::pow(1.0f - k, frames);
}
} // namespace

bool FollowCamera::step(const Ogre::Vector3& target, float speedRate, float seconds)
{
    const float d2 = mFollowCamPos.squaredDistance(target);
    const float k = 0.015f * speedRate;
    // A stalled frame is not made up for beyond one second.
    const float frames = std::clamp(seconds, 0.0f, 1.0f) / kFrameSeconds;
    const Ogre::Vector3 before = mFollowCamPos;
    const int32_t state = mFollowState;
    switch (mFollowState) {
    case Hold:
        if (d2 > 9000000.0f)
            mFollowState = Closing;
        else if (d2 < 1000000.0f)
            mFollowState = BackingOff;
        break;
    case Closing:
        if (d2 > 4000000.0f)
            mFollowCamPos += (target - mFollowCamPos) * compoundShare(k, frames);
        else
            mFollowState = Hold;
        break;
    case BackingOff:
        if (d2 < 4000000.0f)
            mFollowCamPos -= (target - mFollowCamPos) * -compoundShare(-k, frames);
        else
            mFollowState = Hold;
        break;
    default: mFollowState = Hold; break;
    }
    return mFollowState != state || mFollowCamPos != before;
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
