#include "deform/panel_paths.h"

#include <algorithm>
#include <vector>

#include "deform/panel_fold.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "panel/crease_topology.h"

namespace kerbmark {

namespace {

constexpr float kFoldingBend = 0.4f;
constexpr std::uint32_t kDamagedVariant = 2;
constexpr unsigned kPanelLineBuffer = 160;
constexpr unsigned kSurfaceLineBuffer = 480;

const char* kindName(std::int32_t kind) { return kind == 1 ? "bonnet" : "boot"; }

// How much the push points from the free edge back toward the hinge line.
float bendOf(const dent::DentArguments& dent, const PanelState& state) {
    return std::max(0.0f, -dent.direction.y * state.shape.sign);
}

// The largest dent weight any rest position gets from this hit.
float largestWeight(const dent::Vec* rest, std::size_t count, const dent::DentArguments& dent) {
    if (!(dent.radius > 0.0f)) return 0.0f;
    float largest = 0.0f;
    for (std::size_t i = 0; i < count; ++i) {
        largest = std::max(largest, dent::falloffWeight(dent::length(rest[i] - dent.hit), dent.radius, dent.falloffPower));
    }
    return largest;
}

dent::Vec capped(dent::Vec rest, dent::Vec p, float cap) {
    const dent::Vec delta = p - rest;
    const float distance = dent::length(delta);
    if (distance > cap) return rest + delta * (cap / distance);
    return p;
}

void logShading(const PanelState& state) {
    const bool damaged = (state.atomicFlags & 3u) == kDamagedVariant;
    logFormatted<kPanelLineBuffer>("PanelShading: kind=%s variant=%s flags=0x%X normals=%s", kindName(state.kind),
                                   damaged ? "damaged" : "original-or-unmarked", state.atomicFlags,
                                   damaged && settings.PanelAsymmetry ? "seam-repair" : "authored");
}

}  // namespace

void* preparePanel(void* atomic, int kind, std::uint32_t creaseSeed, void* copy, PanelState& state) {
    state.kind = kind;
    state.atomicFlags = game::atomicFlags(atomic);
    state.shape.crease = dent::variedCrease(creaseSeed, static_cast<std::uint32_t>(kind), settings.PanelCrease,
                                            settings.PanelCreaseRandomness);
    state.shape.sign = kind == 1 ? 1.0f : -1.0f;

    void* rebuilt = buildCreaseTopology(copy, state);
    if (!rebuilt) {
        state = PanelState{};
        logLine("Panel crease unsupported; using ordinary dent for this mesh.");
        return copy;
    }
    releaseGeometry(copy);
    if (settings.LogHits) logShading(state);
    return rebuilt;
}

void beginPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count) {
    state.working.assign(rest, rest + count);
    if (normals) state.restNormals.assign(normals, normals + count);
    if (settings.PanelAsymmetry && state.sides.size() == count) {
        state.sheet.clear();
        state.sheet.reserve(count);
        state.movedNodes.resize(state.lattice.nodes.size());
        state.nodePositions.resize(state.lattice.nodes.size());
    }
}

bool continuePanelLists(PanelState& state, const dent::Vec* rest, std::size_t count, std::size_t vertices) {
    if (!settings.PanelAsymmetry || state.sides.size() != count) return true;
    const std::size_t begin = state.sheet.size();
    const std::size_t end = std::min(count, begin + vertices);
    state.sheet.resize(end);
    for (std::size_t i = begin; i < end; ++i) {
        state.sheet[i].init(rest[i], state.spanFold.z, state.shape, state.sides[i]);
    }
    return end == count;
}

void fillPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count) {
    beginPanelLists(state, rest, normals, count);
    continuePanelLists(state, rest, count, count);
}

bool panelListsFit(const PanelState& state, std::size_t count) {
    if (state.sides.size() != count || state.working.size() != count) return false;
    if (!state.restNormals.empty() && state.restNormals.size() != count) return false;
    if (!settings.PanelAsymmetry) return true;
    const std::size_t nodes = state.lattice.nodes.size();
    return state.sheet.size() == count && state.movedNodes.size() == nodes && state.nodePositions.size() == nodes;
}

