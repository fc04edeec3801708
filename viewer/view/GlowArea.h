#pragma once

#include <OgreCompositorInstance.h>
#include <OgreVector.h>

#include <functional>
#include <vector>

namespace Ogre {
class Camera;
class CompositionPass;
class SceneNode;
} // namespace Ogre

// A rectangle in normalised device coordinates: x to the right, y up, both -1..1.
struct DeviceRect {
    float left = -1, top = 1, right = 1, bottom = -1;
    bool empty() const { return !(left < right && bottom < top); }
    bool contains(const DeviceRect& o) const
    {
        return o.empty() || (left <= o.left && right >= o.right && bottom <= o.bottom && top >= o.top);
    }
    float area() const { return empty() ? 0.0f : (right - left) * (top - bottom); }
    bool operator==(const DeviceRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// The screen area that covers points given in clip space (x, y, z, w), widened by a
// margin (in device units) and kept on screen. A point on or behind the eye plane
// gives the whole screen; no points, or points off screen, an empty rectangle.
DeviceRect coveringRect(const std::vector<Ogre::Vector4>& clipPoints, float marginX, float marginY);

// The quad the glow pass keeps for `needed`: the current one while it covers what
// is needed without being far too large; otherwise `needed` widened to a coarse
// grid with one cell to spare, so that a slowly moving aircraft keeps its quad.
DeviceRect nextGlowQuad(const DeviceRect& current, const DeviceRect& needed);

// Only the aircraft's lights glow, so the pass that adds the small glow picture
// onto the view needs to cover the aircraft and its halo, not the whole screen.
// Listens to the "Glow" compositor instance of one viewport; when the aircraft
// leaves the quad of that pass (or the quad is far too large) it gives the pass a
// new quad, which takes effect from the next frame, and asks for that frame.
class GlowArea : public Ogre::CompositorInstance::Listener {
public:
    // Identifier of the compositor pass that adds the glow (set in the script).
    static constexpr Ogre::uint32 kAddPassId = 1;
    // Halo around the lights in pixels: the quarter-size picture is scaled up by 4
    // with bilinear filtering, so a light spreads over a few of its texels.
    static constexpr float kHaloPixels = 16;

    GlowArea(Ogre::Camera* camera, Ogre::CompositorInstance* instance, std::function<void()> requestFrame);

    // The node whose bounds hold everything that glows; null when nothing does.
    void setSource(const Ogre::SceneNode* node) { mSource = node; }
    const DeviceRect& quad() const { return mQuad; }

    void notifyMaterialRender(Ogre::uint32 passId, Ogre::MaterialPtr& material) override;

private:
    DeviceRect neededRect() const;

    Ogre::Camera* mCamera;
    Ogre::CompositorInstance* mInstance;
    Ogre::CompositionPass* mPass = nullptr;
    std::function<void()> mRequestFrame;
    const Ogre::SceneNode* mSource = nullptr;
    DeviceRect mQuad; // as compiled into the pass
};
