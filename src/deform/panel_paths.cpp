#include "deform/panel_paths.h"

#include <algorithm>
#include <vector>

#include "deform/panel_fold.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "panel/crease_topology.h"
#include "panel/sheet_places.h"

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
    logHitFormatted<kPanelLineBuffer>("PanelShading: kind=%s variant=%s flags=0x%X normals=%s", kindName(state.kind),
                                   damaged ? "damaged" : "original-or-unmarked", state.atomicFlags,
                                   damaged && settings.PanelAsymmetry ? "seam-repair" : "authored");
}

}  // namespace

void startPanel(void* atomic, int kind, std::uint32_t creaseSeed, PanelState& state) {
    state.kind = kind;
    state.atomicFlags = game::atomicFlags(atomic);
    state.shape.crease = dent::variedCrease(creaseSeed, static_cast<std::uint32_t>(kind), settings.PanelCrease,
                                            settings.PanelCreaseRandomness);
    state.shape.sign = kind == 1 ? 1.0f : -1.0f;
}

void* keepPanelCopy(void* copy, void* rebuilt, PanelState& state) {
    if (!rebuilt) {
        state = PanelState{};
        logLine("Panel crease unsupported; using ordinary dent for this mesh.");
        return copy;
    }
    releaseGeometry(copy);
    if (settings.LogHits) logShading(state);
    return rebuilt;
}

void* preparePanel(void* atomic, int kind, std::uint32_t creaseSeed, void* copy, PanelState& state) {
    startPanel(atomic, kind, creaseSeed, state);
    return keepPanelCopy(copy, buildCreaseTopology(copy, state), state);
}

void beginPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count) {
    state.working.assign(rest, rest + count);
    if (normals) state.restNormals.assign(normals, normals + count);
    if (settings.PanelAsymmetry && state.sides.size() == count) {
        state.sheet.clear();
        state.sheetOf.clear();
        state.sheetOf.reserve(count);
        state.firstVertices.clear();
        state.firstVertices.reserve(count);
        dent::clearPlaceTable(count, state.placeTable);
        state.sheetShifts.clear();
        state.sheetTangents.clear();
        state.movedNodes.resize(state.lattice.nodes.size());
        state.nodePositions.resize(state.lattice.nodes.size());
    }
}

bool continuePanelLists(PanelState& state, const dent::Vec* rest, std::size_t count, std::size_t items) {
    if (!settings.PanelAsymmetry || state.sides.size() != count) return true;
    // Lists made whole earlier (a prepared copy's) have nothing left to make.
    if (panelListsFit(state, count)) return true;
    // First every vertex finds its place, then every place gets its sheet point.
    const std::size_t placed = std::min(count, state.sheetOf.size());
    const std::size_t placing = std::min(items, count - placed);
    dent::findSheetPlaces(rest, state.sides.data(), placed, placed + placing, state.placeTable, state.sheetOf,
                          state.firstVertices);
    items -= placing;
    if (state.sheetOf.size() < count) return false;

    const std::vector<std::uint32_t>& firsts = state.firstVertices;
    if (state.sheet.empty()) state.sheet.reserve(firsts.size());
    const std::size_t made = std::min(state.sheet.size(), firsts.size());
    const std::size_t end = made + std::min(items, firsts.size() - made);
    state.sheet.resize(end);
    for (std::size_t u = made; u < end; ++u) {
        const std::uint32_t first = firsts[u];
        state.sheet[u].init(rest[first], state.spanFold.z, state.shape, state.sides[first]);
    }
    if (end < firsts.size()) return false;

    state.sheetShifts.resize(end);
    state.sheetTangents.resize(end);
    std::vector<std::uint32_t>().swap(state.placeTable);
    std::vector<std::uint32_t>().swap(state.firstVertices);
    return true;
}

std::size_t panelListsLeft(const PanelState& state, std::size_t count) {
    if (!settings.PanelAsymmetry || state.sides.size() != count || panelListsFit(state, count)) return 0;
    const std::size_t points = state.firstVertices.size();
    return (count - std::min(count, state.sheetOf.size())) + (points - std::min(points, state.sheet.size()));
}

void fillPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count) {
    beginPanelLists(state, rest, normals, count);
    continuePanelLists(state, rest, count, 2 * count);  // every vertex placed, every place made
}

