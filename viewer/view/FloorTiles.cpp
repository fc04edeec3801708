#include "viewer/view/FloorTiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace floor_tiles {

namespace {
float cross(const Point& a, const Point& b, const Point& c)
{
    // Signed area in the x-z plane: the winding of a triangle seen from above.
    return (b.x - a.x) * (c.z - a.z) - (b.z - a.z) * (c.x - a.x);
}

// The candidate nearest to (x, z); every vertex when there are no candidates.
uint32_t nearestVertex(const std::vector<Point>& positions, const std::vector<uint32_t>& candidates, float x, float z)
{
    uint32_t best = 0;
    float bestDistance = std::numeric_limits<float>::max();
    const size_t count = candidates.empty() ? positions.size() : candidates.size();
    for (size_t k = 0; k < count; ++k) {
        const uint32_t i = candidates.empty() ? uint32_t(k) : candidates[k];
        const float dx = positions[i].x - x, dz = positions[i].z - z;
        const float d = dx * dx + dz * dz;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}
} // namespace

std::vector<Tile> cut(const std::vector<Point>& positions, const std::vector<uint32_t>& triangles, int tilesPerSide)
{
    if (positions.empty() || tilesPerSide < 1)
        return {};
    float minX = positions[0].x, maxX = minX, minZ = positions[0].z, maxZ = minZ;
    for (const Point& p : positions) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minZ = std::min(minZ, p.z);
        maxZ = std::max(maxZ, p.z);
    }
    const float stepX = (maxX - minX) / float(tilesPerSide), stepZ = (maxZ - minZ) / float(tilesPerSide);
    auto cell = [&](float v, float lo, float step) {
        const int i = step > 0 ? int(std::floor((v - lo) / step)) : 0;
        return std::clamp(i, 0, tilesPerSide - 1);
    };

    std::vector<Tile> tiles(size_t(tilesPerSide) * size_t(tilesPerSide));
    for (int row = 0; row < tilesPerSide; ++row) {
        for (int col = 0; col < tilesPerSide; ++col) {
            Tile& t = tiles[size_t(row) * size_t(tilesPerSide) + size_t(col)];
            t.minX = minX + stepX * float(col);
            t.maxX = col == tilesPerSide - 1 ? maxX : minX + stepX * float(col + 1);
            t.minZ = minZ + stepZ * float(row);
            t.maxZ = row == tilesPerSide - 1 ? maxZ : minZ + stepZ * float(row + 1);
        }
    }

    // Winding of the source, taken from its first triangle with an area.
    bool counterClockwise = true;
    for (size_t i = 0; i + 2 < triangles.size(); i += 3) {
        const float area =
            cross(positions.at(triangles[i]), positions.at(triangles[i + 1]), positions.at(triangles[i + 2]));
        if (area != 0) {
            counterClockwise = area > 0;
            break;
        }
    }

    std::vector<std::unordered_map<uint32_t, uint32_t>> local(tiles.size());
    for (size_t i = 0; i + 2 < triangles.size(); i += 3) {
        const Point& a = positions.at(triangles[i]);
        const Point& b = positions.at(triangles[i + 1]);
        const Point& c = positions.at(triangles[i + 2]);
        const float cx = (a.x + b.x + c.x) / 3, cz = (a.z + b.z + c.z) / 3;
        const size_t index = size_t(cell(cz, minZ, stepZ)) * size_t(tilesPerSide) + size_t(cell(cx, minX, stepX));
        Tile& t = tiles[index];
        for (size_t k = 0; k < 3; ++k) {
            const uint32_t source = triangles[i + k];
            auto [it, added] = local[index].emplace(source, uint32_t(t.vertices.size()));
            if (added)
                t.vertices.push_back(source);
            t.triangles.push_back(it->second);
        }
    }

    for (Tile& t : tiles) {
        // Searched among the tile's own vertices, which hold its corners on a regular grid.
        const float xs[4] = {t.minX, t.maxX, t.maxX, t.minX};
        const float zs[4] = {t.minZ, t.minZ, t.maxZ, t.maxZ};
        for (size_t k = 0; k < 4; ++k) {
            t.corners[k] = nearestVertex(positions, t.vertices, xs[k], zs[k]);
            t.cornerPositions[k] = positions[t.corners[k]];
        }
        const bool ccw = cross(t.cornerPositions[0], t.cornerPositions[1], t.cornerPositions[2]) > 0;
        t.coarseTriangles = ccw == counterClockwise ? std::array<uint32_t, 6>{0, 1, 2, 0, 2, 3}
                                                    : std::array<uint32_t, 6>{0, 2, 1, 0, 3, 2};
    }
    return tiles;
}

bool needsDetail(const std::array<Point, 4>& corners, const Point& eye, float radius)
{
    float minX = corners[0].x, maxX = minX, minZ = corners[0].z, maxZ = minZ, y = corners[0].y;
    for (const Point& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minZ = std::min(minZ, p.z);
        maxZ = std::max(maxZ, p.z);
    }
    const float dx = std::max({minX - eye.x, 0.0f, eye.x - maxX});
    const float dz = std::max({minZ - eye.z, 0.0f, eye.z - maxZ});
    const float dy = eye.y - y;
    // Written so that a position that is not a number asks for detail.
    return !(dx * dx + dy * dy + dz * dz >= radius * radius);
}

} // namespace floor_tiles
