// Pictures and OBJ files of vehicle meshes, so that a person can see a dent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vec.h"

namespace hostsim {

// One triangle in the vehicle's model frame, with how far each corner has
// moved from where it was before the first hit (metres).
struct PictureTriangle {
    dent::Vec corner[3];
    float moved[3];
    std::uint32_t colour;  // the material's colour, 0xAABBGGRR; 0 for plain blue-grey
};

using PictureScene = std::vector<PictureTriangle>;

// A 2 x 3 picture: rows "before" and "after", columns a front-left and a
// rear-right three-quarter view and a view from above. Both scenes share one
// scale. Faces are lit by a fixed light with flat shading, moved metal turns
// red with the distance it moved, and under the "after" row the "before"
// scene shows as a grey outline, so a dent shows at a glance. Titles and a
// colour scale are written in. PNG; false on failure.
bool writeBeforeAfterPicture(const std::string& path, const PictureScene& before, const PictureScene& after,
                             const char* afterTitle = "after");

struct ObjMesh {
    std::string name;
    std::vector<dent::Vec> positions;
    std::vector<unsigned> indices;  // three per triangle, 0-based
};

// Wavefront OBJ with one object per mesh; false when the file cannot be written.
bool writeObj(const std::string& path, const std::vector<ObjMesh>& meshes);

}  // namespace hostsim
