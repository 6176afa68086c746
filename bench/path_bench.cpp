// Per-vertex, per-triangle and per-call costs of the module's hot paths, each
// beside the memory-bound copy floor measured in the same run. Built natively
// and as a 32-bit Windows program (run under Wine); the 32-bit program also
// times the clone and the crease build inside the simulated host
// (module_rows.cpp). Prints ROW lines that bench/table.sh joins into one table.
#include <cmath>
#include <cstdio>
#include <vector>

#include "cpu_clock.h"
#include "deform/ordinary_dent.h"
#include "deform/ordinary_path.h"
#include "panel/panel_lattice.h"
#include "panel/rest_normals.h"
#include "panel/sheet_point.h"
#include "panel/span_fold.h"
#include "panel/triangle_split.h"

#if defined(KERBMARK_MODULE_ROWS)
void moduleRows();
#endif

namespace {

using bench::medianSeconds;
using dent::Vec;

constexpr int kVertices = 30000;
constexpr int kRepeats = 21;

// A 1.8 x 4.4 m body-like sheet of vertices, bulged in z.
std::vector<Vec> bodyMesh() {
    std::vector<Vec> mesh;
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

void powerRows(double floorPerCall) {
    constexpr int kCalls = 100000;
    std::vector<float> bases(kCalls);
    for (int i = 0; i < kCalls; ++i) bases[i] = static_cast<float>(i) / kCalls;
    float sink = 0.0f;
    const double power = medianSeconds(kRepeats, [&](int) {
        for (float b : bases) sink += dent::floatPow(b, 0.65f);
    });
    bench::row("power", power * 1e9 / kCalls, floorPerCall, "call", "floatPow(x, 0.65), x in [0, 1)");
    const double falloff = medianSeconds(kRepeats, [&](int) {
        for (float b : bases) sink += dent::falloffWeight(b, 1.0f, 0.65f);
    });
    bench::row("falloff", falloff * 1e9 / kCalls, floorPerCall, "call", "falloffWeight(d, 1, 0.65), d in [0, 1)");
    bench::keep(sink);
}

// One hit through the driver's ordinary path: reach test from the rest
// positions, displacement, bounding sphere.
void ordinaryRow(const char* key, const char* label, float radius, double floorPerVertex) {
    const std::vector<Vec> rest = bodyMesh();
    std::vector<Vec> positions = rest;
    const dent::DentArguments hit{{0.0f, 0.0f, 0.9f}, {0.0f, 0.0f, -1.0f}, 0.3f, radius, 0.0f, 0.0f, 1.05f, 0.65f};
    std::size_t reached = 0;
    for (const Vec& p : rest) reached += dent::length(p - hit.hit) < radius;
    float bound = 3.0f;
    const double seconds = medianSeconds(kRepeats, [&](int) { positions = rest; }, [&](int) {
        if (dent::reachesAny(rest.data(), rest.size(), hit.hit, hit.radius)) {
            dent::dentMesh(rest.data(), positions.data(), positions.size(), hit);
            bound = dent::grownBoundingRadius({0, 0, 0.6f}, bound, positions.data(), positions.size());
        }
        bench::keep(positions);
        bench::keep(bound);
    });
    char text[160];
    std::snprintf(text, sizeof text, "%s (%d vertices, %.0f %% reached)", label, kVertices,
                  100.0 * static_cast<double>(reached) / kVertices);
    bench::row(key, seconds * 1e9 / kVertices, floorPerVertex, "vertex", text);
}

const dent::PanelShape kBonnet{1.0f, 0.1f, 1.3f, 0.45f};
const Vec kHit{0.5f, 1.3f, 0.3f};
const Vec kDirection{-0.4f, -1.0f, -0.2f};
constexpr float kDepth = 0.2f, kRadius = 0.9f, kCap = 0.4f, kPower = 1.0f;

dent::SpanFold foldedSpan(unsigned segments) {
    dent::SpanFold fold;
    fold.init(-0.7f, 0.7f, 0.3f, segments, kBonnet);
    fold.observe(kBonnet, kHit, kDirection, kDepth, kRadius, 0.0f, 0.0f, kCap, kPower, true, 1.0f, 0.06f, 0.4f,
                 0.55f, false);
    return fold;
}

// One panel vertex on the surface path, point by point through the plain code:
// its five probes dented one by one, then its normal (the reference).
void surfaceRow(double floorPerVertex) {
    const dent::SpanFold fold = foldedSpan(6);
    std::vector<dent::SheetPoint> sheet;
    const int rows = 40, columns = 50;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const float s = kBonnet.start + kBonnet.length * (r + 0.5f) / rows;
            dent::SheetPoint point;
            point.init(Vec{-0.7f + 1.4f * (c + 0.5f) / columns, s, 0.3f}, fold.z, kBonnet,
                       s > kBonnet.start + kBonnet.length * kBonnet.crease ? 1 : 0);
            sheet.push_back(point);
        }
    }
    const std::vector<dent::SheetPoint> start = sheet;
    const Vec restNormal{0.05f, 0.1f, 0.99f};
    Vec sink{0, 0, 0};
    const double seconds = medianSeconds(kRepeats, [&](int) { sheet = start; }, [&](int) {
        for (dent::SheetPoint& point : sheet) {
            for (int k = 0; k < 5; ++k)
                point.current[k] = dent::displaceImpact(point.rest[k], point.current[k], kHit, kDirection, kDepth,
                                                        kRadius, 0.0f, 0.0f, kCap, kPower);
            sink = sink + dent::sheetNormalReference(point, kBonnet, fold, true, kCap, restNormal);
        }
    });
    bench::keep(sink);
    bench::row("surface", seconds * 1e9 / static_cast<double>(sheet.size()), floorPerVertex, "vertex",
               "surface path point by point: five probe dents and the plain normal, per panel vertex");

