#include "panel/triangle_split.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

namespace dent {

namespace {

// Pieces of area 0.000001 or less (|cross|^2 / 4 is the squared area) are
// dropped: above all the zero-area fan pieces of a corner lying on the cut
// line, but equally any real piece that small.
constexpr float kMinAreaSquared = 1e-12f;

// A triangle clipped by a half-plane has at most four corners.
struct Polygon {
    PanelVertex vertices[4];
    int count = 0;
};

struct CreaseLine {
    float sign;
    float creaseS;
    float distance(Vec p) const { return sign * p.y - creaseS; }
    void settle(PanelVertex& crossing, const PanelVertex&) const {
        crossing.position.y = creaseS / sign;
        crossing.side = 0;
    }
};

struct WidthLine {
    float x;
    float distance(Vec p) const { return p.x - x; }
    void settle(PanelVertex& crossing, const PanelVertex& from) const {
        crossing.position.x = x;
        crossing.side = from.side;
    }
};

struct DiagonalLine {
    float x0, y0, w, h;
    float distance(Vec p) const { return (p.x - x0) / w - (p.y - y0) / h; }
    void settle(PanelVertex& crossing, const PanelVertex& from) const { crossing.side = from.side; }
};

// The width cut with x and y swapped, as cutAlong runs it: every per-coordinate
// operation is the same, and the piece area test is symmetric in x and y.
struct RowLine {
    float y;
    float distance(Vec p) const { return p.y - y; }
    void settle(PanelVertex& crossing, const PanelVertex& from) const {
        crossing.position.y = y;
        crossing.side = from.side;
    }
};

float lerp(float a, float b, float t) { return a + (b - a) * t; }
Vec lerp(Vec a, Vec b, float t) { return a + (b - a) * t; }

Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

PanelVertex interpolate(const PanelVertex& a, const PanelVertex& b, float t) {
    PanelVertex v = a;
    v.position = lerp(a.position, b.position, t);
    v.normal = normalized(lerp(a.normal, b.normal, t));
    for (int k = 0; k < 4; ++k) v.color[k] = lerp(a.color[k], b.color[k], t);
    for (int set = 0; set < kPanelUvSets; ++set) {
        v.uv[set][0] = lerp(a.uv[set][0], b.uv[set][0], t);
        v.uv[set][1] = lerp(a.uv[set][1], b.uv[set][1], t);
    }
    return v;
}

// Signed distances of the three corners; false when a corner or a distance is
// not finite.
template <class Line>
bool cornerDistances(const PanelTriangle& t, const Line& line, float d[3]) {
    for (int k = 0; k < 3; ++k) {
        if (!isFinite(t.vertices[k].position)) return false;
        d[k] = line.distance(t.vertices[k].position);
        if (!std::isfinite(d[k])) return false;
    }
    return true;
}

template <class Line>
Polygon clipBy(const PanelTriangle& t, const Line& line, const float d[3], bool high) {
    Polygon polygon;
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        const PanelVertex& a = t.vertices[k];
        const PanelVertex& b = t.vertices[next];
        const bool aInside = high ? d[k] >= 0.0f : d[k] <= 0.0f;
        const bool bInside = high ? d[next] >= 0.0f : d[next] <= 0.0f;
        if (aInside) polygon.vertices[polygon.count++] = a;
        if (aInside != bInside) {
            PanelVertex crossing = interpolate(a, b, d[k] / (d[k] - d[next]));
            line.settle(crossing, a);
            polygon.vertices[polygon.count++] = crossing;
        }
    }
    return polygon;
}

template <class Line>
std::vector<PanelVertex> clipToVector(const PanelTriangle& t, const Line& line, bool high) {
    float d[3];
    if (!cornerDistances(t, line, d)) return {};
    Polygon polygon = clipBy(t, line, d, high);
    return std::vector<PanelVertex>(polygon.vertices, polygon.vertices + polygon.count);
}

bool hasFinitePositions(const PanelTriangle& t) {
    return isFinite(t.vertices[0].position) && isFinite(t.vertices[1].position) && isFinite(t.vertices[2].position);
}

void swapXY(PanelTriangle& t) {
    for (PanelVertex& v : t.vertices) std::swap(v.position.x, v.position.y);
}

// Every piece replaced, in order, by its pieces cut along x = cut.
void cutAcross(std::vector<PanelTriangle>& pieces, float cut) {
    std::vector<PanelTriangle> next;
    next.reserve(pieces.size() * 2);
    for (const PanelTriangle& piece : pieces) {
        for (const PanelTriangle& part : splitWidth(piece, cut)) next.push_back(part);
    }
    pieces.swap(next);
}

// Every piece replaced, in order, by its pieces cut along y = cut: the width
// cut applied with x and y swapped.
void cutAlong(std::vector<PanelTriangle>& pieces, float cut) {
    std::vector<PanelTriangle> next;
    next.reserve(pieces.size() * 2);
    for (PanelTriangle piece : pieces) {
        swapXY(piece);
        for (PanelTriangle part : splitWidth(piece, cut)) {
            swapXY(part);
            next.push_back(part);
        }
    }
    pieces.swap(next);
}

void markSide(PanelTriangle& t, std::int32_t side) {
    for (PanelVertex& v : t.vertices) v.side = side;
}

// Fans the polygon from its first corner, keeping only pieces with area.
// sideMark < 0 leaves the vertices' own sides.
void appendFan(const Polygon& polygon, std::uint32_t material, std::int32_t sideMark,
               std::vector<PanelTriangle>& out) {
    const PanelVertex& p0 = polygon.vertices[0];
    for (int i = 2; i < polygon.count; ++i) {
        const PanelVertex& p1 = polygon.vertices[i - 1];
        const PanelVertex& p2 = polygon.vertices[i];
        const Vec c = cross(p1.position - p0.position, p2.position - p0.position);
        if (!(lengthSquared(c) * 0.25f > kMinAreaSquared)) continue;
        PanelTriangle piece{{p0, p1, p2}, material};
        if (sideMark >= 0) markSide(piece, sideMark);
        out.push_back(piece);
    }
}

// markSides: the crease cut, which also decides every vertex's side.
template <class Line>
std::vector<PanelTriangle> splitBy(const PanelTriangle& t, const Line& line, bool markSides) {
    float d[3];
    if (!cornerDistances(t, line, d)) return {t};
    const bool allHigh = d[0] >= 0.0f && d[1] >= 0.0f && d[2] >= 0.0f;
    const bool allLow = d[0] <= 0.0f && d[1] <= 0.0f && d[2] <= 0.0f;
    if (allHigh || allLow) {
        std::vector<PanelTriangle> whole{t};
        if (markSides) markSide(whole[0], (d[0] > 0.0f || d[1] > 0.0f || d[2] > 0.0f) ? 1 : 0);
        return whole;
    }
    std::vector<PanelTriangle> pieces;
    pieces.reserve(3);
    appendFan(clipBy(t, line, d, false), t.material, markSides ? 0 : -1, pieces);
    appendFan(clipBy(t, line, d, true), t.material, markSides ? 1 : -1, pieces);
    return pieces;
}


// ---------------------------------------------------------------- fast cutting

// splitBy's test and mark: -1 when the line crosses the triangle; else it
// leaves every corner on one side or on the line, and the side splitBy marks
// is 1 when a corner lies beyond, 0 when none does.
inline std::int32_t wholeSide(const float d[3]) {
    const bool allHigh = d[0] >= 0.0f && d[1] >= 0.0f && d[2] >= 0.0f;
    const bool allLow = d[0] <= 0.0f && d[1] <= 0.0f && d[2] <= 0.0f;
    if (!allHigh && !allLow) return -1;
    return (d[0] > 0.0f || d[1] > 0.0f || d[2] > 0.0f) ? 1 : 0;
}

// clipBy for both sides at once: each crossing vertex is worked out once and
// goes to both polygons (clipBy would work out the same vertex twice).
template <class Line>
void clipBoth(const PanelTriangle& t, const Line& line, const float d[3], Polygon& low, Polygon& high) {
    low.count = 0;
    high.count = 0;
    for (int k = 0; k < 3; ++k) {
        const int next = (k + 1) % 3;
        const PanelVertex& a = t.vertices[k];
        const PanelVertex& b = t.vertices[next];
        const bool aLow = d[k] <= 0.0f, bLow = d[next] <= 0.0f;
        const bool aHigh = d[k] >= 0.0f, bHigh = d[next] >= 0.0f;
        if (aLow) low.vertices[low.count++] = a;
        if (aHigh) high.vertices[high.count++] = a;
        if (aLow != bLow || aHigh != bHigh) {
            PanelVertex crossing = interpolate(a, b, d[k] / (d[k] - d[next]));
            line.settle(crossing, a);
            if (aLow != bLow) low.vertices[low.count++] = crossing;
            if (aHigh != bHigh) high.vertices[high.count++] = crossing;
        }
    }
}

// Where the fast cutting puts pieces: a piece that the line leaves whole is
// kept as it is; a new piece is made in place.
struct ArenaSink {
    std::vector<PanelTriangle>& arena;
    std::vector<std::uint32_t>& next;
    void keep(std::uint32_t index) { next.push_back(index); }
    PanelTriangle& make() {
        next.push_back(static_cast<std::uint32_t>(arena.size()));
        arena.emplace_back();
        return arena.back();
    }
};

// The x and y range of every vertex position made while cutting one source
// triangle. A width or row line at or beyond the range leaves every piece on
// one side (or on the line), so its cut would keep every piece as it is.
// NaN coordinates make every test below false: nothing is skipped then.
struct PlanarRange {
    float minX, maxX, minY, maxY;
    void include(Vec p) {
        if (!(p.x >= minX)) minX = p.x;
        if (!(p.x <= maxX)) maxX = p.x;
        if (!(p.y >= minY)) minY = p.y;
        if (!(p.y <= maxY)) maxY = p.y;
    }
    bool leavesWhole(const WidthLine& line) const { return line.x <= minX || line.x >= maxX; }
    bool leavesWhole(const RowLine& line) const { return line.y <= minY || line.y >= maxY; }
};

PlanarRange rangeOf(const PanelTriangle& t) {
    const Vec p = t.vertices[0].position;
    PlanarRange range{p.x, p.x, p.y, p.y};
    range.include(t.vertices[1].position);
    range.include(t.vertices[2].position);
    return range;
}

void includePolygon(PlanarRange& range, const Polygon& polygon) {
    for (int i = 0; i < polygon.count; ++i) range.include(polygon.vertices[i].position);
}

struct VectorSink {
    std::vector<PanelTriangle>& out;
    PanelTriangle& make() {
        out.emplace_back();
        return out.back();
    }
};

// appendFan into a sink, piece by piece in the same order and with the same test.
template <class Sink>
void fanInto(const Polygon& polygon, std::uint32_t material, std::int32_t sideMark, Sink& sink) {
    const PanelVertex& p0 = polygon.vertices[0];
    for (int i = 2; i < polygon.count; ++i) {
        const PanelVertex& p1 = polygon.vertices[i - 1];
        const PanelVertex& p2 = polygon.vertices[i];
        const Vec c = cross(p1.position - p0.position, p2.position - p0.position);
        if (!(lengthSquared(c) * 0.25f > kMinAreaSquared)) continue;
        PanelTriangle& piece = sink.make();
        piece.vertices[0] = p0;
        piece.vertices[1] = p1;
        piece.vertices[2] = p2;
        piece.material = material;
        if (sideMark >= 0) markSide(piece, sideMark);
    }
}

// splitBy for a piece held in the arena: a piece left whole keeps its index.
template <class Line>
void cutArenaPiece(std::uint32_t index, const Line& line, bool markSides, ArenaSink& sink, PlanarRange& range) {
    float d[3];
    {
        PanelTriangle& t = sink.arena[index];
        if (!cornerDistances(t, line, d)) return sink.keep(index);
        const std::int32_t side = wholeSide(d);
        if (side >= 0) {
            if (markSides) markSide(t, side);
            return sink.keep(index);
        }
    }
    // The polygons hold copies: new pieces may move the arena.
    const std::uint32_t material = sink.arena[index].material;
    Polygon low, high;
    clipBoth(sink.arena[index], line, d, low, high);
    includePolygon(range, low);
    includePolygon(range, high);
    fanInto(low, material, markSides ? 0 : -1, sink);
    fanInto(high, material, markSides ? 1 : -1, sink);
}

// splitBy appending to a vector.
template <class Line>
void cutInto(const PanelTriangle& t, const Line& line, bool markSides, VectorSink& sink) {
    float d[3];
    if (!cornerDistances(t, line, d)) {
        sink.out.push_back(t);
        return;
    }
    const std::int32_t side = wholeSide(d);
    if (side >= 0) {
        sink.out.push_back(t);
        if (markSides) markSide(sink.out.back(), side);
        return;
    }
    Polygon low, high;
    clipBoth(t, line, d, low, high);
    fanInto(low, t.material, markSides ? 0 : -1, sink);
    fanInto(high, t.material, markSides ? 1 : -1, sink);
}

// The diagonal of the lattice cell holding the piece's centroid, found as
// splitPanelLattice finds it.
DiagonalLine cellDiagonalOf(const PanelLattice& lattice, const PanelTriangle& piece) {
    const std::size_t columns = lattice.columns.size();
    const Vec p0 = piece.vertices[0].position;
    const Vec p1 = piece.vertices[1].position;
    const Vec p2 = piece.vertices[2].position;
    const Vec centroid{(p0.x + p1.x + p2.x) * 0.33333334f, (p0.y + p1.y + p2.y) * 0.33333334f, 0.0f};
    // The sampled triangle's first node is always the cell's low-x low-y corner.
    const std::size_t base = lattice.sample(centroid).index[0];
    const std::size_t c = base % columns;
    const std::size_t r = base / columns;
    const float x0 = lattice.columns[c];
    const float y0 = lattice.rows[r];
    return DiagonalLine{x0, y0, lattice.columns[c + 1] - x0, lattice.rows[r + 1] - y0};
}

// One cut over every current piece, in order.
template <class Line>
void cutAllPieces(PanelCutScratch& scratch, const Line& line, bool markSides, PlanarRange& range) {
    scratch.next.clear();
    ArenaSink sink{scratch.arena, scratch.next};
    for (std::uint32_t index : scratch.pieces) cutArenaPiece(index, line, markSides, sink, range);
    scratch.pieces.swap(scratch.next);
}

template <class Line>
void cutAllPiecesUnlessWhole(PanelCutScratch& scratch, const Line& line, PlanarRange& range) {
    if (!range.leavesWhole(line)) cutAllPieces(scratch, line, false, range);
}

}  // namespace