void foldPath(PanelState& state, bool newEpisode, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
              std::size_t count, const dent::DentArguments& dent) {
    const Settings& s = settings;
    if (newEpisode) state.demand = 0.0f;
    const float bend = bendOf(dent, state);
    const bool folds = bend > kFoldingBend && dent.depth > s.PanelMinDepth;
    dent::PanelShape& shape = state.shape;

    if (folds) {
        if (s.PanelFollowBody) {
            for (std::size_t i = 0; i < count; ++i) {
                state.working[i] = state.working[i] + dent::panelBodyStep(rest[i], shape, dent.hit, dent.direction,
                                                                          dent.depth, dent.radius, dent.previousDepth,
                                                                          dent.previousRadius, dent.cap,
                                                                          dent.falloffPower);
            }
        }
        const float weight = largestWeight(rest, count, dent);
        const float demand = bend * (dent.depth - s.PanelMinDepth) * s.PanelStrength * weight;
        const float increment = std::max(0.0f, demand - state.demand);
        state.demand = std::max(state.demand, demand);
        const float target = std::min(state.compression + increment, s.PanelMaxCompression * shape.length);
        const dent::Fold limited = dent::limitedFold(shape.length, shape.crease, target, s.PanelMaxLift);
        state.compression = limited.compression;
        if (s.LogHits) {
            logFormatted<kPanelLineBuffer>("PanelFold: kind=%s compression=%.3f lift=%.3f crease=%.3f vertices=%d",
                                           kindName(state.kind), limited.compression, limited.lift, shape.crease,
                                           static_cast<int>(count));
        }
    } else {
        dent::dentMesh(rest, state.working.data(), count, dent);
    }

    const dent::Fold fold = dent::foldFor(shape.length, shape.crease, state.compression);
    const bool writeNormals = normals && !state.restNormals.empty();
    for (std::size_t i = 0; i < count; ++i) {
        positions[i] = capped(rest[i], state.working[i] + dent::foldOffset(rest[i], shape, fold), dent.cap);
        if (writeNormals) normals[i] = dent::foldNormal(state.restNormals[i], fold, shape.sign, state.sides[i]);
    }
}

namespace {

// Whether the hit is tracked as a fold, and whether the sheet points take its dents.
struct SurfaceHit {
    bool track;
    bool move;
};

SurfaceHit surfaceHit(const PanelState& state, const dent::DentArguments& dent) {
    const Settings& s = settings;
    const bool boot = state.kind == 2;
    const float bend = bendOf(dent, state);
    const float corner = boot ? state.spanFold.cornerWeight(state.shape, dent.hit, dent.direction) : 0.0f;
    const bool track = dent.depth > s.PanelMinDepth && (bend > kFoldingBend || corner > 0.0f);
    // A tracked hit without PanelFollowBody only folds: the sheet keeps its dents.
    return SurfaceHit{track, !(track && !s.PanelFollowBody)};
}

dent::SpanFold observedSpan(const PanelState& state, const dent::DentArguments& dent, bool track) {
    const Settings& s = settings;
    dent::SpanFold span = state.spanFold;
    span.observe(state.shape, dent.hit, dent.direction, dent.depth, dent.radius, dent.previousDepth,
                 dent.previousRadius, dent.cap, dent.falloffPower, track, s.PanelStrength, s.PanelMinDepth,
                 s.PanelMaxCompression, s.PanelMaxLift, state.kind == 2);
    return span;
}

// The nodes' positions for this hit: `nodes` carry its dents already (or are
// the lattice's own when the sheet keeps its dents).
void placeNodes(const std::vector<dent::SheetPoint>& nodes, const PanelState& state, const dent::SpanFold& span,
                float cap, std::vector<dent::Vec>& positions) {
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        positions[n] = dent::sheetPosition(nodes[n], 0, state.shape, span, settings.PanelFollowBody, cap);
    }
}

void logSurface(const PanelState& state, const dent::SpanFold& span, std::size_t count,
                const dent::DentArguments& dent) {
    if (!settings.LogHits) return;
    const dent::PanelShape& shape = state.shape;
    logFormatted<kSurfaceLineBuffer>(
        "PanelSurface: kind=%s compressionMinX=%.5f center=%.5f maxX=%.5f crease=%.3f vertices=%d "
        "shorteningMax=%.5f demandMax=%.5f length=%.3f threshold=%.3f hit=(%.3f,%.3f,%.3f) "
        "direction=(%.3f,%.3f,%.3f)",
        kindName(state.kind), span.at(span.minX), span.at((span.minX + span.maxX) * 0.5f), span.at(span.maxX),
        shape.crease, static_cast<int>(count), span.shorteningMax, span.demandMax, shape.length,
        settings.PanelMinDepth, dent.hit.x, dent.hit.y, dent.hit.z, dent.direction.x, dent.direction.y,
        dent.direction.z);
}

}  // namespace

