// Lengthwise compression of a collision model's y coordinate.
//
// One map moves everything the private collision model holds: sphere ends,
// box faces and mesh vertices. Points ahead of 35 % of the front extent slide
// back by a share that ramps up to the full front compression at the front
// end; the rear mirrors it. The middle never moves.
#pragma once

#include "foundation/vec.h"

namespace dent {

// Compression applied so far at the front and at the rear, metres, each >= 0.
struct Crush {
    float front;
    float rear;
};
static_assert(sizeof(Crush) == 8, "front then rear, two floats");

// y after compression, for a model whose bounding box spans minY..maxY.
// A side only moves when the model reaches more than half a metre that way.
// Non-finite input leaves y unchanged.
DENT_API float crushY(float y, const Crush& crush, float minY, float maxY);

}  // namespace dent
