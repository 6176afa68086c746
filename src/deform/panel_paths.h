// The panel side of the atomic deformation driver: the preparation of a
// bonnet or boot copy when its entry is made, the panel's per-vertex lists,
// and the two paths that fold the panel instead of denting it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "deform/ordinary_path.h"
#include "deform/panel_state.h"
#include "foundation/vec.h"

namespace kerbmark {

// Makes `copy` (the panel copy of `atomic`, kind 1 bonnet or 2 boot) ready for
// the panel paths: fills the state's kind, atomic flags, sign and crease, and
// rebuilds the copy cut along its crease. Returns the geometry the entry is to
// keep: the rebuilt one (the plain copy is released) or, when the rebuild is
// refused, the plain copy with the state reset to kind 0 for the ordinary path.
void* preparePanel(void* atomic, int kind, std::uint32_t creaseSeed, void* copy, PanelState& state);

// preparePanel in steps, around the crease rebuild's own (crease_topology.h):
// the state's kind, atomic flags, sign and crease before it; after it, the
// geometry the entry is to keep from its outcome `rebuilt` (null: refused).
void startPanel(void* atomic, int kind, std::uint32_t creaseSeed, PanelState& state);
void* keepPanelCopy(void* copy, void* rebuilt, PanelState& state);

// The state's per-vertex lists from the copy as the entry keeps it: working
// positions, rest normals (when `normals` is not null) and, with
// PanelAsymmetry, the sheet: one point per place, and each vertex's point.
void fillPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count);

// fillPanelLists in steps, for work spread over frames: the lists but the
// sheet, then up to `items` more at a time: first vertices finding their
// places, then sheet points made (each from its own vertex, so runs of them
// give the same bits). The sheet's memory is touched as its points are made.
// True once every list is full. panelListsLeft: the items still to do (a
// lower bound until every vertex has found its place).
void beginPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count);
bool continuePanelLists(PanelState& state, const dent::Vec* rest, std::size_t count, std::size_t items);
std::size_t panelListsLeft(const PanelState& state, std::size_t count);

// The sheet as first made, one point per vertex: what surfacePathReference reads.
std::vector<dent::SheetPoint> plainSheet(const PanelState& state, const dent::Vec* rest, std::size_t count);

// Whether the panel's lists fit a copy of `count` vertices, so that a path
// may index them for every vertex.
bool panelListsFit(const PanelState& state, std::size_t count);

// The whole panel folds along its crease line (PanelAsymmetry off). `newEpisode`:
// the entry's last dent belonged to another episode. Normals are written when
// `normals` is not null and the state has rest normals.
void foldPath(PanelState& state, bool newEpisode, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
              std::size_t count, const dent::DentArguments& dent);

// The fold varies across the panel's width through span fold, sheet points and
// lattice (PanelAsymmetry on). Each sheet point is dented, displaced and
// differentiated once for all the vertices at its place.
void surfacePath(PanelState& state, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
                 std::size_t count, const dent::DentArguments& dent);

// The plain surface path, vertex by vertex with a sheet point each
// (`vertexSheet`, from plainSheet, takes the dents in place of the state's
// sheet): the reference surfacePath gives the same bits as.
void surfacePathReference(PanelState& state, std::vector<dent::SheetPoint>& vertexSheet, const dent::Vec* rest,
                          dent::Vec* positions, dent::Vec* normals, std::size_t count,
                          const dent::DentArguments& dent);

// The surface path in steps, for a dent spread over frames: the same
// arithmetic as surfacePath, its results held here until they are written in
// one go, so that a copy never shows half a dent and a dent given up half way
// leaves the panel as it was.
struct StagedSurface {
    dent::DentArguments dent{};
    dent::SpanFold span{};
    dent::PanelLattice lattice;           // the panel's lattice as this hit leaves it
    std::vector<dent::Vec> nodePositions;  // its nodes' positions
    bool move = false;                     // the sheet points take this hit's dents
    bool track = false;                    // the hit is tracked (its line is logged)
    bool normals = false;                  // normals are worked out
    std::size_t count = 0;                 // the copy's vertices
    std::size_t done = 0;                  // vertices worked out so far
    std::size_t points = 0;                // the panel's sheet points
    std::size_t pointsDone = 0;            // sheet points worked out so far
    // The first `points` or `count` of each hold this hit's results (the
    // buffers may be longer, kept from a larger panel). Per sheet point: with
    // move, the points after the hit; their lattice displacement; their
    // tangents (with normals). Per vertex: positions and normals.
    std::vector<dent::SheetPoint> sheet;
    std::vector<dent::Vec> shifts;
    std::vector<dent::SheetTangents> tangents;
    std::vector<dent::Vec> positions;
    std::vector<dent::Vec> normalList;
};

// The hit's span fold and lattice, from the panel as it is (nothing of it is
// changed). Normals are worked out when the panel keeps rest normals.
void beginSurface(const PanelState& state, std::size_t count, const dent::DentArguments& dent,
                  StagedSurface& staged);

// Works out up to `vertices` more vertices.
void continueSurface(const PanelState& state, const dent::Vec* rest, std::size_t vertices, StagedSurface& staged);

// With every vertex worked out (and the panel's lists still of the copy's
// size): the panel's state takes the hit and the locked copy its positions
// and normals (when it has them). Allocates nothing.
void commitSurface(PanelState& state, StagedSurface& staged, dent::Vec* positions, dent::Vec* normals);

}  // namespace kerbmark
