// The panel side of the atomic deformation driver: the preparation of a
// bonnet or boot copy when its entry is made, the panel's per-vertex lists,
// and the two paths that fold the panel instead of denting it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The state's per-vertex lists from the copy as the entry keeps it: working
// positions, rest normals (when `normals` is not null) and, with
// PanelAsymmetry, one sheet point per vertex.
void fillPanelLists(PanelState& state, const dent::Vec* rest, const dent::Vec* normals, std::size_t count);

// Whether the panel's lists fit a copy of `count` vertices, so that a path
// may index them for every vertex.
bool panelListsFit(const PanelState& state, std::size_t count);

// The whole panel folds along its crease line (PanelAsymmetry off). `newEpisode`:
// the entry's last dent belonged to another episode. Normals are written when
// `normals` is not null and the state has rest normals.
void foldPath(PanelState& state, bool newEpisode, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
              std::size_t count, const dent::DentArguments& dent);

// The fold varies across the panel's width through span fold, sheet points and
// lattice (PanelAsymmetry on).
void surfacePath(PanelState& state, const dent::Vec* rest, dent::Vec* positions, dent::Vec* normals,
                 std::size_t count, const dent::DentArguments& dent);

}  // namespace kerbmark
