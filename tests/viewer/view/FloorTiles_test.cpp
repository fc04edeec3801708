#include "viewer/view/FloorTiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

namespace {

using floor_tiles::Point;

// A cells x cells grid over [-half, half]^2 at y = 0, two triangles per cell,
// wound counter-clockwise or clockwise seen from above.
struct Grid {
    std::vector<Point> positions;
    std::vector<uint32_t> triangles;

    Grid(int cells, float half, bool counterClockwise)
    {
        const int side = cells + 1;
        for (int row = 0; row < side; ++row)
            for (int col = 0; col < side; ++col)
                positions.push_back(
                    {-half + 2 * half * float(col) / float(cells), 0, -half + 2 * half * float(row) / float(cells)});
        for (int row = 0; row < cells; ++row) {
            for (int col = 0; col < cells; ++col) {
                const uint32_t a = uint32_t(row * side + col), b = a + 1, c = a + uint32_t(side), d = c + 1;
                const std::array<uint32_t, 6> ccw{a, d, c, a, b, d};
                for (size_t k = 0; k < 6; k += 3) {
                    triangles.push_back(ccw[k]);
                    triangles.push_back(counterClockwise ? ccw[k + 1] : ccw[k + 2]);
                    triangles.push_back(counterClockwise ? ccw[k + 2] : ccw[k + 1]);
                }
            }
        }
    }
};

float area(const Point& a, const Point& b, const Point& c)
{
    return (b.x - a.x) * (c.z - a.z) - (b.z - a.z) * (c.x - a.x);
}

TEST(FloorTiles, EveryTriangleLandsInTheTileThatHoldsIt)
{
    for (bool counterClockwise : {true, false}) {
        SCOPED_TRACE(counterClockwise ? "counter-clockwise" : "clockwise");
        const Grid grid(6, 300, counterClockwise);
        const auto tiles = floor_tiles::cut(grid.positions, grid.triangles, 3);
        ASSERT_EQ(tiles.size(), 9u);

        std::multiset<std::array<uint32_t, 3>> source, rebuilt;
        for (size_t i = 0; i < grid.triangles.size(); i += 3)
            source.insert({grid.triangles[i], grid.triangles[i + 1], grid.triangles[i + 2]});
        for (const auto& tile : tiles) {
            EXPECT_EQ(tile.triangles.size(), 8u * 3u); // 2 x 2 cells
            EXPECT_EQ(tile.vertices.size(), 9u);
            for (uint32_t v : tile.vertices) {
                const Point& p = grid.positions[v];
                EXPECT_TRUE(p.x >= tile.minX && p.x <= tile.maxX && p.z >= tile.minZ && p.z <= tile.maxZ);
            }
            for (size_t i = 0; i < tile.triangles.size(); i += 3)
                rebuilt.insert({tile.vertices[tile.triangles[i]], tile.vertices[tile.triangles[i + 1]],
                                tile.vertices[tile.triangles[i + 2]]});

            // The corners are grid vertices, and the two triangles over them keep the winding.
            const float xs[4] = {tile.minX, tile.maxX, tile.maxX, tile.minX};
            const float zs[4] = {tile.minZ, tile.minZ, tile.maxZ, tile.maxZ};
            for (size_t k = 0; k < 4; ++k) {
                EXPECT_FLOAT_EQ(grid.positions[tile.corners[k]].x, xs[k]);
                EXPECT_FLOAT_EQ(grid.positions[tile.corners[k]].z, zs[k]);
            }
            for (size_t i = 0; i < 6; i += 3) {
                const float a = area(tile.cornerPositions[tile.coarseTriangles[i]],
                                     tile.cornerPositions[tile.coarseTriangles[i + 1]],
                                     tile.cornerPositions[tile.coarseTriangles[i + 2]]);
                EXPECT_EQ(a > 0, counterClockwise);
            }
        }
        EXPECT_EQ(rebuilt, source) << "each source triangle exactly once, in its own order";
    }
}

TEST(FloorTiles, NothingToCut)
{
    const Grid grid(4, 10, true);
    EXPECT_TRUE(floor_tiles::cut({}, {}, 4).empty());
    EXPECT_TRUE(floor_tiles::cut(grid.positions, grid.triangles, 0).empty());
    const auto whole = floor_tiles::cut(grid.positions, grid.triangles, 1);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].triangles.size(), grid.triangles.size());
    // More tiles than cells: the empty ones carry no triangles.
    const auto fine = floor_tiles::cut(grid.positions, grid.triangles, 8);
    size_t triangles = 0;
    for (const auto& tile : fine)
        triangles += tile.triangles.size();
    EXPECT_EQ(triangles, grid.triangles.size());
}

TEST(FloorTiles, DetailWithinTheRadiusOfTheEye)
{
    // The tile [0, 100] x [0, 100] at y = 0.
    const std::array<Point, 4> tile{{{0, 0, 0}, {100, 0, 0}, {100, 0, 100}, {0, 0, 100}}};
    struct Case {
        const char* name;
        Point eye;
        bool detail;
    };
    const Case cases[] = {
        {"above the tile, low", {50, 10, 50}, true},
        {"above the tile, higher than the radius", {50, 250, 50}, false},
        {"beside it, just inside", {-199, 0, 50}, true},
        {"beside it, just outside", {-201, 0, 50}, false},
        {"off a corner: the distance counts all three axes", {-150, 150, -150}, false},
        {"off a corner, closer", {-100, 100, -100}, true},
        {"not a number", {NAN, 0, 0}, true},
        {"infinitely far", {INFINITY, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(floor_tiles::needsDetail(tile, c.eye, 200), c.detail);
    }
}

} // namespace