    // The same as the module runs it: the probes four at a time, then the
    // normals of the whole sheet with the profiles of a column shared.
    const dent::DentArguments dent{kHit, kDirection, kDepth, kRadius, 0.0f, 0.0f, kCap, kPower};
    const std::vector<Vec> restNormals(sheet.size(), restNormal);
    std::vector<Vec> normals(sheet.size());
    const double batch = medianSeconds(kRepeats, [&](int) { sheet = start; }, [&](int) {
        dent::dentSheetProbes(sheet.data(), sheet.size(), dent);
        dent::sheetNormals(sheet.data(), sheet.size(), kBonnet, fold, true, kCap, restNormals.data(), normals.data());
    });
    bench::keep(normals[sheet.size() / 2]);
    bench::row("surface_batch", batch * 1e9 / static_cast<double>(sheet.size()), floorPerVertex, "vertex",
               "  the same in batches (probes four at a time, profiles shared by column)");
}

// A bonnet-like grid of full-data triangles (normal, colour, one texture set),
// two per cell, as the crease build hands them to the cutting.
std::vector<dent::PanelTriangle> bonnetTriangles(int columns, int rows) {
    std::vector<dent::PanelTriangle> triangles;
    auto corner = [&](int i, int j) {
        dent::PanelVertex v{};
        const float u = static_cast<float>(i) / (columns - 1), w = static_cast<float>(j) / (rows - 1);
        v.position = {-0.76f + 1.52f * u, 0.03f + 1.13f * w, 0.012f * std::sin(3.0f * u) * std::cos(2.0f * w)};
        v.normal = dent::normalized(Vec{0.01f * (u - 0.5f), -0.02f * w, 1.0f});
        for (int k = 0; k < 4; ++k) v.color[k] = 255.0f;
        v.uv[0][0] = u;
        v.uv[0][1] = w;
        return v;
    };
    for (int j = 0; j + 1 < rows; ++j) {
        for (int i = 0; i + 1 < columns; ++i) {
            triangles.push_back({{corner(i, j), corner(i + 1, j), corner(i + 1, j + 1)}, 0});
            triangles.push_back({{corner(i, j), corner(i + 1, j + 1), corner(i, j + 1)}, 1});
        }
    }
    return triangles;
}

