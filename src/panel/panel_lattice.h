// A coarse grid over the flat panel sheet that carries the crease fold to every
// vertex: one column per span-fold station, one row every sixth of the length
// and one on the crease line, so the fold's kink is always a grid line.
#pragma once

#include <cstdint>
#include <vector>

#include "deform/panel_fold.h"
#include "foundation/vec.h"
#include "panel/sheet_point.h"
#include "panel/span_fold.h"

namespace dent {

// Three grid nodes and their barycentric weights (summing to 1).
struct LatticeSample {
    std::uint32_t index[3];
    float weight[3];
};

struct DENT_API PanelLattice {
    std::vector<float> columns;    // x of each column, ascending
    std::vector<float> rows;       // y of each row, ascending, no two closer than 0.000001
    std::vector<SheetPoint> nodes;  // row by row: node (r, c) at r * columns.size() + c
    std::vector<Vec> accepted;      // node positions last accepted as ordered
    // keepOrdered's copy of the positions asked for while it blends them back
    // toward `accepted`. Sized by init, so that a blend allocates nothing.
    std::vector<Vec> blendTarget;

    PanelLattice() = default;
    PanelLattice(const PanelLattice&) = default;
    PanelLattice(PanelLattice&&) noexcept = default;
    PanelLattice& operator=(const PanelLattice&) = default;
    // Takes over all five sequences and leaves the source's empty.
    PanelLattice& operator=(PanelLattice&& other) noexcept;

    // Builds the grid at rest from the span fold's stations and the panel's shape.
    // Non-finite or degenerate input (fewer than two distinct rows, columns not
    // ascending) leaves the lattice empty.
    void init(const SpanFold& fold, const PanelShape& shape);

    // The cell triangle holding p, split along the diagonal from its low-x low-y
    // corner; points outside the grid take the nearest border cell, clamped.
    LatticeSample sample(Vec p) const;

    // Displacement of a sheet point at p when the nodes sit at `positions`.
    // Zero for an empty lattice or a positions list of the wrong size.
    Vec displacement(Vec p, const std::vector<Vec>& positions) const;

    // True when no cell is folded over or crushed below a tenth of its rest area
    // in the xy plane, and every position is finite.
    bool ordered(const std::vector<Vec>& positions) const;

    // Blends `positions` back toward `accepted` by the largest fraction (to 2^-16)
    // that keeps the grid ordered, and accepts the result. A list of the wrong
    // size is left alone. Allocates only when it has to blend and `blendTarget`
    // is shorter than the grid (never after init); that is its only step that
    // can throw, and it comes before anything is changed. `positions` is never
    // `blendTarget` itself.
    void keepOrdered(std::vector<Vec>& positions);

    // True when the grid's four sequences fit one another (at least one cell);
    // `blendTarget` does not count.
    bool usable() const;
};

}  // namespace dent