std::vector<PanelVertex> clipCrease(const PanelTriangle& t, float sign, float creaseS, bool beyond) {
    return clipToVector(t, CreaseLine{sign, creaseS}, beyond);
}

std::vector<PanelVertex> clipWidth(const PanelTriangle& t, float x, bool high) {
    return clipToVector(t, WidthLine{x}, high);
}

std::vector<PanelTriangle> splitCrease(const PanelTriangle& t, float sign, float creaseS) {
    return splitBy(t, CreaseLine{sign, creaseS}, true);
}

std::vector<PanelTriangle> splitWidth(const PanelTriangle& t, float x) {
    return splitBy(t, WidthLine{x}, false);
}

std::vector<PanelTriangle> splitLatticeDiagonal(const PanelTriangle& t, float x0, float y0, float w, float h) {
    return splitBy(t, DiagonalLine{x0, y0, w, h}, false);
}

std::vector<PanelTriangle> splitPanelSurface(const PanelTriangle& t, const PanelShape& shape, float minX, float maxX,
                                             unsigned segments) {
    if (!hasFinitePositions(t) || !isFinite(shape) || !std::isfinite(minX) || !std::isfinite(maxX)) return {t};

    std::vector<PanelTriangle> pieces = splitCrease(t, shape.sign, shape.length * shape.crease + shape.start);

    unsigned stations = segments >= 3 ? segments : 2;
    if (stations > 12) stations = 12;
    if (maxX - minX > 0.001f) {
        for (unsigned j = 1; j < stations; ++j) {
            cutAcross(pieces, static_cast<float>(j) * (maxX - minX) / static_cast<float>(stations) + minX);
        }
    }
    for (int k = 1; k <= 5; ++k) {
        cutAlong(pieces, (static_cast<float>(k) * shape.length / 6.0f + shape.start) * shape.sign);
    }
    return pieces;
}

