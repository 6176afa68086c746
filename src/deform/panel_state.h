// The panel part of a mesh entry: what a bonnet or boot keeps between hits so
// that it folds along its crease line instead of denting vertex by vertex.
#pragma once

#include <cstdint>
#include <vector>

#include "deform/panel_fold.h"
#include "foundation/vec.h"
#include "panel/panel_lattice.h"
#include "panel/sheet_point.h"
#include "panel/span_fold.h"

namespace kerbmark {

struct PanelState {
    std::int32_t kind = 0;            // 0 not a panel, 1 bonnet, 2 boot
    std::uint32_t atomicFlags = 0;    // the host's atomic flags when the entry was made
    dent::PanelShape shape{};         // sign, start, length, crease
    float compression = 0.0f;         // fold path: compression applied so far, metres
    float demand = 0.0f;              // fold path: largest fold demand of the current episode
    std::vector<dent::Vec> working;   // fold path: positions before the fold offset
    std::vector<dent::Vec> restNormals;  // the copy's normals when the entry was made; empty without normals
    std::vector<std::int32_t> sides;  // per vertex: 1 beyond the crease line, 0 before it
    dent::SpanFold spanFold{};        // segments 6, everything else zero
    // Surface path: one sheet point per place on the sheet (the x, y and side
    // it is made from) in the order the vertices first name them, and each
    // vertex's point. The crease rebuild gives every triangle its own
    // corners, so a place has three to six vertices, each with its own normal.
    std::vector<dent::SheetPoint> sheet;
    std::vector<std::uint32_t> sheetOf;
    dent::PanelLattice lattice;           // surface path
    // Surface path, sized when the panel is built so that a hit allocates
    // nothing while its copy is locked: per lattice node, the nodes with this
    // hit's dents and their positions; per sheet point, its lattice
    // displacement and tangents.
    std::vector<dent::SheetPoint> movedNodes;
    std::vector<dent::Vec> nodePositions;
    std::vector<dent::Vec> sheetShifts;
    std::vector<dent::SheetTangents> sheetTangents;
    // Only while the lists are made in steps: the table from a place to the
    // first vertex there (index + 1, 0 free), and each sheet point's first vertex.
    std::vector<std::uint32_t> placeTable;
    std::vector<std::uint32_t> firstVertices;
};

}  // namespace kerbmark
