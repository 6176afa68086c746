// Smoothed rest normals for a panel mesh.
//
// Meshes duplicate a vertex wherever its texture coordinates, colour or
// material change. Duplicates whose normals point roughly the same way get a
// shared blended normal so that such seams shade smoothly; duplicates on a
// real crease (normals more than about 75 degrees apart) stay sharp.
#pragma once

#include "foundation/vec.h"

#include <array>
#include <cstdint>
#include <vector>

namespace dent {

// Grid point of a position on a 0.00001 grid: each coordinate times 100000 in
// double precision, rounded half away from zero. Equal keys mark duplicates.
using PositionKey = std::array<std::int64_t, 3>;
PositionKey positionKey(Vec position);

// For flags whose two lowest bits are 2: every normal replaced by the
// normalised sum of the normals of all vertices sharing its position key
// whose dot product with it exceeds 0.25 (a vertex without duplicates thus
// gets its own normal normalised). Otherwise, or for mismatched
// lengths, non-finite data or coordinates beyond 10000, a copy of `normals`.
// Duplicates are found by sorting the vertices by key: no allocation per key.
DENT_API std::vector<Vec> panelRestNormals(const std::vector<Vec>& positions, const std::vector<Vec>& normals,
                                  std::uint32_t flags);

// The same through an ordered map from key to vertex list: the plain
// reference the sorted grouping must match bit for bit.
DENT_API std::vector<Vec> panelRestNormalsByMap(const std::vector<Vec>& positions, const std::vector<Vec>& normals,
                                       std::uint32_t flags);

}  // namespace dent
