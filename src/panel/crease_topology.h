// Rebuilds a bonnet or boot geometry cut along its crease line (and, with the
// span fold in use, along the panel lattice), so that the fold moves whole
// triangles on one side of the crease and never bends one across it.
#pragma once

#include <cstdint>

namespace kerbmark {

struct PanelState;

// Measures the panel copy `geometry` and, when it looks like a bonnet or boot
// lid, fills the state's shape start and length, its sides (one per new
// vertex) and, with PanelAsymmetry, its span fold and lattice, and returns a
// new host geometry in which every triangle has three vertices of its own.
// Null when the panel is refused or the host fails a step; nothing created
// is left behind then. The caller keeps `geometry` either way.
void* buildCreaseTopology(void* geometry, PanelState& state);

// A vertex colour as the new geometry stores it: each float channel rounded
// half away from zero, held to 0..255, red in the lowest byte.
std::uint32_t packedColour(const float (&colour)[4]);

}  // namespace kerbmark
