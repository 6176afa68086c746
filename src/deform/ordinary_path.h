// The ordinary path of the dent driver over a whole mesh: reach test,
// displacement and bounding sphere, on plain position arrays.
#pragma once

#include <cstddef>

#include "foundation/vec.h"

namespace dent {

// The arguments every vertex of one mesh is dented with, in the mesh's frame space.
struct DentArguments {
    Vec hit;
    Vec direction;  // not normalised
    float depth;
    float radius;
    float previousDepth;   // this mesh's last dent if it belongs to the same episode, else 0
    float previousRadius;
    float cap;             // largest displacement from rest
    float falloffPower;
};

// displaceImpact of one vertex with the mesh's dent arguments.
DENT_API Vec dentVertex(Vec rest, Vec current, const DentArguments& dent);

// The mesh functions below run four vertices at a time (SSE2) and give exactly
// the bits of the plain loops kept beside them as their reference.

// True when some point lies strictly within `radius` of `hit`.
DENT_API bool reachesAny(const Vec* points, std::size_t count, Vec hit, float radius);
DENT_API bool reachesAnyReference(const Vec* points, std::size_t count, Vec hit, float radius);

// positions[i] = displaceImpact(rest[i], positions[i], ...) for every vertex.
DENT_API void dentMesh(const Vec* rest, Vec* positions, std::size_t count, const DentArguments& dent);
DENT_API void dentMeshReference(const Vec* rest, Vec* positions, std::size_t count, const DentArguments& dent);

// The largest of `radius` (0 when NaN) and every point's distance from `centre`.
DENT_API float grownBoundingRadius(Vec centre, float radius, const Vec* points, std::size_t count);
DENT_API float grownBoundingRadiusReference(Vec centre, float radius, const Vec* points, std::size_t count);

}  // namespace dent
