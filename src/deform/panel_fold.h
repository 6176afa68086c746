// The two-segment fold of a bonnet or boot panel: the panel buckles along one
// crease line, its hinge-line end stays and its free edge moves back.
#pragma once

#include <cstdint>

#include "foundation/vec.h"

namespace dent {

// A panel's lengthwise frame in its mesh's frame space. sign * y grows from
// the hinge line (sign * y = start) toward the free edge (start + length); the
// crease line lies at start + length * crease. +1 for the bonnet, -1 for the boot.
struct PanelShape {
    float sign = 1.0f;
    float start = 0.0f;
    float length = 1.0f;
    float crease = 0.5f;
};

// Two rigid segments hinged at the crease, their ends brought together to the
// compressed chord. The all-zero fold means no fold; any fold whose compression
// or length is not positive is treated as none.
struct Fold {
    float length = 0.0f;       // panel length L
    float crease = 0.0f;       // crease fraction of L, within [0.35, 0.65]
    float compression = 0.0f;  // how far the free edge moved back, within [0, 0.45 L]
    float toCrease = 0.0f;     // along the chord: hinge line to the point under the crease
    float fromCrease = 0.0f;   // along the chord: that point to the free edge
    float lift = 0.0f;         // height of the crease point above the flat sheet
};

// The lengthwise coordinate s of p: 0 on the hinge line, length on the free edge.
inline float panelLengthwise(Vec p, const PanelShape& shape) { return p.y * shape.sign - shape.start; }

inline bool isFinite(const PanelShape& shape) {
    return std::isfinite(shape.sign) && std::isfinite(shape.start) && std::isfinite(shape.length) &&
           std::isfinite(shape.crease);
}

// The fold of a panel of `length` with its crease at fraction `crease` whose free
// edge moved back by `compression`; crease and compression are clamped into range.
// The all-zero fold for non-finite input or a panel shorter than 0.05.
DENT_API Fold foldFor(float length, float crease, float compression);

// foldFor with the crease rise kept within maxLift: the largest compression up to
// `compression` (24 bisection steps) whose lift does not exceed maxLift.
DENT_API Fold limitedFold(float length, float crease, float compression, float maxLift);

// Offset of a vertex at rest position p under the fold: lengthwise and up, never in x.
DENT_API Vec foldOffset(Vec p, const PanelShape& shape, const Fold& fold);

// A rest normal carried through the tilt of its segment (side != 0: beyond the crease).
DENT_API Vec foldNormal(Vec restNormal, const Fold& fold, float sign, int side);

// The part of the ordinary dent a folding panel follows: across and up as the
// vertex itself, lengthwise as the hinge line at the same x and z.
DENT_API Vec panelBodyStep(Vec rest, const PanelShape& shape, Vec hit, Vec direction, float depth, float radius,
                  float previousDepth, float previousRadius, float cap, float falloffPower);

// A per-vehicle crease fraction: `crease` moved by up to +-randomness by a hash of
// seed and kind (1 bonnet, 2 boot), clamped to [0.35, 0.65].
DENT_API float variedCrease(std::uint32_t seed, std::uint32_t kind, float crease, float randomness);

}  // namespace dent
