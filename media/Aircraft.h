#pragma once
#include <string>
#include <vector>

#include "media/MeshBuilder.h"

namespace media {

struct NamedMesh {
    std::string file;
    MeshBuilder mesh;
};

// Every mesh the aircraft models load, sized to the positions the models place them at.
std::vector<NamedMesh> buildAircraftMeshes();

} // namespace media
