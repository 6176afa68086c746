// Cutting panel triangles along the crease line, the span-fold stations, the
// lattice rows and the lattice cell diagonals.
//
// Every piece that comes out lies on one side of each cut line, so the folded
// lattice (linear inside each of its triangles) moves a cut mesh exactly, with
// a sharp kink on the crease and no triangle bridging it. Pieces below the
// cut line always come before the pieces above it.
#pragma once

#include "deform/panel_fold.h"
#include "panel/panel_lattice.h"
#include "panel/panel_triangle.h"
#include "panel/span_fold.h"

#include <cstdint>
#include <vector>

namespace dent {

// The part of t with sign * y <= creaseS (beyond false) or >= creaseS (beyond
// true), as a convex polygon of up to four vertices. Crossing vertices lie
// exactly on y = creaseS / sign and have side 0.
DENT_API std::vector<PanelVertex> clipCrease(const PanelTriangle& t, float sign, float creaseS, bool beyond);

// The part of t with position.x <= x (high false) or >= x (high true).
// Crossing vertices lie exactly on x and take the side of the edge's start.
DENT_API std::vector<PanelVertex> clipWidth(const PanelTriangle& t, float x, bool high);

// t cut along the crease line sign * y = creaseS. Pieces before the line get
// side 0 on every vertex, pieces beyond it side 1; a triangle that does not
// cross the line comes back alone, with side 1 if any corner lies beyond.
DENT_API std::vector<PanelTriangle> splitCrease(const PanelTriangle& t, float sign, float creaseS);

// t cut along the line position.x = x; vertex sides are carried along.
DENT_API std::vector<PanelTriangle> splitWidth(const PanelTriangle& t, float x);

// t cut along the diagonal of the lattice cell (x0, y0, w, h) from (x0, y0)
// to (x0 + w, y0 + h); vertex sides are carried along.
DENT_API std::vector<PanelTriangle> splitLatticeDiagonal(const PanelTriangle& t, float x0, float y0, float w, float h);

// t cut along the crease line, along the interior span-fold stations across
// [minX, maxX] (none when that span is 0.001 or narrower) and along the
// interior sixths of the panel length, in that order.
DENT_API std::vector<PanelTriangle> splitPanelSurface(const PanelTriangle& t, const PanelShape& shape, float minX, float maxX,
                                             unsigned segments);

// splitPanelSurface over the span fold's stations, then every piece cut along
// the diagonal of the lattice cell holding its centroid: each resulting piece
// lies inside one lattice triangle, where the lattice displacement is linear.
// A lattice without cells leaves the surface pieces uncut.
DENT_API std::vector<PanelTriangle> splitPanelLattice(const PanelTriangle& t, const PanelShape& shape, const SpanFold& fold,
                                             const PanelLattice& lattice);

// The fast cutting the crease build runs on every source triangle: the same
// pieces, in the same order and bit for bit, as splitPanelLattice and
// splitCrease above (which stay the plain reference), appended to `out`
// without an allocation per triangle once the scratch has grown. Pieces that
// a line does not cross are not copied from one cut to the next.
struct PanelCutScratch {
    std::vector<PanelTriangle> arena;    // every piece made while cutting one source triangle
    std::vector<std::uint32_t> pieces;   // the current pieces, as arena indices, in order
    std::vector<std::uint32_t> next;
    // The station and row lines of the panel last cut, worked out once per
    // panel instead of once per triangle (the same floats either way).
    struct Lines {
        float key[7] = {};               // shape, minX, maxX, segments: the panel they belong to
        bool known = false;
        float creaseS = 0.0f;
        unsigned stationCount = 0;
        float stations[11] = {};
        float rows[5] = {};
    } lines;
};
DENT_API void appendPanelLattice(const PanelTriangle& t, const PanelShape& shape, const SpanFold& fold,
                                 const PanelLattice& lattice, PanelCutScratch& scratch,
                                 std::vector<PanelTriangle>& out);
DENT_API void appendCrease(const PanelTriangle& t, float sign, float creaseS, std::vector<PanelTriangle>& out);

}  // namespace dent