bool panelListsFit(const PanelState& state, std::size_t count) {
    if (state.sides.size() != count || state.working.size() != count) return false;
    if (!state.restNormals.empty() && state.restNormals.size() != count) return false;
    if (!settings.PanelAsymmetry) return true;
    const std::size_t nodes = state.lattice.nodes.size();
    const std::size_t points = state.sheet.size();
    return state.sheetOf.size() == count && points > 0 && state.firstVertices.empty() &&
           state.sheetShifts.size() == points && state.sheetTangents.size() == points &&
           state.movedNodes.size() == nodes && state.nodePositions.size() == nodes;
}

std::vector<dent::SheetPoint> plainSheet(const PanelState& state, const dent::Vec* rest, std::size_t count) {
    std::vector<dent::SheetPoint> sheet(count);
    for (std::size_t i = 0; i < count; ++i) sheet[i].init(rest[i], state.spanFold.z, state.shape, state.sides[i]);
    return sheet;
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
            logHitFormatted<kPanelLineBuffer>("PanelFold: kind=%s compression=%.3f lift=%.3f crease=%.3f vertices=%d",
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
    logHitFormatted<kSurfaceLineBuffer>(
        "PanelSurface: kind=%s compressionMinX=%.5f center=%.5f maxX=%.5f crease=%.3f vertices=%d "
        "shorteningMax=%.5f demandMax=%.5f length=%.3f threshold=%.3f hit=(%.3f,%.3f,%.3f) "
        "direction=(%.3f,%.3f,%.3f)",
        kindName(state.kind), span.at(span.minX), span.at((span.minX + span.maxX) * 0.5f), span.at(span.maxX),
        shape.crease, static_cast<int>(count), span.shorteningMax, span.demandMax, shape.length,
        settings.PanelMinDepth, dent.hit.x, dent.hit.y, dent.hit.z, dent.direction.x, dent.direction.y,
        dent.direction.z);
}

}  // namespace

namespace {

// The lattice takes the hit: its nodes (with the hit's dents when the sheet
// takes them) placed on the folded span and kept in order; then the panel
// keeps the span fold. Leaves the positions in state.nodePositions.
void foldLattice(PanelState& state, const SurfaceHit& hit, const dent::SpanFold& span,
                 const dent::DentArguments& dent) {
    // The panel's state is only changed once the lattice has accepted the new
    // node positions. Nothing here allocates, since every buffer was sized
    // with the panel; keepOrdered could only if its blend buffer were short,
    // and then it throws before it changes anything: a hit that fails leaves
    // the panel as it was.
    //
    // Each point's position reads only its own probes, so all probes are
    // dented first, four at a time, on a copy the lattice has not accepted yet.
    std::vector<dent::SheetPoint>& nodes = hit.move ? state.movedNodes : state.lattice.nodes;
    if (hit.move) {
        std::copy(state.lattice.nodes.begin(), state.lattice.nodes.end(), nodes.begin());
        dent::dentSheetProbes(nodes.data(), nodes.size(), dent);
    }
    placeNodes(nodes, state, span, dent.cap, state.nodePositions);
    state.lattice.keepOrdered(state.nodePositions);

    state.spanFold = span;
    if (hit.move) state.lattice.nodes.swap(state.movedNodes);
}

// Each sheet point's lattice displacement: the lattice reads only x and y,
// which a point shares with its vertices.
void shiftSheet(const dent::PanelLattice& lattice, const std::vector<dent::Vec>& nodePositions,
                const dent::SheetPoint* points, std::size_t count, dent::Vec* shifts) {
    for (std::size_t u = 0; u < count; ++u) shifts[u] = lattice.displacement(points[u].rest[0], nodePositions);
}

}  // namespace

void surfacePath(PanelState& state, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
                 std::size_t count, const dent::DentArguments& dent) {
    const SurfaceHit hit = surfaceHit(state, dent);
    const dent::SpanFold span = observedSpan(state, dent, hit.track);
    foldLattice(state, hit, span, dent);

    // Every place once: its sheet point's dents, displacement and tangents;
    // then every vertex from its place, each normal from its own rest normal.
    const std::size_t points = state.sheet.size();
    if (hit.move) dent::dentSheetProbes(state.sheet.data(), points, dent);
    shiftSheet(state.lattice, state.nodePositions, state.sheet.data(), points, state.sheetShifts.data());
    const std::uint32_t* sheetOf = state.sheetOf.data();
    for (std::size_t i = 0; i < count; ++i) positions[i] = rest[i] + state.sheetShifts[sheetOf[i]];
    if (normals && !state.restNormals.empty()) {
        dent::sheetTangents(state.sheet.data(), points, state.shape, span, settings.PanelFollowBody, dent.cap,
                            state.sheetTangents.data());
        dent::sharedSheetNormals(state.sheetTangents.data(), sheetOf, count, state.restNormals.data(), normals);
    }
    if (hit.track) logSurface(state, span, count, dent);
}