// The crease cutting of a whole bonnet, per source triangle, the way the
// crease build runs it (appendPanelLattice / appendCrease): every source
// triangle cut along the crease, the span fold stations, the lattice rows and
// the cell diagonals, pieces appended.
void splitRows() {
    const std::vector<dent::PanelTriangle> source = bonnetTriangles(25, 21);
    dent::PanelShape shape{1.0f, 0.03f, 1.13f, 0.5f};
    dent::SpanFold fold;
    fold.init(-0.76f, 0.76f, 0.0f, 6, shape);
    dent::PanelLattice lattice;
    lattice.init(fold, shape);
    const float creaseS = shape.length * shape.crease + shape.start;

    std::vector<dent::PanelTriangle> cut;
    const double lattice_s = medianSeconds(kRepeats, [&](int) { cut.clear(); cut.reserve(4 * source.size()); }, [&](int) {
        dent::PanelCutScratch scratch;
        for (const dent::PanelTriangle& t : source) dent::appendPanelLattice(t, shape, fold, lattice, scratch, cut);
        bench::keep(cut);
    });
    const double pieces = static_cast<double>(cut.size()) / static_cast<double>(source.size());
    const double floor = bench::copyFloorNs(sizeof(dent::PanelTriangle), cut.size()) * pieces;
    char text[160];
    std::snprintf(text, sizeof text, "crease cutting with the lattice (%zu source triangles, %.1f pieces each)",
                  source.size(), pieces);
    bench::row("split_lattice", lattice_s * 1e9 / static_cast<double>(source.size()), floor, "triangle", text);

    const double crease_s = medianSeconds(kRepeats, [&](int) { cut.clear(); cut.reserve(4 * source.size()); }, [&](int) {
        for (const dent::PanelTriangle& t : source) dent::appendCrease(t, shape.sign, creaseS, cut);
        bench::keep(cut);
    });
    const double creasePieces = static_cast<double>(cut.size()) / static_cast<double>(source.size());
    bench::row("split_crease", crease_s * 1e9 / static_cast<double>(source.size()),
               bench::copyFloorNs(sizeof(dent::PanelTriangle), cut.size()) * creasePieces, "triangle",
               "crease cutting without the lattice (PanelAsymmetry=0)");
}

// Smoothed rest normals of a panel whose vertices come in twos and threes at
// one place (texture and material seams), per vertex: the sorted grouping the
// crease build uses, and the ordered map it replaced.
void restNormalRows(double floorPerVertex) {
    std::vector<Vec> positions, normals;
    for (int i = 0; i < 4000; ++i) {
        const int place = i - i / 3;  // every third vertex repeats the one before
        positions.push_back({static_cast<float>(place % 40) * 0.038f - 0.76f, static_cast<float>(place / 40) * 0.04f, 0.3f});
        normals.push_back(dent::normalized(Vec{0.01f * static_cast<float>(i % 7), 0.02f, 1.0f}));
    }
    std::vector<Vec> result;
    const double sorted = medianSeconds(kRepeats, [&](int) { result = dent::panelRestNormals(positions, normals, 2); });
    bench::row("rest_normals", sorted * 1e9 / 4000.0, floorPerVertex, "vertex", "smoothed rest normals (sorted grouping)");
    const double byMap =
        medianSeconds(kRepeats, [&](int) { result = dent::panelRestNormalsByMap(positions, normals, 2); });
    bench::row("rest_normals_map", byMap * 1e9 / 4000.0, floorPerVertex, "vertex",
               "  the same through the ordered map (reference)");
    bench::keep(result);
}

}  // namespace

int main() {
    bench::note("clock", bench::clockName());
    const double floorVertex = bench::copyFloorNs(sizeof(Vec), kVertices);
    bench::row("floor_vertex", floorVertex, floorVertex, "vertex", "copy floor: one 12-byte position per vertex");
    powerRows(bench::copyFloorNs(sizeof(float), 100000));
    ordinaryRow("ordinary_part", "ordinary path hit, part reached", 1.1f, floorVertex);
    ordinaryRow("ordinary_all", "ordinary path hit, every vertex reached", 5.0f, floorVertex);
    surfaceRow(floorVertex);
    splitRows();
    restNormalRows(floorVertex);
#if defined(KERBMARK_MODULE_ROWS)
    moduleRows();
#endif
    return 0;
}
