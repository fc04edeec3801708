#include "viewer/view/GlowArea.h"

#include <OgreCamera.h>
#include <OgreCompositionPass.h>
#include <OgreCompositionTargetPass.h>
#include <OgreCompositionTechnique.h>
#include <OgreCompositorChain.h>
#include <OgreSceneNode.h>
#include <OgreViewport.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr DeviceRect kNone{0, 0, 0, 0};
// Grid of the quads handed to the pass: an eighth of the screen's half-width.
constexpr float kGrid = 0.125f;
} // namespace

DeviceRect coveringRect(const std::vector<Ogre::Vector4>& clipPoints, float marginX, float marginY)
{
    if (clipPoints.empty())
        return kNone;
    const float inf = std::numeric_limits<float>::infinity();
    float left = inf, right = -inf, top = -inf, bottom = inf;
    for (const Ogre::Vector4& p : clipPoints) {
        if (!(p.w > 1e-6f))
            return DeviceRect{};
        const float x = p.x / p.w, y = p.y / p.w;
        if (!std::isfinite(x) || !std::isfinite(y))
            return DeviceRect{};
        left = std::min(left, x);
        right = std::max(right, x);
        bottom = std::min(bottom, y);
        top = std::max(top, y);
    }
    DeviceRect r;
    r.left = std::clamp(left - marginX, -1.0f, 1.0f);
    r.right = std::clamp(right + marginX, -1.0f, 1.0f);
    r.bottom = std::clamp(bottom - marginY, -1.0f, 1.0f);
    r.top = std::clamp(top + marginY, -1.0f, 1.0f);
    return r.empty() ? kNone : r;
}

DeviceRect nextGlowQuad(const DeviceRect& current, const DeviceRect& needed)
{
    if (needed.empty())
        return current.empty() ? current : kNone;
    if (current.contains(needed) && current.area() <= 4 * needed.area() + 4 * kGrid * kGrid)
        return current;
    auto down = [](float v) { return std::clamp(std::floor(v / kGrid) * kGrid - kGrid, -1.0f, 1.0f); };
    auto up = [](float v) { return std::clamp(std::ceil(v / kGrid) * kGrid + kGrid, -1.0f, 1.0f); };
    return DeviceRect{down(needed.left), up(needed.top), up(needed.right), down(needed.bottom)};
}

GlowArea::GlowArea(Ogre::Camera* camera, Ogre::CompositorInstance* instance, std::function<void()> requestFrame)
    : mCamera(camera),
      mInstance(instance),
      mRequestFrame(std::move(requestFrame))
{
    for (Ogre::CompositionPass* pass : instance->getTechnique()->getOutputTargetPass()->getPasses())
        if (pass->getIdentifier() == kAddPassId)
            mPass = pass;
    Ogre::FloatRect q;
    if (mPass && mPass->getQuadCorners(q))
        mQuad = DeviceRect{q.left, q.top, q.right, q.bottom};
}

DeviceRect GlowArea::neededRect() const
{
    if (!mSource)
        return kNone;
    const Ogre::AxisAlignedBox& box = mSource->_getWorldAABB();
    if (box.isNull())
        return kNone;
    if (box.isInfinite())
        return DeviceRect{};
    const Ogre::Matrix4 viewProj = mCamera->getProjectionMatrix() * mCamera->getViewMatrix();
    std::vector<Ogre::Vector4> clip;
    clip.reserve(8);
    for (const Ogre::Vector3& corner : box.getAllCorners())
        clip.push_back(viewProj * Ogre::Vector4(corner.x, corner.y, corner.z, 1.0f));
    const Ogre::Viewport* viewport = mCamera->getViewport();
    const float width = viewport ? float(std::max(viewport->getActualWidth(), 1)) : 800.0f;
    const float height = viewport ? float(std::max(viewport->getActualHeight(), 1)) : 600.0f;
    return coveringRect(clip, 2 * kHaloPixels / width, 2 * kHaloPixels / height);
}

void GlowArea::notifyMaterialRender(Ogre::uint32 passId, Ogre::MaterialPtr&)
{
    if (passId != kAddPassId || !mPass)
        return;
    // Bounds and camera as this frame draws them; the pass's quad is compiled into the
    // chain, so a new one shows from the next frame on.
    const DeviceRect next = nextGlowQuad(mQuad, neededRect());
    if (next == mQuad)
        return;
    mQuad = next;
    mPass->setQuadCorners(Ogre::FloatRect(mQuad.left, mQuad.top, mQuad.right, mQuad.bottom));
    mInstance->getChain()->_markDirty();
    if (mRequestFrame)
        mRequestFrame();
}
