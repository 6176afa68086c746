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

void fillPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count) {
    state.working.assign(rest, rest + count);
    if (normals) state.restNormals.assign(normals, normals + count);
    if (settings.PanelAsymmetry && state.sides.size() == count) {
        state.sheet.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            state.sheet[i].init(rest[i], state.spanFold.z, state.shape, state.sides[i]);
        }
        state.movedNodes.resize(state.lattice.nodes.size());
        state.nodePositions.resize(state.lattice.nodes.size());
    }
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

void surfacePath(PanelState& state, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
                 std::size_t count, const dent::DentArguments& dent) {
    const Settings& s = settings;
    const dent::PanelShape& shape = state.shape;
    const bool boot = state.kind == 2;
    const float bend = bendOf(dent, state);
    const float corner = boot ? state.spanFold.cornerWeight(shape, dent.hit, dent.direction) : 0.0f;
    const bool track = dent.depth > s.PanelMinDepth && (bend > kFoldingBend || corner > 0.0f);

    // The panel's state is only changed once the lattice has accepted the new
    // node positions. Nothing here allocates, since every buffer was sized
    // with the panel; keepOrdered could only if its blend buffer were short,
    // and then it throws before it changes anything: a hit that fails leaves
    // the panel as it was.
    dent::SpanFold span = state.spanFold;
    span.observe(shape, dent.hit, dent.direction, dent.depth, dent.radius, dent.previousDepth, dent.previousRadius,
                 dent.cap, dent.falloffPower, track, s.PanelStrength, s.PanelMinDepth, s.PanelMaxCompression,
                 s.PanelMaxLift, boot);

    // A tracked hit without PanelFollowBody only folds: the sheet keeps its dents.
    const bool move = !(track && !s.PanelFollowBody);
    // Each point's position reads only its own probes, so all probes are
    // dented first, four at a time, on a copy the lattice has not accepted yet.
    std::vector<dent::SheetPoint>& nodes = move ? state.movedNodes : state.lattice.nodes;
    if (move) {
        std::copy(state.lattice.nodes.begin(), state.lattice.nodes.end(), nodes.begin());
        dent::dentSheetProbes(nodes.data(), nodes.size(), dent);
    }
    std::vector<dent::Vec>& nodePositions = state.nodePositions;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        nodePositions[n] = dent::sheetPosition(nodes[n], 0, shape, span, s.PanelFollowBody, dent.cap);
    }
    state.lattice.keepOrdered(nodePositions);

    state.spanFold = span;
    if (move) state.lattice.nodes.swap(state.movedNodes);

    const bool writeNormals = normals && !state.restNormals.empty();
    if (move) dent::dentSheetProbes(state.sheet.data(), count, dent);
    for (std::size_t i = 0; i < count; ++i) {
        positions[i] = rest[i] + state.lattice.displacement(rest[i], nodePositions);
    }
    if (writeNormals) {
        dent::sheetNormals(state.sheet.data(), count, shape, span, s.PanelFollowBody, dent.cap,
                           state.restNormals.data(), normals);
    }

    if (track && s.LogHits) {
        logFormatted<kSurfaceLineBuffer>(
            "PanelSurface: kind=%s compressionMinX=%.5f center=%.5f maxX=%.5f crease=%.3f vertices=%d "
            "shorteningMax=%.5f demandMax=%.5f length=%.3f threshold=%.3f hit=(%.3f,%.3f,%.3f) "
            "direction=(%.3f,%.3f,%.3f)",
            kindName(state.kind), span.at(span.minX), span.at((span.minX + span.maxX) * 0.5f), span.at(span.maxX),
            shape.crease, static_cast<int>(count), span.shorteningMax, span.demandMax, shape.length, s.PanelMinDepth,
            dent.hit.x, dent.hit.y, dent.hit.z, dent.direction.x, dent.direction.y, dent.direction.z);
    }
}

}  // namespace kerbmark
