// The ordinary dent: one vertex moved by one impact.
#pragma once

#include "foundation/vec.h"

namespace dent {

// New position of a vertex for one impact. The falloff is measured from the
// rest position; the push is added to the current position along the unit
// direction, less what the same contact episode already pushed (previous depth
// and radius); the total displacement from rest is capped at `cap`.
// Invalid input returns `current` unchanged.
DENT_API Vec displaceImpact(Vec rest, Vec current, Vec hit, Vec direction, float depth, float radius,
                   float previousDepth, float previousRadius, float cap, float falloffPower);

// The checks of displaceImpact that do not depend on the point: finite hit,
// direction and floats; depth, radius, cap and power above 0.
bool dentArgumentsValid(Vec hit, Vec direction, float depth, float radius, float previousDepth, float previousRadius,
                        float cap, float falloffPower);

}  // namespace dent
