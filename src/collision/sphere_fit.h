// Refitting a collision model's spheres to its front and rear compression.
//
// A sphere cannot be squashed, so each one is replaced by the sphere spanning
// its compressed length; optional refinement spheres keep the width and
// height that the narrower sphere no longer covers.
#pragma once

#include "collision/crush_map.h"
#include "foundation/vec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dent {

// The host's collision sphere record (20 bytes). The second surface byte is
// the body piece.
struct ColSphere {
    Vec center;
    float radius;
    std::uint8_t surface[4];
};
static_assert(sizeof(ColSphere) == 20, "host sphere record is 20 bytes");
static_assert(offsetof(ColSphere, center) == 0, "host sphere centre at +0");
static_assert(offsetof(ColSphere, radius) == 12, "host sphere radius at +12");
static_assert(offsetof(ColSphere, surface) == 16, "host sphere surface at +16");

// Most spheres a fitted model may hold.
constexpr std::size_t kMaxFittedSpheres = 64;

// The spheres of `rest` refitted for `crush` on a model spanning minY..maxY
// lengthwise, in rest order, each optionally followed by four refinement
// spheres while the 64-sphere budget still leaves room for every later rest
// sphere. Spheres of body pieces 13 to 16 are kept as they are. A non-finite
// crush or extent gives the rest spheres back unchanged. More than 64 rest
// spheres leave no room for any refinement; every one is still fitted.
DENT_API std::vector<ColSphere> fitSpheres(const std::vector<ColSphere>& rest, const Crush& crush, float minY, float maxY,
                                  bool refine);

}  // namespace dent
