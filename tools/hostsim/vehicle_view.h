// A vehicle's current meshes as a person would look at them: every atomic's
// vertices in the vehicle's model frame, written as OBJ files and as pictures
// of the vehicle before and after.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_records.h"
#include "picture.h"

namespace hostsim {

struct PartSnapshot {
    std::string name;             // the atomic's frame name
    const Geometry* geometry;     // what the atomic drew
    std::vector<Vec3> positions;  // model frame
    std::vector<Triangle> triangles;
    std::vector<std::uint32_t> triangleColours;  // each triangle's material colour
};
using VehicleSnapshot = std::vector<PartSnapshot>;

// Every atomic of the vehicle's clump, in clump order.
VehicleSnapshot snapshotVehicle(const Vehicle* vehicle);

// How far each vertex of `part` lies from where it was in `rest` (the same
// atomic earlier): by index when the vertex count is unchanged, else the
// distance to the nearest earlier vertex.
std::vector<float> movedFrom(const PartSnapshot& part, const PartSnapshot& rest);

// The parts a person sees close up (not the low-detail body), as a scene
// whose metal shows how far it moved from `rest`.
PictureScene pictureScene(const VehicleSnapshot& snapshot, const VehicleSnapshot& rest);
std::vector<ObjMesh> objMeshes(const VehicleSnapshot& snapshot);

// The 2 x 2 picture (PNG) of `before` and of `after`, metal coloured by how
// far it moved from `before`.
bool writeVehiclePicture(const std::string& path, const VehicleSnapshot& before, const VehicleSnapshot& after,
                         const char* afterTitle = "after");

}  // namespace hostsim
