#pragma once

// Draws the floor entity through tiles cut from its own mesh: the tiles behind
// the camera are left out, and a tile that lies wholly beyond the near plane is
// drawn with two triangles, which give it the same pixels as its grid. The
// entity stays in the scene, hidden while the tiles draw it.
#include "viewer/view/FloorTiles.h"

#include <OgreSceneManager.h>

#include <array>
#include <vector>

namespace Ogre {
class Camera;
class Entity;
class SceneNode;
} // namespace Ogre

class TiledFloor : public Ogre::SceneManager::Listener {
public:
    TiledFloor(Ogre::SceneManager* scene, Ogre::Entity* floor, Ogre::Camera* camera, int tilesPerSide = 10);
    ~TiledFloor() override;
    TiledFloor(const TiledFloor&) = delete;
    TiledFloor& operator=(const TiledFloor&) = delete;

    // Off: the entity draws itself again (the pictures of both must agree).
    void setEnabled(bool enabled);
    bool enabled() const { return mEnabled; }
    // Tiles drawn with their own grid in the last frame.
    int detailedTiles() const { return mDetailed; }

    void postUpdateSceneGraph(Ogre::SceneManager* source, Ogre::Camera* camera) override;

private:
    float detailRadius() const;

    struct Piece {
        std::array<floor_tiles::Point, 4> corners; // in world space
        Ogre::Entity* detailed = nullptr;
        Ogre::Entity* coarse = nullptr;
    };

    Ogre::SceneManager* mScene;
    Ogre::Entity* mFloor;
    Ogre::Camera* mCamera;
    Ogre::SceneNode* mNode = nullptr;
    std::vector<Piece> mPieces;
    float mCellDiagonal = 0; // the longest edge of the grid's triangles
    bool mEnabled = false;
    int mDetailed = 0;
};
