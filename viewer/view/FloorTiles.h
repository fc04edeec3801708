#pragma once

// The floor's grid cut into square tiles. Drawn whole, the floor sends all of its
// triangles through every pass, although most lie behind the camera or shrink to
// slivers at the horizon. Tiles let the view skip the ones it does not see and
// draw a tile with two triangles wherever that gives the same pixels.
#include <array>
#include <cstdint>
#include <vector>

namespace floor_tiles {

struct Point {
    float x = 0, y = 0, z = 0;
};

struct Tile {
    float minX = 0, maxX = 0, minZ = 0, maxZ = 0;
    // The source vertices the detailed tile uses, and its triangles as three
    // indices into that list each, in the source's order and winding.
    std::vector<uint32_t> vertices;
    std::vector<uint32_t> triangles;
    // The source vertices at the corners, and the two triangles over them
    // (indices into `corners`), wound as the source's triangles.
    std::array<uint32_t, 4> corners{};
    std::array<uint32_t, 6> coarseTriangles{};
    std::array<Point, 4> cornerPositions{};
};

// Cuts a flat grid (positions of its vertices, triangle list) lying in the x-z
// plane into tilesPerSide x tilesPerSide tiles. Each triangle goes to the tile
// that holds its centre. Empty when the grid is empty or tilesPerSide < 1.
std::vector<Tile> cut(const std::vector<Point>& positions, const std::vector<uint32_t>& triangles, int tilesPerSide);

// Whether a tile (given by its corners) must be drawn with its own grid: when
// it comes within `radius` of the eye. The modulative shadow pass fades the
// shadow with the distance from the eye, computed at the vertices and
// interpolated between them, so the shadow looks as it does on the whole grid
// only where the grid's own triangles carry it. Farther away the shadow has
// faded out on every vertex, and two triangles give the tile the same pixels.
bool needsDetail(const std::array<Point, 4>& corners, const Point& eye, float radius);

} // namespace floor_tiles
