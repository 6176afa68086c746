// What each kind of a dent's work costs in work units, for the immediate dent
// (counted in the request) and the staged one (charged to the frame's allowance).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kerbmark {

// What a kind of step costs in work units (10 ns each of the 32-bit module
// under Wine, as the work meter of the benchmarks measures it): a fixed part
// per step and a part per thousand of its items (vertices, triangles, pieces
// or sheet points), so that a cheap item may cost a fraction of a unit.
struct StepCost {
    std::uint64_t fixed;
    std::uint64_t perThousand;
};

inline std::uint64_t unitsOf(StepCost cost, std::size_t items) {
    return cost.fixed + (static_cast<std::uint64_t>(items) * cost.perThousand + 999) / 1000;
}

// The reach scan, per vertex of the mesh (most scans end early).
constexpr StepCost kScan{120, 100};
// The clone: its start (the host's create call, which grows with the
// vertices it allocates, and the vertex arrays), its triangles (the host's
// two calls each) and its finish (the host's extension and render mesh
// calls), per vertex; a bonnet or boot is measured for its crease as well.
constexpr StepCost kCopy{1000, 5500};
// A prepared copy taken over instead: its panel and the lines its making wrote.
constexpr StepCost kTakePrepared{300, 0};
// A copy the vehicle's limits or the all-vehicles budget refuse: only the checks.
constexpr StepCost kCopyRefused{200, 0};
constexpr StepCost kCloneTriangles{200, 4500};
constexpr StepCost kCloneFinish{850, 2850};
constexpr std::uint64_t kMeasurePerThousand = 2550;
// The crease rebuild: cutting, per source triangle and per piece it is cut
// into (the pieces a triangle gives, as the cut has found them so far; three
// before the first run); building: the host's create call (per piece), the
// pieces, then the unlock and material check.
constexpr std::uint64_t kCutFixed = 500;
constexpr std::uint64_t kCutPerThousandTriangles = 8000;
constexpr std::uint64_t kCutPerThousandPieces = 45000;
constexpr std::uint64_t kFirstPiecesPerTriangle = 3;
constexpr StepCost kBuildCreate{1400, 9300};
constexpr StepCost kBuildPieces{650, 17000};
constexpr StepCost kBuildFinish{900, 7000};
// The panel's lists: begun (per vertex), then per vertex placed or sheet point made.
constexpr StepCost kListsBegin{3000, 3000};
constexpr StepCost kLists{0, 2200};
// Recording and attaching a copy, per vertex.
constexpr StepCost kAttach{1800, 250};
// The displacement, per vertex: the ordinary dent, the fold path, the surface
// path (per vertex, plus per sheet point: a point is worked out once for
// every vertex at its place), and a staged surface written into the copy.
constexpr StepCost kDent{1000, 3500};
// An ordinary dent begun in runs: the copy's positions taken.
constexpr StepCost kOrdinaryBegin{300, 300};
constexpr StepCost kFold{700, 3000};
constexpr std::uint64_t kSurfaceFixed = 3000;  // the lock and unlock
constexpr std::uint64_t kSurfacePerThousand = 3000;
constexpr std::uint64_t kSheetPointPerThousand = 70000;
// A surface begun in steps: the hit on its lattice and the lattice's nodes placed.
constexpr std::uint64_t kSurfaceBegin = 3000;
constexpr StepCost kCommit{1000, 1000};
// Fewest vertices a surface, ordinary or list step in runs works out, so that a tiny budget
// still finishes a panel in a bounded number of frames; a multiple of four.
constexpr std::size_t kMinVertexStep = 1024;

}  // namespace kerbmark
