#include "panel/rest_normals.h"

#include <cmath>
#include <map>

#include "foundation/fpu.h"

namespace dent {

namespace {

constexpr float kMaxCoordinate = 10000.0f;

std::int64_t gridCoordinate(float value) {
    return roundHalfAway(static_cast<double>(value) * 100000.0);
}

bool usablePosition(Vec p) {
    return isFinite(p) && std::fabs(p.x) <= kMaxCoordinate && std::fabs(p.y) <= kMaxCoordinate &&
           std::fabs(p.z) <= kMaxCoordinate;
}

}  // namespace

PositionKey positionKey(Vec position) {
    return {gridCoordinate(position.x), gridCoordinate(position.y), gridCoordinate(position.z)};
}

std::vector<Vec> panelRestNormals(const std::vector<Vec>& positions, const std::vector<Vec>& normals,
                                  std::uint32_t flags) {
    if ((flags & 3u) != 2u || positions.size() != normals.size()) return normals;

    std::map<PositionKey, std::vector<std::uint32_t>> duplicates;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        // Coordinates are bounded first so that the grid keys cannot overflow.
        if (!usablePosition(positions[i]) || !isFinite(normals[i])) return normals;
        duplicates[positionKey(positions[i])].push_back(static_cast<std::uint32_t>(i));
    }

    std::vector<Vec> result = normals;
    for (const auto& entry : duplicates) {
        const std::vector<std::uint32_t>& group = entry.second;
        for (std::uint32_t i : group) {
            const Vec own = normals[i];
            Vec sum{0.0f, 0.0f, 0.0f};
            for (std::uint32_t j : group) {
                if (dot(own, normals[j]) > 0.25f) sum = sum + normals[j];
            }
            const float len = length(sum);
            if (len > 0.00001f) result[i] = sum / len;
        }
    }
    return result;
}

}  // namespace dent
