#pragma once
// Triangle meshes assembled from simple solids, one sub-mesh per material.
#include <map>
#include <string>
#include <vector>

#include <OgreMatrix3.h>
#include <OgreVector.h>

namespace media {

using V3 = Ogre::Vector3;

struct SubMeshData {
    std::vector<V3> positions;
    std::vector<V3> normals;
    std::vector<Ogre::Vector2> uvs;
    std::vector<Ogre::uint32> indices;
};

class MeshBuilder {
public:
    // Sub-meshes keep the order in which their materials first appear, so callers decide
    // which material is sub-mesh 0, 1, ...
    SubMeshData& sub(const std::string& material);

    // Box with centre, half extents and its own axes (orthonormal, right-handed).
    void box(const std::string& material, const V3& centre, const V3& half,
             const Ogre::Matrix3& axes = Ogre::Matrix3::IDENTITY);
    // Truncated cone from a (radius ra) to b (radius rb), closed at both ends.
    void tube(const std::string& material, const V3& a, const V3& b, float ra, float rb, int segments = 16);
    void ellipsoid(const std::string& material, const V3& centre, const V3& radii, int segments = 24, int rings = 12);
    // Rotor blade in the plane z = centre.z (z is the spin axis), running from radius r0
    // to r1 along the direction `angleDeg`, `width` wide at the root narrowing to the tip.
    void blade(const std::string& material, const V3& centre, float angleDeg, float r0, float r1, float width,
               float thickness, float pitchDeg);

    const std::vector<std::pair<std::string, SubMeshData>>& subMeshes() const { return mSubs; }

private:
    std::vector<std::pair<std::string, SubMeshData>> mSubs;
};

// Orthonormal axes whose z is `dir` (normalised).
Ogre::Matrix3 axesAlong(const V3& dir);

} // namespace media
