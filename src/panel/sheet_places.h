// Which panel vertices share a sheet point. A sheet point is made from a
// vertex's x, y and side alone, so vertices that agree in those bits (the
// copies of one corner that the crease rebuild gives every triangle) would
// make the same point, dent it the same way and fold it the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/vec.h"

namespace dent {

// An empty table for the places of `count` vertices.
DENT_API void clearPlaceTable(std::size_t count, std::vector<std::uint32_t>& table);

// Vertices [begin, end) find their places in `table`, in vertex order: a vertex
// at a new place opens the next sheet point (its index is appended to
// `firstVertices`); every vertex's sheet point is appended to `sheetOf`. Sheet
// points are thus numbered in the order vertices first name them, so the
// vertices up to any index need only the points below the largest they name.
// Needs `sheetOf` and `firstVertices` reserved for every vertex and the
// vertices before `begin` done: then nothing allocates.
DENT_API void findSheetPlaces(const Vec* rest, const std::int32_t* sides, std::size_t begin, std::size_t end,
                              std::vector<std::uint32_t>& table, std::vector<std::uint32_t>& sheetOf,
                              std::vector<std::uint32_t>& firstVertices);

}  // namespace dent