std::vector<PanelTriangle> splitPanelLattice(const PanelTriangle& t, const PanelShape& shape, const SpanFold& fold,
                                             const PanelLattice& lattice) {
    std::vector<PanelTriangle> pieces = splitPanelSurface(t, shape, fold.minX, fold.maxX, fold.segments);
    if (!lattice.usable()) return pieces;

    std::vector<PanelTriangle> cut;
    cut.reserve(pieces.size() * 2);
    for (const PanelTriangle& piece : pieces) {
        for (const PanelTriangle& part : splitBy(piece, cellDiagonalOf(lattice, piece), false)) cut.push_back(part);
    }
    return cut;
}

void appendCrease(const PanelTriangle& t, float sign, float creaseS, std::vector<PanelTriangle>& out) {
    VectorSink sink{out};
    cutInto(t, CreaseLine{sign, creaseS}, true, sink);
}

namespace {

// The crease, station and row lines splitPanelSurface cuts along, computed by
// the same expressions; kept in the scratch while the panel stays the same.
const PanelCutScratch::Lines& cutLinesOf(const PanelShape& shape, const SpanFold& fold, PanelCutScratch& scratch) {
    PanelCutScratch::Lines& lines = scratch.lines;
    const float key[7] = {shape.sign, shape.start, shape.length, shape.crease, fold.minX, fold.maxX,
                          static_cast<float>(fold.segments)};
    if (lines.known && std::memcmp(key, lines.key, sizeof key) == 0) return lines;
    std::memcpy(lines.key, key, sizeof key);
    lines.known = true;
    lines.creaseS = shape.length * shape.crease + shape.start;
    const float minX = fold.minX, maxX = fold.maxX;
    unsigned stations = fold.segments >= 3 ? fold.segments : 2;
    if (stations > 12) stations = 12;
    lines.stationCount = 0;
    if (maxX - minX > 0.001f) {
        for (unsigned j = 1; j < stations; ++j)
            lines.stations[lines.stationCount++] =
                static_cast<float>(j) * (maxX - minX) / static_cast<float>(stations) + minX;
    }
    for (int k = 1; k <= 5; ++k)
        lines.rows[k - 1] = (static_cast<float>(k) * shape.length / 6.0f + shape.start) * shape.sign;
    return lines;
}

// The whole cutting when no line but perhaps the cell diagonal crosses t (most
// triangles of a fine mesh): t goes straight to `out`. False, with `out`
// untouched, when some other line crosses it or a distance is not usable.
bool appendUncutSurfacePiece(const PanelTriangle& t, const PanelShape& shape, const PanelCutScratch::Lines& lines,
                             const PanelLattice& lattice, std::vector<PanelTriangle>& out) {
    float d[3];
    if (!cornerDistances(t, CreaseLine{shape.sign, lines.creaseS}, d)) return false;
    const std::int32_t side = wholeSide(d);
    if (side < 0) return false;
    const PlanarRange range = rangeOf(t);
    for (unsigned j = 0; j < lines.stationCount; ++j) {
        if (!range.leavesWhole(WidthLine{lines.stations[j]})) return false;
    }
    for (float row : lines.rows) {
        if (!range.leavesWhole(RowLine{row})) return false;
    }
    const std::size_t first = out.size();
    if (lattice.usable()) {
        VectorSink sink{out};
        cutInto(t, cellDiagonalOf(lattice, t), false, sink);
    } else {
        out.push_back(t);
    }
    // Every vertex of the diagonal's pieces takes its side from a corner of t,
    // so marking them afterwards marks them as marking t first would.
    for (std::size_t k = first; k < out.size(); ++k) markSide(out[k], side);
    return true;
}

}  // namespace

