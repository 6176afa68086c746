#include "panel/rest_normals.h"

#include <algorithm>
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

namespace {

// A usable coordinate is at most 10000 in magnitude, so its grid key is at
// most 10^9 in magnitude and fits 32 bits.
std::int32_t gridCoordinate32(float value) {
    const double scaled = static_cast<double>(value) * 100000.0;
    // Rounded half away from zero, as llround does: the truncation and the
    // fraction left are exact for doubles of this size. roundHalfAway does the
    // same, but called out of line three times a vertex it doubles the cost of
    // the whole grouping.
    const auto truncated = static_cast<std::int32_t>(scaled);
    const double fraction = scaled - static_cast<double>(truncated);
    if (fraction >= 0.5) return truncated + 1;
    if (fraction <= -0.5) return truncated - 1;
    return truncated;
}

struct KeyedVertex {
    std::int32_t x, y, z;
    std::uint32_t index;
};

// The normalised sum of the normals of the group's vertices whose dot product
// with normals[i] exceeds 0.25, summed in the group's order; normals[i] itself
// when that sum is too short.
Vec blendedNormal(const std::vector<Vec>& normals, std::uint32_t i, const KeyedVertex* group, std::size_t count) {
    const Vec own = normals[i];
    Vec sum{0.0f, 0.0f, 0.0f};
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t j = group[k].index;
        if (dot(own, normals[j]) > 0.25f) sum = sum + normals[j];
    }
    const float len = length(sum);
    return len > 0.00001f ? sum / len : own;
}

bool keyThenIndexBefore(const KeyedVertex& a, const KeyedVertex& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    if (a.z != b.z) return a.z < b.z;
    return a.index < b.index;
}

bool sameKey(const KeyedVertex& a, const KeyedVertex& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

}  // namespace

std::vector<Vec> panelRestNormals(const std::vector<Vec>& positions, const std::vector<Vec>& normals,
                                  std::uint32_t flags) {
    if ((flags & 3u) != 2u || positions.size() != normals.size()) return normals;

    std::vector<KeyedVertex> keyed;
    keyed.reserve(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (!usablePosition(positions[i]) || !isFinite(normals[i])) return normals;
        const Vec p = positions[i];
        keyed.push_back({gridCoordinate32(p.x), gridCoordinate32(p.y), gridCoordinate32(p.z),
                         static_cast<std::uint32_t>(i)});
    }
    // By key, then by vertex: each group lists its vertices in the order the
    // map's lists hold them, so every sum adds in the same order.
    std::sort(keyed.begin(), keyed.end(), keyThenIndexBefore);

    std::vector<Vec> result = normals;
    for (std::size_t first = 0; first < keyed.size();) {
        std::size_t end = first + 1;
        while (end < keyed.size() && sameKey(keyed[end], keyed[first])) ++end;
        for (std::size_t k = first; k < end; ++k)
            result[keyed[k].index] = blendedNormal(normals, keyed[k].index, &keyed[first], end - first);
        first = end;
    }
    return result;
}

std::vector<Vec> panelRestNormalsByMap(const std::vector<Vec>& positions, const std::vector<Vec>& normals,
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
