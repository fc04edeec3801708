#include "viewer/view/TiledFloor.h"

#include <OgreCamera.h>
#include <OgreEntity.h>
#include <OgreHardwareBuffer.h>
#include <OgreManualObject.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreSceneNode.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreVertexIndexData.h>

#include <algorithm>
#include <array>
#include <string>

namespace {
using Attribute = std::vector<std::array<float, 3>>;

// One attribute of every vertex, read from the mesh's buffers.
Attribute readAttribute(const Ogre::VertexData* data, Ogre::VertexElementSemantic semantic)
{
    Attribute values;
    const Ogre::VertexElement* element = data->vertexDeclaration->findElementBySemantic(semantic);
    if (!element)
        return values;
    const Ogre::HardwareVertexBufferSharedPtr buffer = data->vertexBufferBinding->getBuffer(element->getSource());
    const size_t components = std::min<size_t>(3, Ogre::VertexElement::getTypeCount(element->getType()));
    Ogre::HardwareBufferLockGuard lock(buffer, Ogre::HardwareBuffer::HBL_READ_ONLY);
    const auto* base = static_cast<const unsigned char*>(lock.pData) + data->vertexStart * buffer->getVertexSize();
    values.resize(data->vertexCount);
    for (size_t i = 0; i < data->vertexCount; ++i) {
        float* value = nullptr;
        element->baseVertexPointerToElement(const_cast<unsigned char*>(base + i * buffer->getVertexSize()), &value);
        values[i] = {0, 0, 0};
        for (size_t c = 0; c < components; ++c)
            values[i][c] = value[c];
    }
    return values;
}

std::vector<uint32_t> readIndices(const Ogre::IndexData* data)
{
    std::vector<uint32_t> indices(data->indexCount);
    const Ogre::HardwareIndexBufferSharedPtr& buffer = data->indexBuffer;
    Ogre::HardwareBufferLockGuard lock(buffer, Ogre::HardwareBuffer::HBL_READ_ONLY);
    for (size_t i = 0; i < data->indexCount; ++i) {
        const size_t at = data->indexStart + i;
        indices[i] = buffer->getType() == Ogre::HardwareIndexBuffer::IT_32BIT
            ? static_cast<const uint32_t*>(lock.pData)[at]
            : static_cast<const uint16_t*>(lock.pData)[at];
    }
    return indices;
}
} // namespace