void appendPanelLattice(const PanelTriangle& t, const PanelShape& shape, const SpanFold& fold,
                        const PanelLattice& lattice, PanelCutScratch& scratch, std::vector<PanelTriangle>& out) {
    const bool finite = hasFinitePositions(t) && isFinite(shape) && std::isfinite(fold.minX) && std::isfinite(fold.maxX);
    const PanelCutScratch::Lines* lines = finite ? &cutLinesOf(shape, fold, scratch) : nullptr;
    if (lines && appendUncutSurfacePiece(t, shape, *lines, lattice, out)) return;
    scratch.arena.clear();
    scratch.pieces.clear();
    scratch.arena.push_back(t);
    scratch.pieces.push_back(0);
    // splitPanelSurface, cut by cut.
    if (lines) {
        PlanarRange range = rangeOf(t);
        cutAllPieces(scratch, CreaseLine{shape.sign, lines->creaseS}, true, range);
        for (unsigned j = 0; j < lines->stationCount; ++j)
            cutAllPiecesUnlessWhole(scratch, WidthLine{lines->stations[j]}, range);
        for (float row : lines->rows) cutAllPiecesUnlessWhole(scratch, RowLine{row}, range);
    }

    if (!lattice.usable()) {
        for (std::uint32_t index : scratch.pieces) out.push_back(scratch.arena[index]);
        return;
    }
    VectorSink sink{out};
    for (std::uint32_t index : scratch.pieces) {
        const PanelTriangle& piece = scratch.arena[index];
        cutInto(piece, cellDiagonalOf(lattice, piece), false, sink);
    }
}

}  // namespace dent
