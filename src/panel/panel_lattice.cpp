#include "panel/panel_lattice.h"

#include <algorithm>
#include <cstddef>

namespace dent {

namespace {

// Releases `mine`'s storage, takes over `source`'s and leaves `source` empty.
template <typename T>
void takeOver(std::vector<T>& mine, std::vector<T>& source) {
    std::vector<T>().swap(mine);
    mine.swap(source);
}

// Index of the cell [values[i], values[i + 1]] holding x: the first entry greater
// than x, minus one, kept within 0 and size - 2.
std::size_t cellOf(const std::vector<float>& values, float x) {
    const auto above = static_cast<std::size_t>(std::upper_bound(values.begin(), values.end(), x) - values.begin());
    const std::size_t cell = (above > 1 ? above : 1) - 1;
    return cell < values.size() - 2 ? cell : values.size() - 2;
}

bool allFinite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

PanelLattice& PanelLattice::operator=(PanelLattice&& other) noexcept {
    if (this != &other) {
        takeOver(columns, other.columns);
        takeOver(rows, other.rows);
        takeOver(nodes, other.nodes);
        takeOver(accepted, other.accepted);
        takeOver(blendTarget, other.blendTarget);
    }
    return *this;
}

bool PanelLattice::usable() const {
    return columns.size() >= 2 && rows.size() >= 2 && nodes.size() == columns.size() * rows.size() &&
           accepted.size() == nodes.size();
}

void PanelLattice::init(const SpanFold& fold, const PanelShape& shape) {
    columns.clear();
    rows.clear();
    nodes.clear();
    accepted.clear();
    blendTarget.clear();
    if (!isFinite(shape) || !std::isfinite(fold.minX) || !std::isfinite(fold.maxX) || !std::isfinite(fold.z))
        return;

    const unsigned count = spanSegments(fold);
    std::vector<float> newColumns;
    newColumns.reserve(count + 1);
    for (unsigned i = 0; i <= count; ++i) newColumns.push_back(spanStationX(fold, i));

    std::vector<float> candidates;
    candidates.reserve(8);
    for (int k = 0; k <= 6; ++k)
        candidates.push_back((static_cast<float>(k) * shape.length / 6.0f + shape.start) * shape.sign);
    candidates.push_back((shape.length * shape.crease + shape.start) * shape.sign);
    if (!allFinite(newColumns) || !allFinite(candidates)) return;
    std::sort(candidates.begin(), candidates.end());

    // A crease on a sixth (or within a micrometre of one) adds no row.
    std::vector<float> newRows;
    newRows.reserve(candidates.size());
    for (float y : candidates)
        if (newRows.empty() || std::fabs(y - newRows.back()) >= 0.000001f) newRows.push_back(y);

    for (std::size_t i = 1; i < newColumns.size(); ++i)
        if (!(newColumns[i] > newColumns[i - 1])) return;
    if (newRows.size() < 2) return;

    columns = std::move(newColumns);
    rows = std::move(newRows);
    nodes.reserve(columns.size() * rows.size());
    accepted.reserve(columns.size() * rows.size());
    const float creaseS = shape.start + shape.length * shape.crease;
    for (float y : rows) {
        for (float x : columns) {
            SheetPoint node;
            node.init(Vec{x, y, fold.z}, fold.z, shape, shape.sign * y > creaseS ? 1 : 0);
            nodes.push_back(node);
            accepted.push_back(node.rest[0]);
        }
    }
    blendTarget.resize(nodes.size());
}

LatticeSample PanelLattice::sample(Vec p) const {
    if (columns.size() < 2 || rows.size() < 2) return LatticeSample{{0, 0, 0}, {1.0f, 0.0f, 0.0f}};

    const std::size_t c = cellOf(columns, p.x);
    const std::size_t r = cellOf(rows, p.y);
    const float u = clampTo((p.x - columns[c]) / (columns[c + 1] - columns[c]), 0.0f, 1.0f);
    const float v = clampTo((p.y - rows[r]) / (rows[r + 1] - rows[r]), 0.0f, 1.0f);

    const std::size_t n = columns.size();
    const auto base = static_cast<std::uint32_t>(r * n + c);
    const auto up = static_cast<std::uint32_t>(n);
    if (u >= v) return LatticeSample{{base, base + 1, base + up + 1}, {1.0f - u, u - v, v}};
    return LatticeSample{{base, base + up + 1, base + up}, {1.0f - v, u, v - u}};
}

Vec PanelLattice::displacement(Vec p, const std::vector<Vec>& positions) const {
    Vec sum{0.0f, 0.0f, 0.0f};
    if (!usable() || positions.size() != nodes.size()) return sum;

    const LatticeSample s = sample(p);
    for (int j = 0; j < 3; ++j) {
        const std::uint32_t i = s.index[j];
        sum = sum + (positions[i] - nodes[i].rest[0]) * s.weight[j];
    }
    return sum;
}

bool PanelLattice::ordered(const std::vector<Vec>& positions) const {
    if (rows.size() < 2 || columns.size() < 2) return true;
    const std::size_t n = columns.size();
    if (positions.size() != n * rows.size()) return false;

    for (std::size_t r = 0; r + 1 < rows.size(); ++r) {
        for (std::size_t c = 0; c + 1 < n; ++c) {
            const Vec a = positions[r * n + c];
            const Vec b = positions[r * n + c + 1];
            const Vec cc = positions[(r + 1) * n + c];
            const Vec d = positions[(r + 1) * n + c + 1];
            if (!isFinite(a) || !isFinite(b) || !isFinite(cc) || !isFinite(d)) return false;

            const float minimum = 0.1f * (columns[c + 1] - columns[c]) * (rows[r + 1] - rows[r]);
            // Doubled signed areas of the triangles (a, b, d) and (a, d, c); an
            // overflow to NaN counts as crushed.
            const float lower = (b.x - a.x) * (d.y - a.y) - (b.y - a.y) * (d.x - a.x);
            if (!(lower >= minimum)) return false;
            const float upper = (d.x - a.x) * (cc.y - a.y) - (d.y - a.y) * (cc.x - a.x);
            if (!(upper >= minimum)) return false;
        }
    }
    return true;
}

void PanelLattice::keepOrdered(std::vector<Vec>& positions) {
    if (&positions == &accepted) return;  // the accepted grid is kept as it is, ordered or not
    if (!usable() || positions.size() != accepted.size()) return;

    if (!ordered(positions)) {
        // Copy assignment reuses blendTarget's storage when it is long enough.
        blendTarget = positions;
        const std::vector<Vec>& target = blendTarget;
        const std::size_t count = positions.size();
        auto blend = [&](float fraction) {
            for (std::size_t i = 0; i < count; ++i)
                positions[i] = accepted[i] + (target[i] - accepted[i]) * fraction;
        };

        float lo = 0.0f;
        float hi = 1.0f;
        for (int step = 0; step < 16; ++step) {
            const float mid = (lo + hi) * 0.5f;
            blend(mid);
            if (ordered(positions))
                lo = mid;
            else
                hi = mid;
        }
        blend(lo);
        if (!ordered(positions)) positions = accepted;
    }
    accepted = positions;  // the sizes match: no allocation here or just above
}

}  // namespace dent
