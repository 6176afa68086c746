// Per-vertex cost of the panel surface path and of the lattice fold-over guard.
#include <benchmark/benchmark.h>

#include <vector>

#include "deform/ordinary_dent.h"
#include "panel/panel_lattice.h"
#include "panel/sheet_point.h"
#include "panel/span_fold.h"

namespace {

using dent::PanelLattice;
using dent::PanelShape;
using dent::SheetPoint;
using dent::SpanFold;
using dent::Vec;

const PanelShape kBonnet{1.0f, 0.1f, 1.3f, 0.45f};
const Vec kHit{0.5f, 1.3f, 0.3f};
const Vec kDirection{-0.4f, -1.0f, -0.2f};
constexpr float kDepth = 0.2f, kRadius = 0.9f, kCap = 0.4f, kPower = 1.0f;

SpanFold foldedSpan(unsigned segments) {
    SpanFold fold;
    fold.init(-0.7f, 0.7f, 0.3f, segments, kBonnet);
    fold.observe(kBonnet, kHit, kDirection, kDepth, kRadius, 0.0f, 0.0f, kCap, kPower, true, 1.0f, 0.06f, 0.4f,
                 0.55f, false);
    return fold;
}

// One panel vertex on the surface path: its five probes dented, then its normal.
void BM_SurfaceVertex(benchmark::State& state) {
    const SpanFold fold = foldedSpan(6);
    std::vector<SheetPoint> sheet;
    const int rows = 40, columns = 50;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const float s = kBonnet.start + kBonnet.length * (r + 0.5f) / rows;
            SheetPoint point;
            point.init(Vec{-0.7f + 1.4f * (c + 0.5f) / columns, s, 0.3f}, fold.z, kBonnet,
                       s > kBonnet.start + kBonnet.length * kBonnet.crease ? 1 : 0);
            sheet.push_back(point);
        }
    }
    const Vec restNormal{0.05f, 0.1f, 0.99f};
    for (auto _ : state) {
        for (SheetPoint& point : sheet) {
            for (int k = 0; k < 5; ++k)
                point.current[k] = dent::displaceImpact(point.rest[k], point.current[k], kHit, kDirection, kDepth,
                                                        kRadius, 0.0f, 0.0f, kCap, kPower);
            benchmark::DoNotOptimize(dent::sheetNormal(point, kBonnet, fold, true, kCap, restNormal));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sheet.size()));
}
BENCHMARK(BM_SurfaceVertex);

// keepOrdered on a 13 x 8 lattice (12 segments, crease off the sixths), per node.
// Argument 0: the positions are ordered; 1: one cell folds over and is blended back.
void BM_KeepOrdered(benchmark::State& state) {
    const SpanFold fold = foldedSpan(12);
    PanelLattice lattice;
    lattice.init(fold, kBonnet);
    const std::vector<Vec> rest = lattice.accepted;
    std::vector<Vec> target(lattice.nodes.size());
    for (std::size_t i = 0; i < target.size(); ++i)
        target[i] = dent::sheetPosition(lattice.nodes[i], 0, kBonnet, fold, true, kCap);
    if (state.range(0) != 0) {
        const std::size_t n = lattice.columns.size();
        target[2 * n + 5].x += 1.5f * (lattice.columns[6] - lattice.columns[5]);
    }
    std::vector<Vec> positions(target.size());
    for (auto _ : state) {
        lattice.accepted = rest;
        positions = target;
        lattice.keepOrdered(positions);
        benchmark::DoNotOptimize(positions.data());
    }
    state.counters["nodes"] = static_cast<double>(lattice.nodes.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lattice.nodes.size()));
}
BENCHMARK(BM_KeepOrdered)->Arg(0)->Arg(1);

}  // namespace
