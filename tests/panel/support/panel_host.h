// Flat grid panels in the geometry host.
#pragma once

#include <cstdint>
#include <vector>

#include "deform/support/geometry_host.h"

namespace testpanel {

// A flat panel of columns x rows vertices over [x0, x1] x [y0, y1] at height z,
// two triangles per cell turned up, materials alternating.
struct Grid {
    float x0 = -0.5f, x1 = 0.5f;
    float y0 = 0.0f, y1 = 1.0f;
    float z = 0.0f;
    int columns = 5, rows = 5;
};

inline std::vector<dent::Vec> gridPositions(const Grid& grid) {
    std::vector<dent::Vec> positions;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            const float u = static_cast<float>(c) / static_cast<float>(grid.columns - 1);
            const float v = static_cast<float>(r) / static_cast<float>(grid.rows - 1);
            positions.push_back({grid.x0 + (grid.x1 - grid.x0) * u, grid.y0 + (grid.y1 - grid.y0) * v, grid.z});
        }
    }
    return positions;
}

inline host::Geometry* gridPanel(testdeform::GeometryHost& geometries, const Grid& grid = {}) {
    testdeform::SourceShape shape;
    shape.positions = gridPositions(grid);
    shape.vertices = static_cast<std::int32_t>(shape.positions.size());
    shape.triangles = 2 * (grid.columns - 1) * (grid.rows - 1);
    host::Geometry* g = geometries.source(shape);
    int t = 0;
    for (int r = 0; r + 1 < grid.rows; ++r) {
        for (int c = 0; c + 1 < grid.columns; ++c) {
            const auto a = static_cast<std::uint16_t>(r * grid.columns + c);
            const auto b = static_cast<std::uint16_t>(a + 1);
            const auto d = static_cast<std::uint16_t>(a + grid.columns + 1);
            const auto e = static_cast<std::uint16_t>(a + grid.columns);
            g->triangles[t] = host::Triangle{{a, b, d}, static_cast<std::uint16_t>(t % 2)};
            ++t;
            g->triangles[t] = host::Triangle{{a, d, e}, static_cast<std::uint16_t>(t % 2)};
            ++t;
        }
    }
    return g;
}

}  // namespace testpanel