void surfacePathReference(PanelState& state, std::vector<dent::SheetPoint>& vertexSheet, const dent::Vec* rest,
                          dent::Vec* positions, dent::Vec* normals, std::size_t count,
                          const dent::DentArguments& dent) {
    const SurfaceHit hit = surfaceHit(state, dent);
    const dent::SpanFold span = observedSpan(state, dent, hit.track);
    foldLattice(state, hit, span, dent);

    if (hit.move) dent::dentSheetProbes(vertexSheet.data(), count, dent);
    for (std::size_t i = 0; i < count; ++i) {
        positions[i] = rest[i] + state.lattice.displacement(rest[i], state.nodePositions);
    }
    if (normals && !state.restNormals.empty()) {
        dent::sheetNormals(vertexSheet.data(), count, state.shape, span, settings.PanelFollowBody, dent.cap,
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
    staged.points = state.sheet.size();
    staged.pointsDone = 0;
    staged.normals = !state.restNormals.empty();
    if (hit.move) holdAtLeast(staged.sheet, staged.points);
    holdAtLeast(staged.shifts, staged.points);
    if (staged.normals) holdAtLeast(staged.tangents, staged.points);
    holdAtLeast(staged.positions, count);
    if (staged.normals) holdAtLeast(staged.normalList, count);
}

void continueSurface(const PanelState& state, const dent::Vec* rest, std::size_t vertices, StagedSurface& staged) {
    const std::size_t begin = std::min(staged.done, staged.count);
    const std::size_t end = begin + std::min(vertices, staged.count - begin);
    const std::uint32_t* sheetOf = state.sheetOf.data();

    // The run's vertices need the points up to the largest they name (points
    // are numbered as vertices first name them); those not worked out yet go first.
    std::size_t pointsEnd = staged.pointsDone;
    for (std::size_t i = begin; i < end; ++i) pointsEnd = std::max<std::size_t>(pointsEnd, sheetOf[i] + 1u);
    pointsEnd = std::min(pointsEnd, staged.points);
    const std::size_t first = std::min(staged.pointsDone, pointsEnd);
    const std::size_t n = pointsEnd - first;
    const dent::SheetPoint* points = state.sheet.data() + first;
    if (staged.move) {
        // Every point takes its own dents: a run of them gives the same bits as the whole sheet.
        std::copy(points, points + n, staged.sheet.begin() + static_cast<std::ptrdiff_t>(first));
        points = staged.sheet.data() + first;
        dent::dentSheetProbes(staged.sheet.data() + first, n, staged.dent);
    }
    shiftSheet(staged.lattice, staged.nodePositions, points, n, staged.shifts.data() + first);
    if (staged.normals) {
        dent::sheetTangents(points, n, state.shape, staged.span, settings.PanelFollowBody, staged.dent.cap,
                            staged.tangents.data() + first);
    }
    staged.pointsDone = pointsEnd;

    for (std::size_t i = begin; i < end; ++i) staged.positions[i] = rest[i] + staged.shifts[sheetOf[i]];
    if (staged.normals) {
        dent::sharedSheetNormals(staged.tangents.data(), sheetOf + begin, end - begin,
                                 state.restNormals.data() + begin, staged.normalList.data() + begin);
    }
    staged.done = end;
}

void commitSurface(PanelState& state, StagedSurface& staged, dent::Vec* positions, dent::Vec* normals) {
    state.spanFold = staged.span;
    state.lattice.nodes.swap(staged.lattice.nodes);
    state.lattice.accepted.swap(staged.lattice.accepted);
    // Copied rather than swapped: the staged buffers stay roomy for the next panel.
    if (staged.move) std::copy_n(staged.sheet.begin(), staged.points, state.sheet.begin());
    std::copy_n(staged.positions.begin(), staged.count, positions);
    if (normals && staged.normals) std::copy_n(staged.normalList.begin(), staged.count, normals);
    if (staged.track) logSurface(state, staged.span, staged.count, staged.dent);
}

}  // namespace kerbmark
