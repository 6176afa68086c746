#include "panel/crease_topology.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "deform/panel_state.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"
#include "panel/rest_normals.h"
#include "panel/triangle_split.h"

namespace kerbmark {

namespace {

constexpr float kMaxCoordinate = 10000.0f;
constexpr float kMaxNormalLength = 10.0f;
constexpr float kMinAsymmetricWidth = 0.02f;
constexpr float kMinLength = 0.25f;
constexpr float kMaxLength = 3.5f;
constexpr float kMaxHeightPerLength = 0.75f;
constexpr std::int32_t kMaxTriangles = 10000;
constexpr std::uint32_t kSeamRepairFlags = 2;
constexpr std::uint32_t kNormalsFlag = 0x10;
constexpr std::uint32_t kColoursFlag = 0x08;
constexpr std::uint32_t kKeptFormatFlags = 0xFE;
constexpr std::int32_t kMaxTexCoordSets = dent::kPanelUvSets;

bool readable(const void* pointer, std::uint32_t bytes) { return pointer && readableRange(pointer, bytes); }

std::uint32_t bytesOf(std::int32_t count, std::uint32_t each) { return static_cast<std::uint32_t>(count) * each; }

bool usableNormal(dent::Vec n) { return dent::isFinite(n) && dent::length(n) <= kMaxNormalLength; }

// The source's arrays may be followed for its whole vertex and triangle count.
bool sourceReadable(const host::Geometry& g) {
    if (g.vertexCount < 0 || g.triangleCount < 0 || g.texCoordSets < 0 || g.texCoordSets > kMaxTexCoordSets)
        return false;
    const host::VertexBlock* block = g.vertexBlock;
    if (!readable(block, sizeof *block)) return false;
    if (!readable(block->positions, bytesOf(g.vertexCount, sizeof(dent::Vec)))) return false;
    if (block->normals && !readableRange(block->normals, bytesOf(g.vertexCount, sizeof(dent::Vec)))) return false;
    if (g.colors && !readableRange(g.colors, bytesOf(g.vertexCount, 4))) return false;
    for (std::int32_t set = 0; set < g.texCoordSets; ++set) {
        if (!readable(g.texCoords[set], bytesOf(g.vertexCount, 8))) return false;
    }
    return readable(g.triangles, bytesOf(g.triangleCount, sizeof(host::Triangle)));
}

// std::round without the call: below 2^23 the truncation and the fraction it
// leaves are exact, so the halves are decided exactly; the rest (huge, NaN)
// goes to std::round.
float roundedHalfAwayFromZero(float value) {
    if (!(std::fabs(value) < 8388608.0f)) return std::round(value);
    const float truncated = std::copysign(static_cast<float>(static_cast<std::int32_t>(value)), value);
    const float fraction = value - truncated;
    if (fraction >= 0.5f) return truncated + 1.0f;
    if (fraction <= -0.5f) return truncated - 1.0f;
    return truncated;
}

}  // namespace

std::uint32_t packedColour(const float (&colour)[4]) {
    std::uint32_t packed = 0;
    for (int channel = 0; channel < 4; ++channel) {
        // Rounded half away from zero, then held to a byte.
        const float rounded = roundedHalfAwayFromZero(colour[channel]);
        const float byte = rounded < 0.0f ? 0.0f : (rounded > 255.0f ? 255.0f : rounded);
        packed |= static_cast<std::uint32_t>(byte) << (8 * channel);
    }
    return packed;
}

namespace {

// The source triangle `index` with its corners' full vertex data; false when
// a corner index or a normal cannot be used. Writes the same fields for every
// triangle of `g`: the rest of `out` stays as zeroed by the caller.
bool panelTriangle(const host::Geometry& g, std::int32_t index, const std::vector<dent::Vec>& smoothedNormals,
                   dent::PanelTriangle& out) {
    const host::Triangle& source = g.triangles[index];
    out.material = source.material;
    const host::VertexBlock& block = *g.vertexBlock;
    for (int corner = 0; corner < 3; ++corner) {
        const std::uint16_t j = source.vertex[corner];
        if (j >= g.vertexCount) return false;
        dent::PanelVertex& v = out.vertices[corner];
        v.position = block.positions[j];
        if (block.normals) {
            v.normal = smoothedNormals.empty() ? block.normals[j] : smoothedNormals[j];
            if (!usableNormal(v.normal)) return false;
        }
        if (g.colors) {
            const std::uint32_t c = g.colors[j];
            for (int channel = 0; channel < 4; ++channel)
                v.color[channel] = static_cast<float>((c >> (8 * channel)) & 0xFFu);
        }
        for (std::int32_t set = 0; set < g.texCoordSets; ++set) {
            v.uv[set][0] = g.texCoords[set][2 * j];
            v.uv[set][1] = g.texCoords[set][2 * j + 1];
        }
    }
    return true;
}

struct Box {
    float minX = INFINITY, maxX = -INFINITY;
    float minS = INFINITY, maxS = -INFINITY;
    float minZ = INFINITY, maxZ = -INFINITY;
};

bool withinLimit(float value) { return std::isfinite(value) && std::fabs(value) <= kMaxCoordinate; }

// The panel's box in its lengthwise frame; false for a coordinate that is not
// finite or lies beyond 10000.
bool panelBox(const host::Geometry& g, float sign, Box& box) {
    const dent::Vec* positions = g.vertexBlock->positions;
    for (std::int32_t i = 0; i < g.vertexCount; ++i) {
        const float x = positions[i].x;
        const float s = positions[i].y * sign;
        const float z = positions[i].z;
        if (!withinLimit(x) || !withinLimit(s) || !withinLimit(z)) return false;
        box.minX = std::fmin(box.minX, x);
        box.maxX = std::fmax(box.maxX, x);
        box.minS = std::fmin(box.minS, s);
        box.maxS = std::fmax(box.maxS, s);
        box.minZ = std::fmin(box.minZ, z);
        box.maxZ = std::fmax(box.maxZ, z);
    }
    return true;
}

// Writes the cut triangles into the new geometry; false when the host refuses one.
// Fills pieces [from, to) of the cut into the new geometry, each with three
// vertices of its own, and appends their corners' sides to the state.
bool fillPieces(host::Geometry& created, const host::Geometry& source, const std::vector<dent::PanelTriangle>& cut,
                std::size_t from, std::size_t to, PanelState& state) {
    host::VertexBlock& block = *created.vertexBlock;
    const bool normals = block.normals != nullptr;
    const bool colours = created.colors != nullptr;
    for (std::size_t u = from; u < to; ++u) {
        const dent::PanelTriangle& t = cut[u];
        if (t.material >= static_cast<std::uint32_t>(source.materialCount)) return false;
        for (int k = 0; k < 3; ++k) {
            const dent::PanelVertex& v = t.vertices[k];
            const std::size_t at = 3 * u + static_cast<std::size_t>(k);
            block.positions[at] = v.position;
            if (normals) block.normals[at] = v.normal;
            if (colours) created.colors[at] = packedColour(v.color);
            for (std::int32_t set = 0; set < source.texCoordSets; ++set) {
                created.texCoords[set][2 * at] = v.uv[set][0];
                created.texCoords[set][2 * at + 1] = v.uv[set][1];
            }
            state.sides.push_back(v.side);
        }
        const auto first = static_cast<std::uint16_t>(3 * u);
        host::Triangle* triangle = created.triangles + u;
        if (!game::triangleVertices(&created, triangle, first, static_cast<std::uint16_t>(first + 1),
                                    static_cast<std::uint16_t>(first + 2)))
            return false;
        if (!game::triangleMaterial(&created, triangle, source.materials[t.material])) return false;
    }
    return true;
}

// The measuring step: the checks on the source, the panel's shape, span fold
// and lattice, and the smoothed seam normals.
bool beginCut(void* geometry, PanelState& state, CreaseCut& cut) {
    breadcrumb("panel: build crease topology");
    if (!geometry || !readableRange(geometry, sizeof(host::Geometry))) return false;
    host::Geometry& source = *static_cast<host::Geometry*>(geometry);
    if (game::geometrySkin(&source)) return false;
    if (!sourceReadable(source)) return false;

    dent::PanelShape& shape = state.shape;
    Box box;
    if (!panelBox(source, shape.sign, box)) return false;
    const bool asymmetry = settings.PanelAsymmetry;
    const float length = box.maxS - box.minS;
    // An empty box gives NaN and infinite extents, which every test below refuses.
    if (asymmetry && !(box.maxX - box.minX >= kMinAsymmetricWidth)) return false;
    if (!(length >= kMinLength)) return false;
    if (length > kMaxLength) return false;
    if (box.maxZ - box.minZ > kMaxHeightPerLength * length) return false;
    if (source.triangleCount < 1 || source.triangleCount > kMaxTriangles) return false;

    shape.start = box.minS;
    shape.length = length;

    cut.pieces.clear();
    cut.smoothedNormals.clear();
    cut.lattice = asymmetry;
    cut.cutTriangles = 0;
    const host::VertexBlock& sourceBlock = *source.vertexBlock;
    const auto vertexCount = static_cast<std::size_t>(source.vertexCount);
    if (asymmetry) {
        state.spanFold.init(box.minX, box.maxX, (box.maxZ + box.minZ) * 0.5f, settings.PanelWidthSegments, shape);
        state.lattice.init(state.spanFold, shape);
        if (sourceBlock.normals && (state.atomicFlags & 3u) == kSeamRepairFlags) {
            std::vector<dent::Vec> positions(sourceBlock.positions, sourceBlock.positions + vertexCount);
            std::vector<dent::Vec> normals(sourceBlock.normals, sourceBlock.normals + vertexCount);
            for (const dent::Vec& n : normals) {
                if (!usableNormal(n)) return false;
            }
            cut.smoothedNormals = dent::panelRestNormals(positions, normals, state.atomicFlags);
        }
    }
    return true;
}

// The cutting step: up to `triangles` more source triangles, each with its
// corners' full vertex data, cut into pieces.
CutStep continueCut(const host::Geometry& source, const PanelState& state, CreaseCut& cut,
                    std::int32_t triangles) {
    const dent::PanelShape& shape = state.shape;
    const float creaseS = shape.length * shape.crease + shape.start;
    const std::int32_t end =
        cut.cutTriangles + static_cast<std::int32_t>(std::min<std::size_t>(std::max(triangles, 0), cutTrianglesLeft(&source, cut)));
    dent::PanelTriangle triangle{};  // zeroed: fields the source lacks stay 0
    for (std::int32_t i = cut.cutTriangles; i < end; ++i) {
        if (!panelTriangle(source, i, cut.smoothedNormals, triangle)) return CutStep::Refused;
        if (cut.lattice) {
            dent::appendPanelLattice(triangle, shape, state.spanFold, state.lattice, cut.scratch, cut.pieces);
        } else {
            dent::appendCrease(triangle, shape.sign, creaseS, cut.pieces);
        }
        if (cut.pieces.size() > static_cast<std::size_t>(kMaxTriangles)) return CutStep::Refused;
    }
    cut.cutTriangles = end;
    if (end < source.triangleCount) return CutStep::More;
    return cut.pieces.empty() ? CutStep::Refused : CutStep::Done;
}

// The building's first step: the new geometry for the finished cut, checked
// for every array the source has, with room for the pieces' sides. `created`
// holds it as soon as the host made it, so that the caller can give it back
// on any failure.
bool createGeometry(const host::Geometry& source, PanelState& state, const CreaseCut& cut,
                    host::Geometry*& created) {
    const auto n = static_cast<std::int32_t>(cut.pieces.size());
    const std::uint32_t format =
        (static_cast<std::uint32_t>(source.texCoordSets) << 16) | (source.flags & kKeptFormatFlags);
    created = static_cast<host::Geometry*>(game::createGeometry(3 * n, n, format));
    if (!created) return false;

    if (!readable(created, sizeof *created)) return false;
    host::VertexBlock* block = created->vertexBlock;
    if (!readable(block, sizeof *block) || !block->positions || !created->triangles) return false;
    for (int i = 0; i < 4; ++i) block->boundingSphere[i] = source.vertexBlock->boundingSphere[i];
    if ((source.flags & kNormalsFlag) && !block->normals) return false;
    if ((source.flags & kColoursFlag) && !created->colors) return false;
    for (std::int32_t set = 0; set < source.texCoordSets; ++set) {
        if (!created->texCoords[set]) return false;
    }
    state.sides.clear();
    state.sides.reserve(3 * cut.pieces.size());
    return true;
}

// The building's last step, once every piece is filled in.
bool finishGeometry(host::Geometry& created) {
    if (!game::unlock(&created)) return false;
    if (!materialTableValid(&created)) {
        logLine("MaterialGuard: invalid panel material table; rejected.");
        return false;
    }
    breadcrumb("panel: crease topology complete");
    return true;
}

// Kept from one cut to the next: touching fresh memory for the pieces costs
// more than cutting them. Two, so that the player's car prepared ahead and a
// traffic dent, each holding one while its cut waits between frames, both
// cut into memory touched before. Cuts run on the game thread.
std::array<CreaseCut, 2>& keptCuts() {
    static std::array<CreaseCut, 2>* const kept = new std::array<CreaseCut, 2>();
    return *kept;
}

}  // namespace

bool beginCreaseCut(void* geometry, PanelState& state, CreaseCut& cut) {
    try {
        return beginCut(geometry, state, cut);
    } catch (...) {
        return false;  // out of memory: the panel is refused, as any other
    }
}

CutStep continueCreaseCut(void* geometry, const PanelState& state, CreaseCut& cut, std::int32_t triangles) {
    try {
        return continueCut(*static_cast<const host::Geometry*>(geometry), state, cut, triangles);
    } catch (...) {
        return CutStep::Refused;
    }
}

void* beginCutBuild(void* geometry, PanelState& state, const CreaseCut& cut) {
    host::Geometry* created = nullptr;
    bool made = false;
    try {
        made = createGeometry(*static_cast<const host::Geometry*>(geometry), state, cut, created);
    } catch (...) {
        made = false;  // nothing may reach the host
    }
    if (made) return created;
    if (created) releaseGeometry(created);
    return nullptr;
}

bool continueCutBuild(void* created, void* geometry, PanelState& state, const CreaseCut& cut, std::size_t& filled,
                      std::size_t pieces) {
    const std::size_t end = filled + std::min(pieces, cutPiecesLeft(cut, filled));
    try {
        if (!fillPieces(*static_cast<host::Geometry*>(created), *static_cast<const host::Geometry*>(geometry),
                        cut.pieces, filled, end, state)) {
            return false;
        }
    } catch (...) {
        return false;
    }
    filled = end;
    return true;
}

std::size_t cutPiecesLeft(const CreaseCut& cut, std::size_t filled) {
    return cut.pieces.size() - std::min(filled, cut.pieces.size());
}

std::size_t cutTrianglesLeft(const void* geometry, const CreaseCut& cut) {
    const std::int32_t triangles = static_cast<const host::Geometry*>(geometry)->triangleCount;
    return cut.cutTriangles < triangles ? static_cast<std::size_t>(triangles - cut.cutTriangles) : 0;
}

bool finishCutBuild(void* created) {
    try {
        return finishGeometry(*static_cast<host::Geometry*>(created));
    } catch (...) {
        return false;
    }
}

void* buildCutGeometry(void* geometry, PanelState& state, const CreaseCut& cut) {
    void* created = beginCutBuild(geometry, state, cut);
    if (!created) return nullptr;
    std::size_t filled = 0;
    if (continueCutBuild(created, geometry, state, cut, filled, cut.pieces.size()) && finishCutBuild(created)) {
        return created;
    }
    releaseGeometry(created);
    return nullptr;
}

void* buildCreaseTopology(void* geometry, PanelState& state) {
    CreaseCut cut;
    borrowCutBuffers(cut);
    void* built = nullptr;
    if (beginCreaseCut(geometry, state, cut) && continueCreaseCut(geometry, state, cut, kMaxTriangles) == CutStep::Done) {
        built = buildCutGeometry(geometry, state, cut);
    }
    returnCutBuffers(cut);
    return built;
}

void borrowCutBuffers(CreaseCut& cut) {
    CreaseCut* roomiest = &cut;
    for (CreaseCut& kept : keptCuts()) {
        if (kept.pieces.capacity() > roomiest->pieces.capacity()) roomiest = &kept;
    }
    if (roomiest != &cut) std::swap(*roomiest, cut);
}

void returnCutBuffers(CreaseCut& cut) {
    CreaseCut* smallest = nullptr;
    for (CreaseCut& kept : keptCuts()) {
        if (!smallest || kept.pieces.capacity() < smallest->pieces.capacity()) smallest = &kept;
    }
    if (cut.pieces.capacity() > smallest->pieces.capacity()) std::swap(*smallest, cut);
}

}  // namespace kerbmark
