#include "media/MeshBuilder.h"

#include <cmath>

#include <OgreMath.h>

namespace media {

namespace {

// Six faces of a hexahedron given as corners 0-3 at the bottom and 4-7 above them, both
// counter-clockwise seen from above. Flat normals from each face's own corners.
void hexahedron(MeshBuilder& mb, const std::string& material, const V3 (&c)[8]);

} // namespace

Ogre::Matrix3 axesAlong(const V3& dir)
{
    V3 z = dir.normalisedCopy();
    V3 helper = std::fabs(z.z) < 0.9f ? V3::UNIT_Z : V3::UNIT_X;
    V3 x = helper.crossProduct(z).normalisedCopy();
    V3 y = z.crossProduct(x);
    return Ogre::Matrix3(x.x, y.x, z.x, x.y, y.y, z.y, x.z, y.z, z.z);
}

SubMeshData& MeshBuilder::sub(const std::string& material)
{
    for (auto& entry : mSubs)
        if (entry.first == material)
            return entry.second;
    mSubs.emplace_back(material, SubMeshData{});
    return mSubs.back().second;
}

namespace {

void hexahedron(MeshBuilder& mb, const std::string& material, const V3 (&c)[8])
{
    SubMeshData& s = mb.sub(material);
    const V3 centre = [&] {
        V3 sum = V3::ZERO;
        for (const V3& p : c)
            sum += p;
        return sum / 8.0f;
    }();
    const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
    for (const auto& f : faces) {
        V3 n = (c[f[1]] - c[f[0]]).crossProduct(c[f[2]] - c[f[0]]).normalisedCopy();
        const V3 faceCentre = (c[f[0]] + c[f[1]] + c[f[2]] + c[f[3]]) / 4.0f;
        // Keep the winding outward whatever handedness the caller's axes have.
        const bool flip = n.dotProduct(faceCentre - centre) < 0.0f;
        const Ogre::uint32 base = Ogre::uint32(s.positions.size());
        for (int i = 0; i < 4; ++i) {
            s.positions.push_back(c[f[i]]);
            s.normals.push_back(flip ? -n : n);
            s.uvs.push_back(Ogre::Vector2(i == 1 || i == 2 ? 1.0f : 0.0f, i >= 2 ? 1.0f : 0.0f));
        }
        const Ogre::uint32 order[2][6] = {{0, 1, 2, 0, 2, 3}, {0, 2, 1, 0, 3, 2}};
        for (Ogre::uint32 i : order[flip ? 1 : 0])
            s.indices.push_back(base + i);
    }
}

} // namespace

void MeshBuilder::box(const std::string& material, const V3& centre, const V3& half, const Ogre::Matrix3& axes)
{
    V3 c[8];
    const float sx[4] = {-1, 1, 1, -1}, sy[4] = {-1, -1, 1, 1};
    for (int i = 0; i < 8; ++i) {
        const V3 local(sx[i % 4] * half.x, sy[i % 4] * half.y, (i < 4 ? -1.0f : 1.0f) * half.z);
        c[i] = centre + axes * local;
    }
    hexahedron(*this, material, c);
}

void MeshBuilder::tube(const std::string& material, const V3& a, const V3& b, float ra, float rb, int segments)
{
    SubMeshData& s = sub(material);
    const Ogre::Matrix3 axes = axesAlong(b - a);
    const V3 u = axes.GetColumn(0), v = axes.GetColumn(1), w = axes.GetColumn(2);
    const float length = (b - a).length();
    const float slope = (ra - rb) / length;
    const Ogre::uint32 base = Ogre::uint32(s.positions.size());
    for (int i = 0; i <= segments; ++i) {
        const float t = Ogre::Math::TWO_PI * float(i) / float(segments);
        const V3 radial = u * std::cos(t) + v * std::sin(t);
        const V3 n = (radial + w * slope).normalisedCopy();
        s.positions.push_back(a + radial * ra);
        s.normals.push_back(n);
        s.uvs.push_back(Ogre::Vector2(float(i) / float(segments), 0.0f));
        s.positions.push_back(b + radial * rb);
        s.normals.push_back(n);
        s.uvs.push_back(Ogre::Vector2(float(i) / float(segments), 1.0f));
    }
    for (int i = 0; i < segments; ++i) {
        const Ogre::uint32 k = base + Ogre::uint32(2 * i);
        for (Ogre::uint32 j : {0u, 2u, 1u, 1u, 2u, 3u})
            s.indices.push_back(k + j);
    }
    // End caps as fans around their centres.
    for (int end = 0; end < 2; ++end) {
        const V3 centre = end == 0 ? a : b;
        const float r = end == 0 ? ra : rb;
        const V3 n = end == 0 ? -w : w;
        if (r <= 0.0f)
            continue;
        const Ogre::uint32 c0 = Ogre::uint32(s.positions.size());
        s.positions.push_back(centre);
        s.normals.push_back(n);
        s.uvs.push_back(Ogre::Vector2(0.5f, 0.5f));
        for (int i = 0; i <= segments; ++i) {
            const float t = Ogre::Math::TWO_PI * float(i) / float(segments);
            s.positions.push_back(centre + (u * std::cos(t) + v * std::sin(t)) * r);
            s.normals.push_back(n);
            s.uvs.push_back(Ogre::Vector2(0.5f + 0.5f * std::cos(t), 0.5f + 0.5f * std::sin(t)));
        }
        for (int i = 0; i < segments; ++i) {
            const Ogre::uint32 p = c0 + 1 + Ogre::uint32(i);
            if (end == 0) {
                s.indices.insert(s.indices.end(), {c0, p + 1, p});
            } else {
                s.indices.insert(s.indices.end(), {c0, p, p + 1});
            }
        }
    }
}

void MeshBuilder::ellipsoid(const std::string& material, const V3& centre, const V3& radii, int segments, int rings)
{
    SubMeshData& s = sub(material);
    const Ogre::uint32 base = Ogre::uint32(s.positions.size());
    for (int r = 0; r <= rings; ++r) {
        const float phi = Ogre::Math::PI * float(r) / float(rings) - Ogre::Math::HALF_PI;
        for (int i = 0; i <= segments; ++i) {
            const float theta = Ogre::Math::TWO_PI * float(i) / float(segments);
            const V3 unit(std::cos(phi) * std::cos(theta), std::cos(phi) * std::sin(theta), std::sin(phi));
            s.positions.push_back(centre + unit * radii);
            s.normals.push_back((unit / radii).normalisedCopy());
            s.uvs.push_back(Ogre::Vector2(float(i) / float(segments), float(r) / float(rings)));
        }
    }
    const Ogre::uint32 row = Ogre::uint32(segments + 1);
    for (int r = 0; r < rings; ++r)
        for (int i = 0; i < segments; ++i) {
            const Ogre::uint32 k = base + Ogre::uint32(r) * row + Ogre::uint32(i);
            s.indices.insert(s.indices.end(), {k, k + 1, k + row, k + 1, k + row + 1, k + row});
        }
}

void MeshBuilder::blade(const std::string& material, const V3& centre, float angleDeg, float r0, float r1, float width,
                        float thickness, float pitchDeg)
{
    const float a = Ogre::Degree(angleDeg).valueRadians();
    const V3 radial(std::cos(a), std::sin(a), 0.0f);
    const V3 side(-std::sin(a), std::cos(a), 0.0f);
    const float p = Ogre::Degree(pitchDeg).valueRadians();
    // Pitch tilts the blade's chord about its radial axis.
    const V3 chord = side * std::cos(p) + V3::UNIT_Z * std::sin(p);
    const V3 normal = radial.crossProduct(chord);
    const float halfW[2] = {0.5f * width, 0.3f * width};
    const float radius[2] = {r0, r1};
    V3 c[8];
    for (int i = 0; i < 8; ++i) {
        const int end = (i % 4 == 1 || i % 4 == 2) ? 1 : 0;
        const float across = (i % 4 >= 2) ? 1.0f : -1.0f;
        const float up = i < 4 ? -0.5f : 0.5f;
        c[i] = centre + radial * radius[end] + chord * (across * halfW[end]) + normal * (up * thickness);
    }
    hexahedron(*this, material, c);
}

} // namespace media