void surfacePath(PanelState& state, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
                 std::size_t count, const dent::DentArguments& dent) {
    const SurfaceHit hit = surfaceHit(state, dent);

    // The panel's state is only changed once the lattice has accepted the new
    // node positions. Nothing here allocates, since every buffer was sized
    // with the panel; keepOrdered could only if its blend buffer were short,
    // and then it throws before it changes anything: a hit that fails leaves
    // the panel as it was.
    const dent::SpanFold span = observedSpan(state, dent, hit.track);

    // Each point's position reads only its own probes, so all probes are
    // dented first, four at a time, on a copy the lattice has not accepted yet.
    std::vector<dent::SheetPoint>& nodes = hit.move ? state.movedNodes : state.lattice.nodes;
    if (hit.move) {
        std::copy(state.lattice.nodes.begin(), state.lattice.nodes.end(), nodes.begin());
        dent::dentSheetProbes(nodes.data(), nodes.size(), dent);
    }
    std::vector<dent::Vec>& nodePositions = state.nodePositions;
    placeNodes(nodes, state, span, dent.cap, nodePositions);
    state.lattice.keepOrdered(nodePositions);

    state.spanFold = span;
    if (hit.move) state.lattice.nodes.swap(state.movedNodes);

    const bool writeNormals = normals && !state.restNormals.empty();
    if (hit.move) dent::dentSheetProbes(state.sheet.data(), count, dent);
    for (std::size_t i = 0; i < count; ++i) {
        positions[i] = rest[i] + state.lattice.displacement(rest[i], nodePositions);
    }
    if (writeNormals) {
        dent::sheetNormals(state.sheet.data(), count, state.shape, span, settings.PanelFollowBody, dent.cap,
                           state.restNormals.data(), normals);
    }
    if (hit.track) logSurface(state, span, count, dent);
}

namespace {

// Makes `buffer` hold at least `count` elements without moving old ones into a
// new buffer: one that is too small is dropped for a roomier one, so that
// panels of slightly different sizes share the same memory.
template <typename T>
void holdAtLeast(std::vector<T>& buffer, std::size_t count) {
    if (buffer.capacity() < count) {
        buffer.clear();
        buffer.reserve(count + count / 4);
    }
    if (buffer.size() < count) buffer.resize(count);
}

}  // namespace

void beginSurface(const PanelState& state, std::size_t count, const dent::DentArguments& dent,
                  StagedSurface& staged) {
    const SurfaceHit hit = surfaceHit(state, dent);
    staged.dent = dent;
    staged.track = hit.track;
    staged.move = hit.move;
    staged.span = observedSpan(state, dent, hit.track);
    // The lattice is small: a copy of it takes this hit, as surfacePath's own does.
    staged.lattice = state.lattice;
    if (hit.move) dent::dentSheetProbes(staged.lattice.nodes.data(), staged.lattice.nodes.size(), dent);
    staged.nodePositions.resize(staged.lattice.nodes.size());
    placeNodes(staged.lattice.nodes, state, staged.span, dent.cap, staged.nodePositions);
    staged.lattice.keepOrdered(staged.nodePositions);

    staged.count = count;
    staged.done = 0;
    staged.normals = !state.restNormals.empty();
    if (hit.move) holdAtLeast(staged.sheet, count);
    holdAtLeast(staged.positions, count);
    if (staged.normals) holdAtLeast(staged.normalList, count);
}

void continueSurface(const PanelState& state, const dent::Vec* rest, std::size_t vertices, StagedSurface& staged) {
    const std::size_t begin = staged.done;
    const std::size_t n = std::min(vertices, staged.count - begin);
    const dent::SheetPoint* sheet = state.sheet.data() + begin;
    if (staged.move) {
        // Every point takes its own dents: a run of them gives the same bits as the whole sheet.
        std::copy(sheet, sheet + n, staged.sheet.begin() + static_cast<std::ptrdiff_t>(begin));
        sheet = staged.sheet.data() + begin;
        dent::dentSheetProbes(staged.sheet.data() + begin, n, staged.dent);
    }
    for (std::size_t i = begin; i < begin + n; ++i) {
        staged.positions[i] = rest[i] + staged.lattice.displacement(rest[i], staged.nodePositions);
    }
    if (staged.normals) {
        dent::sheetNormals(sheet, n, state.shape, staged.span, settings.PanelFollowBody, staged.dent.cap,
                           state.restNormals.data() + begin, staged.normalList.data() + begin);
    }
    staged.done = begin + n;
}

void commitSurface(PanelState& state, StagedSurface& staged, dent::Vec* positions, dent::Vec* normals) {
    state.spanFold = staged.span;
    state.lattice.nodes.swap(staged.lattice.nodes);
    state.lattice.accepted.swap(staged.lattice.accepted);
    // Copied rather than swapped: the staged buffers stay roomy for the next panel.
    if (staged.move) std::copy_n(staged.sheet.begin(), staged.count, state.sheet.begin());
    std::copy_n(staged.positions.begin(), staged.count, positions);
    if (normals && staged.normals) std::copy_n(staged.normalList.begin(), staged.count, normals);
    if (staged.track) logSurface(state, staged.span, staged.count, staged.dent);
}

}  // namespace kerbmark
