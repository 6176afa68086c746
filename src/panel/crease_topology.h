// Rebuilds a bonnet or boot geometry cut along its crease line (and, with the
// span fold in use, along the panel lattice), so that the fold moves whole
// triangles on one side of the crease and never bends one across it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/vec.h"
#include "panel/panel_triangle.h"
#include "panel/triangle_split.h"

namespace kerbmark {

struct PanelState;

// Measures the panel copy `geometry` and, when it looks like a bonnet or boot
// lid, fills the state's shape start and length, its sides (one per new
// vertex) and, with PanelAsymmetry, its span fold and lattice, and returns a
// new host geometry in which every triangle has three vertices of its own.
// Null when the panel is refused or the host fails a step; nothing created
// is left behind then. The caller keeps `geometry` either way. The three
// steps below, in one go.
void* buildCreaseTopology(void* geometry, PanelState& state);

// What the rebuild carries from step to step: plain values, so that a
// rebuild given up between its steps leaves nothing behind with the host.
struct CreaseCut {
    std::vector<dent::PanelTriangle> pieces;  // the cut so far, in order
    std::vector<dent::Vec> smoothedNormals;   // seam-repaired rest normals; empty when the authored ones serve
    dent::PanelCutScratch scratch;
    bool lattice = false;                     // cut along the lattice (PanelAsymmetry) too
    std::int32_t cutTriangles = 0;            // source triangles cut so far
};

enum class CutStep {
    Refused,  // the panel is not rebuilt
    More,     // source triangles are left to cut
    Done,     // every source triangle is cut: the geometry may be built
};

// The rebuild in steps, for work spread over frames; `geometry` and the state
// must stay as they are between them. First the measuring: the checks, the
// state's shape, span fold and lattice (false: refused); then the cutting, up
// to `triangles` source triangles a step; then the building of the new host
// geometry from the finished cut, with the state's sides (null when the host
// refuses; nothing created is left behind then).
bool beginCreaseCut(void* geometry, PanelState& state, CreaseCut& cut);
CutStep continueCreaseCut(void* geometry, const PanelState& state, CreaseCut& cut, std::int32_t triangles);
void* buildCutGeometry(void* geometry, PanelState& state, const CreaseCut& cut);
// Source triangles of `geometry` the cut has still to cut.
std::size_t cutTrianglesLeft(const void* geometry, const CreaseCut& cut);

// The building in steps too: the new geometry created (null when the host
// refuses; nothing is left behind then), the cut's pieces filled in, up to
// `pieces` a step from `filled` on (false when the host refuses one), then
// unlocked and its material table checked (false: refused). After a false
// the caller releases `created`.
void* beginCutBuild(void* geometry, PanelState& state, const CreaseCut& cut);
bool continueCutBuild(void* created, void* geometry, PanelState& state, const CreaseCut& cut, std::size_t& filled,
                      std::size_t pieces);
bool finishCutBuild(void* created);
// The cut's pieces still to fill in after the first `filled`.
std::size_t cutPiecesLeft(const CreaseCut& cut, std::size_t filled);

// Buffers kept from one cut to the next, traded for the roomier: fresh
// memory for the pieces costs more than cutting them. A cut borrows them
// before it begins and returns them once built or given up.
void borrowCutBuffers(CreaseCut& cut);
void returnCutBuffers(CreaseCut& cut);

// A vertex colour as the new geometry stores it: each float channel rounded
// half away from zero, held to 0..255, red in the lowest byte.
std::uint32_t packedColour(const float (&colour)[4]);

}  // namespace kerbmark
