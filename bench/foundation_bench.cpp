// The ordinary dent over a full-size mesh, the impact response, and the
// memory-bound floor of a plain copy of the same positions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "deform/ordinary_dent.h"
#include "impact/response.h"

namespace {

constexpr int kVertices = 30000;

// A 1.8 x 4.4 m body-like sheet of vertices, bulged in z.
std::vector<dent::Vec> bodyMesh() {
    std::vector<dent::Vec> mesh;
    mesh.reserve(kVertices);
    const int columns = 100;
    for (int i = 0; i < kVertices; ++i) {
        const float u = static_cast<float>(i % columns) / (columns - 1);
        const float v = static_cast<float>(i / columns) / (kVertices / columns - 1);
        const float x = (u - 0.5f) * 1.8f;
        const float y = (v - 0.5f) * 4.4f;
        mesh.push_back({x, y, 0.6f + 0.3f * std::cos(x) * std::cos(y * 0.5f)});
    }
    return mesh;
}

// Dent centred on the sheet with a radius that reaches about half of it.
void BM_DisplaceImpactMesh(benchmark::State& state) {
    const std::vector<dent::Vec> rest = bodyMesh();
    std::vector<dent::Vec> current = rest;
    const dent::Vec hit{0.0f, 0.0f, 0.9f};
    const dent::Vec direction{0.0f, 0.0f, -1.0f};
    const float radius = 1.25f;
    std::size_t reached = 0;
    for (const dent::Vec& p : rest) reached += dent::length(p - hit) < radius;
    for (auto _ : state) {
        for (int i = 0; i < kVertices; ++i)
            current[i] = dent::displaceImpact(rest[i], current[i], hit, direction, 0.3f, radius, 0.2f, 1.1f, 1.05f,
                                              0.65f);
        benchmark::DoNotOptimize(current.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertices);
    state.counters["reached"] = static_cast<double>(reached) / kVertices;
}
BENCHMARK(BM_DisplaceImpactMesh);

// The floor: one pass that only copies the positions.
void BM_CopyPositions(benchmark::State& state) {
    const std::vector<dent::Vec> rest = bodyMesh();
    std::vector<dent::Vec> current(rest.size());
    for (auto _ : state) {
        for (int i = 0; i < kVertices; ++i) current[i] = rest[i];
        benchmark::DoNotOptimize(current.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertices);
}
BENCHMARK(BM_CopyPositions);

void BM_Response(benchmark::State& state) {
    const dent::ImpactConfig config{0.04f, 0.65f, 1.0f, 1.15f, 0.65f, 1.1f, 2.25f};
    float impulse = 100.0f;
    for (auto _ : state) {
        dent::Response r = dent::response(impulse, 1000.0f, config);
        benchmark::DoNotOptimize(r);
        impulse = impulse < 900.0f ? impulse + 1.0f : 100.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Response);

}  // namespace

#include "deform/ordinary_path.h"

namespace {

// One hit through the driver's ordinary path on a 30000-vertex mesh: the reach
// test from the rest positions, the displacement, the bounding sphere.
void BM_DriverHit(benchmark::State& state) {
    const std::vector<dent::Vec> rest = bodyMesh();
    std::vector<dent::Vec> positions = rest;
    const dent::DentArguments hit{{0.0f, 2.2f, 0.6f}, {0.0f, -1.0f, 0.0f}, 0.3f, 1.8f, 0.0f, 0.0f, 1.05f, 0.65f};
    float radius = 3.0f;
    for (auto _ : state) {
        if (dent::reachesAny(rest.data(), rest.size(), hit.hit, hit.radius)) {
            dent::dentMesh(rest.data(), positions.data(), positions.size(), hit);
            radius = dent::grownBoundingRadius({0, 0, 0.6f}, radius, positions.data(), positions.size());
        }
        benchmark::DoNotOptimize(positions.data());
        benchmark::DoNotOptimize(radius);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertices);
}
BENCHMARK(BM_DriverHit);

}  // namespace