TiledFloor::TiledFloor(Ogre::SceneManager* scene, Ogre::Entity* floor, Ogre::Camera* camera, int tilesPerSide)
    : mScene(scene),
      mFloor(floor),
      mCamera(camera)
{
    const Ogre::MeshPtr& mesh = floor->getMesh();
    if (mesh->getNumSubMeshes() != 1)
        return;
    const Ogre::SubMesh* sub = mesh->getSubMesh(0);
    const Ogre::VertexData* vertices = sub->useSharedVertices ? mesh->sharedVertexData : sub->vertexData;
    if (!vertices || !sub->indexData || sub->operationType != Ogre::RenderOperation::OT_TRIANGLE_LIST)
        return;
    const Attribute positions = readAttribute(vertices, Ogre::VES_POSITION);
    const Attribute normals = readAttribute(vertices, Ogre::VES_NORMAL);
    const Attribute uvs = readAttribute(vertices, Ogre::VES_TEXTURE_COORDINATES);
    const std::vector<uint32_t> indices = readIndices(sub->indexData);
    for (uint32_t index : indices) {
        if (index >= positions.size())
            return;
    }
    for (size_t i = 0; i + 2 < indices.size(); i += 3) {
        for (size_t k = 0; k < 3; ++k) {
            const auto& a = positions[indices[i + k]];
            const auto& b = positions[indices[i + (k + 1) % 3]];
            mCellDiagonal = std::max(mCellDiagonal, Ogre::Vector3(a[0] - b[0], a[1] - b[1], a[2] - b[2]).length());
        }
    }
    std::vector<floor_tiles::Point> points(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        points[i] = {positions[i][0], positions[i][1], positions[i][2]};

    const Ogre::MaterialPtr& material = floor->getSubEntity(0)->getMaterial();
    // Beyond the detail radius the shadow has faded out: the modulative pass would
    // multiply by white there, so the far tiles leave it out.
    const std::string farName = material->getName() + "/far";
    Ogre::MaterialPtr farMaterial = Ogre::MaterialManager::getSingleton().getByName(farName, material->getGroup());
    if (!farMaterial) {
        farMaterial = material->clone(farName);
        farMaterial->setReceiveShadows(false);
    }
    auto addVertex = [&](Ogre::ManualObject* object, uint32_t source) {
        object->position(positions[source][0], positions[source][1], positions[source][2]);
        if (!normals.empty())
            object->normal(normals[source][0], normals[source][1], normals[source][2]);
        if (!uvs.empty())
            object->textureCoord(uvs[source][0], uvs[source][1]);
    };
    // Built as meshes: their bounds get the same padding as the floor's own.
    auto makeObject = [&](const std::string& name, const Ogre::MaterialPtr& look, const std::vector<uint32_t>& sources,
                          const uint32_t* triangles, size_t indexCount) {
        Ogre::ManualObject builder(name);
        builder.estimateVertexCount(sources.size());
        builder.estimateIndexCount(indexCount);
        builder.begin(look, Ogre::RenderOperation::OT_TRIANGLE_LIST);
        for (uint32_t source : sources)
            addVertex(&builder, source);
        for (size_t i = 0; i + 2 < indexCount; i += 3)
            builder.triangle(triangles[i], triangles[i + 1], triangles[i + 2]);
        builder.end();
        Ogre::Entity* object = scene->createEntity(name, builder.convertToMesh(name, mesh->getGroup()));
        object->setCastShadows(false);
        object->setVisible(false);
        mNode->attachObject(object);
        return object;
    };

    // On the entity's own node, not a child of it: the tiles share the floor's transform and live as long as it.
    mNode = floor->getParentSceneNode() ? floor->getParentSceneNode() : scene->getRootSceneNode();
    const std::string prefix = floor->getName() + "/tile";
    int n = 0;
    for (floor_tiles::Tile& tile : floor_tiles::cut(points, indices, tilesPerSide)) {
        if (tile.triangles.empty())
            continue;
        Piece piece;
        const std::string name = prefix + std::to_string(n++);
        piece.detailed = makeObject(name, material, tile.vertices, tile.triangles.data(), tile.triangles.size());
        const std::vector<uint32_t> corners(tile.corners.begin(), tile.corners.end());
        piece.coarse = makeObject(name + "/coarse", farMaterial, corners, tile.coarseTriangles.data(),
                                  tile.coarseTriangles.size());
        // The floor does not move: its corners in world space are taken once.
        const Ogre::Affine3& toWorld = mNode->_getFullTransform();
        for (size_t k = 0; k < 4; ++k) {
            const floor_tiles::Point& p = tile.cornerPositions[k];
            const Ogre::Vector3 w = toWorld * Ogre::Vector3(p.x, p.y, p.z);
            piece.corners[k] = {w.x, w.y, w.z};
        }
        mPieces.push_back(std::move(piece));
    }
    scene->addListener(this);
    setEnabled(true);
}

TiledFloor::~TiledFloor() { mScene->removeListener(this); }

void TiledFloor::setEnabled(bool enabled)
{
    mEnabled = enabled && !mPieces.empty();
    mFloor->setVisible(!mEnabled);
    if (!mEnabled) {
        for (Piece& piece : mPieces) {
            piece.detailed->setVisible(false);
            piece.coarse->setVisible(false);
        }
    }
}

void TiledFloor::postUpdateSceneGraph(Ogre::SceneManager*, Ogre::Camera* camera)
{
    if (!mEnabled || camera != mCamera)
        return;
    const Ogre::Vector3 eye = camera->getDerivedPosition();
    const float radius = detailRadius();
    mDetailed = 0;
    for (Piece& piece : mPieces) {
        const bool detail = floor_tiles::needsDetail(piece.corners, {eye.x, eye.y, eye.z}, radius);
        piece.detailed->setVisible(detail);
        piece.coarse->setVisible(!detail);
        mDetailed += detail ? 1 : 0;
    }
}

float TiledFloor::detailRadius() const
{
    // The shadow fades out before the shadow distance (OGRE makes one up from the
    // near clip when none is set); twice that leaves room for a grid cell that
    // reaches into the fade from outside.
    float distance = mScene->getShadowFarDistance();
    if (!(distance > 0))
        distance = mCamera->getNearClipDistance() * 300;
    return 2 * distance + mCellDiagonal;
}
