// Triangles that carry full vertex data through the panel cutting.
#pragma once

#include "foundation/vec.h"

#include <cstdint>

namespace dent {

constexpr int kPanelUvSets = 8;

struct PanelVertex {
    Vec position;                // panel frame space
    Vec normal;
    float color[4];              // red, green, blue, alpha, each 0 to 255
    float uv[kPanelUvSets][2];   // (u, v) per texture coordinate set; missing sets stay 0
    std::int32_t side;           // 0 before the crease line (hinge side), 1 beyond it
};
static_assert(sizeof(PanelVertex) == 27 * 4, "27 plain 32-bit fields, no padding");

struct PanelTriangle {
    PanelVertex vertices[3];     // winding order
    std::uint32_t material;      // index into the source geometry's material list
};

}  // namespace dent
