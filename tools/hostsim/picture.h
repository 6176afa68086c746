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

// Lines written into a picture: above the views (what it shows) and below
// the colour scale (notes). ASCII; other characters show as '?'.
struct PictureText {
    std::vector<std::string> heading;
    std::vector<std::string> footer;
};

// A 2 x 3 picture: rows "before" and "after", columns a front-left and a
// rear-right three-quarter view and a view from above. Both scenes share one
// scale. Faces are lit by a fixed light with flat shading, moved metal turns
// red with the distance it moved, and under the "after" row the "before"
// scene shows as a grey outline, so a dent shows at a glance. Titles and a
// colour scale in centimetres are written in. PNG; false on failure.
bool writeBeforeAfterPicture(const std::string& path, const PictureScene& before, const PictureScene& after,
                             const char* afterTitle = "after", const PictureText& text = {});

// Two results for the same `before` side by side: one column per result,
// titled `titles`, one row per view; the same views, scale and colours for
// both, the "before" scene as the grey outline under each. PNG; false on failure.
bool writeComparisonPicture(const std::string& path, const PictureScene& before, const PictureScene (&after)[2],
                            const std::string (&titles)[2], const PictureText& text);

struct ObjMesh {
    std::string name;
    std::vector<dent::Vec> positions;
    std::vector<unsigned> indices;  // three per triangle, 0-based
};

// Wavefront OBJ with one object per mesh; false when the file cannot be written.
bool writeObj(const std::string& path, const std::vector<ObjMesh>& meshes);

}  // namespace hostsim
