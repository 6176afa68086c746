// The 32-bit rows that need the host: the geometry clone of a 30000-vertex
// body and the crease build of a bonnet, made by the module's code against the
// simulated host's geometry functions. The host's calls are timed apart (the
// same calls in the same order, made without the module) so that the module's
// own share shows.
#include <cstdio>
#include <cstring>
#include <vector>

#include "cpu_clock.h"
#include "deform/geometry_clone.h"
#include "deform/panel_paths.h"
#include "deform/panel_state.h"
#include "deform/records.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host_image.h"
#include "host_world.h"
#include "panel/crease_topology.h"

namespace {

constexpr int kRepeats = 15;

void* geometryOf(hostsim::Vehicle* vehicle, const char* frame) {
    hostsim::Atomic* atomic = hostsim::atomicNamed(vehicle, frame);
    return atomic ? static_cast<void*>(atomic->geometry) : nullptr;
}

// Every triangle's corners and material set on `copy` through the host's
// calls, as the clone sets them.
void triangleCalls(host::Geometry* copy, const host::Geometry& source) {
    for (std::int32_t i = 0; i < source.triangleCount; ++i) {
        const host::Triangle& t = source.triangles[i];
        game::triangleVertices(copy, &copy->triangles[i], t.vertex[0], t.vertex[1], t.vertex[2]);
        game::triangleMaterial(copy, &copy->triangles[i], source.materials[t.material]);
    }
}

// Bytes of one vertex of `g`: position, normal, colour, texture sets.
std::size_t vertexBytes(const host::Geometry& g) {
    return 12 + (g.vertexBlock->normals ? 12 : 0) + (g.colors ? 4 : 0) + 8 * static_cast<std::size_t>(g.texCoordSets);
}

// The host calls a copy of `source` costs, without the module's checks and
// copies: create, every triangle's corners and material, extensions, unlock,
// and the release.
void hostCallsOfClone(const host::Geometry& source, std::uint32_t format) {
    void* created = game::createGeometry(source.vertexCount, source.triangleCount, format);
    triangleCalls(static_cast<host::Geometry*>(created), source);
    void* registry = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host::kExtensionRegistry));
    game::copyExtensions(registry, created, &source);
    game::unlock(created);
    game::destroyGeometry(created);
}

// The same for the crease build's result of n triangles (every vertex its own).
void hostCallsOfCrease(const host::Geometry& source, std::int32_t n, std::uint32_t format) {
    void* created = game::createGeometry(3 * n, n, format);
    auto* copy = static_cast<host::Geometry*>(created);
    for (std::int32_t u = 0; u < n; ++u) {
        const auto first = static_cast<std::uint16_t>(3 * u);
        game::triangleVertices(created, &copy->triangles[u], first, static_cast<std::uint16_t>(first + 1),
                               static_cast<std::uint16_t>(first + 2));
        game::triangleMaterial(created, &copy->triangles[u], source.materials[u % source.materialCount]);
    }
    game::geometrySkin(created);
    game::unlock(created);
    game::destroyGeometry(created);
}

// Stand-ins as cheap as the game's own triangle and extension functions, on a
// copy made once by the simulated host, so that the clone's own work shows
// without the simulated host's bookkeeping.
host::Geometry* g_reusedCopy = nullptr;
double g_callsAlone = 0.0;
void* reusedCreate(std::int32_t, std::int32_t, std::uint32_t) { return g_reusedCopy; }
void* plainTriangleVertices(void* geometry, void* triangle, std::uint16_t a, std::uint16_t b, std::uint16_t c) {
    auto* t = static_cast<host::Triangle*>(triangle);
    t->vertex[0] = a;
    t->vertex[1] = b;
    t->vertex[2] = c;
    return geometry;
}
void* plainTriangleMaterial(void* geometry, void* triangle, void* material) {
    const auto* g = static_cast<const host::Geometry*>(geometry);
    for (std::int32_t i = 0; i < g->materialCount; ++i) {
        if (g->materials[i] == material) {
            static_cast<host::Triangle*>(triangle)->material = static_cast<std::uint16_t>(i);
            return geometry;
        }
    }
    return nullptr;
}
std::int32_t plainCopyExtensions(void*, void*, const void*) { return 1; }
void* plainUnlock(void* geometry) { return geometry; }

// Median seconds of the clone of `source` with those stand-ins.
double cloneWithoutHost(void* source, int repeats) {
    g_reusedCopy = static_cast<host::Geometry*>(kerbmark::cloneGeometry(source));
    if (!g_reusedCopy) return 0.0;
    const auto create = game::createGeometry;
    const auto vertices = game::triangleVertices;
    const auto material = game::triangleMaterial;
    const auto extensions = game::copyExtensions;
    const auto unlock = game::unlock;
    game::createGeometry = reusedCreate;
    game::triangleVertices = plainTriangleVertices;
    game::triangleMaterial = plainTriangleMaterial;
    game::copyExtensions = plainCopyExtensions;
    game::unlock = plainUnlock;
    // The stand-in calls alone, made the way the clone makes them.
    const auto& from = *static_cast<const host::Geometry*>(source);
    g_callsAlone = bench::medianSeconds(repeats, [&](int) { triangleCalls(g_reusedCopy, from); });
    bool same = true;
    const double seconds = bench::medianSeconds(repeats, [&](int) { same = same && kerbmark::cloneGeometry(source) == g_reusedCopy; });
    game::createGeometry = create;
    game::triangleVertices = vertices;
    game::triangleMaterial = material;
    game::copyExtensions = extensions;
    game::unlock = unlock;
    kerbmark::releaseGeometry(g_reusedCopy);
    return same ? seconds : 0.0;
}

// The clone's steps on the body, as traffic work runs them (the work units of
// each step are set from these): its start per vertex, its triangles per
// triangle, its finish per vertex.
void cloneStepRows(void* body) {
    const auto& source = *static_cast<const host::Geometry*>(body);
    kerbmark::CloneJob job;
    void* made = nullptr;
    const double begin = bench::medianSeconds(kRepeats, [&](int) { kerbmark::releaseClone(job); },
                                              [&](int) { kerbmark::beginClone(body, job); });
    const double triangles = bench::medianSeconds(kRepeats, [&](int) { kerbmark::beginClone(body, job); },
                                                  [&](int) { kerbmark::continueClone(job, source.triangleCount); });
    const double finish = bench::medianSeconds(
        kRepeats,
        [&](int) {
            kerbmark::releaseGeometry(made);
            kerbmark::beginClone(body, job);
            kerbmark::continueClone(job, source.triangleCount);
        },
        [&](int) { made = kerbmark::finishClone(job); });
    const bool finished = made != nullptr;
    kerbmark::releaseGeometry(made);
    char text[200];
    std::snprintf(text, sizeof text,
                  "clone in steps: its start (checks, create, vertex arrays), per vertex (%.3f ms)",
                  begin * 1e3);
    bench::row("clone_step_begin", begin * 1e9 / source.vertexCount, 0, "vertex", text);
    std::snprintf(text, sizeof text, "  its triangles, per triangle, host calls included (%.3f ms the body)",
                  triangles * 1e3);
    bench::row("clone_step_triangles", triangles * 1e9 / source.triangleCount, 0, "triangle", text);
    std::snprintf(text, sizeof text, "  its finish (extensions, render meshes), per vertex (%.3f ms)%s",
                  finish * 1e3, finished ? "" : " (FAILED)");
    bench::row("clone_step_finish", finish * 1e9 / source.vertexCount, 0, "vertex", text);
}

// The crease rebuild's steps on the bonnet's copy, as traffic work runs them
// (the work units of each step are set from these): measuring per source
// vertex, cutting per source triangle, building the geometry per piece.
// Returns the rebuilt bonnet (null when the build failed).
void* creaseStepRows(void* panel, std::uint32_t atomicFlags, kerbmark::PanelState& state) {
    const auto& source = *static_cast<const host::Geometry*>(panel);
    kerbmark::CreaseCut cut;
    auto fresh = [&](int) {
        state = kerbmark::PanelState{};
        state.kind = 1;
        state.atomicFlags = atomicFlags;
        state.shape = dent::PanelShape{1.0f, 0.0f, 1.0f, 0.5f};
    };
    const double measure = bench::medianSeconds(kRepeats, fresh, [&](int) { kerbmark::beginCreaseCut(panel, state, cut); });
    const double cutting = bench::medianSeconds(
        kRepeats, [&](int i) { fresh(i); kerbmark::beginCreaseCut(panel, state, cut); },
        [&](int) { kerbmark::continueCreaseCut(panel, state, cut, source.triangleCount); });
    std::vector<void*> built;
    const double building = bench::medianSeconds(kRepeats, [&](int) { built.push_back(kerbmark::buildCutGeometry(panel, state, cut)); });
    void* rebuilt = built.back();
    built.pop_back();
    for (void* g : built) kerbmark::releaseGeometry(g);
    const double pieces = static_cast<double>(cut.pieces.size());
    char text[200];
    std::snprintf(text, sizeof text, "crease rebuild in steps: measuring, per source vertex (%.3f ms the bonnet)",
                  measure * 1e3);
    bench::row("crease_step_measure", measure * 1e9 / source.vertexCount, 0, "vertex", text);
    std::snprintf(text, sizeof text, "  cutting, per source triangle (%.3f ms the bonnet)", cutting * 1e3);
    bench::row("crease_step_cut", cutting * 1e9 / source.triangleCount, 0, "triangle", text);
    std::snprintf(text, sizeof text, "  building the geometry, per piece, host calls included (%.3f ms the bonnet)",
                  building * 1e3);
    bench::row("crease_step_build", building * 1e9 / pieces, 0, "piece", text);
    return rebuilt;
}

// A later head-on hit on the rebuilt bonnet through the surface path, per
// panel vertex: a sheet point per place, and a sheet point per vertex (the
// reference); and the panel lists it needs, made once.
void surfaceRows(void* rebuilt, const kerbmark::PanelState& built) {
    const auto& g = *static_cast<const host::Geometry*>(rebuilt);
    const auto count = static_cast<std::size_t>(g.vertexCount);
    const std::vector<dent::Vec> rest(g.vertexBlock->positions, g.vertexBlock->positions + count);
    const dent::Vec* normals = g.vertexBlock->normals;
    kerbmark::PanelState listed;
    const double lists = bench::medianSeconds(kRepeats, [&](int) { listed = built; },
                                              [&](int) { kerbmark::fillPanelLists(listed, rest.data(), normals, count); });

    const dent::PanelShape& shape = listed.shape;
    const dent::DentArguments hit{{0.0f, shape.start + shape.length, listed.spanFold.z}, {0.0f, -1.0f, -0.1f}, 0.25f,
                                  0.8f, 0.0f, 0.0f, kerbmark::settings.MaxTotalDisplacement,
                                  kerbmark::settings.FalloffPower};
    std::vector<dent::Vec> positions = rest, newNormals(count);
    kerbmark::PanelState state;
    const double shared = bench::medianSeconds(kRepeats, [&](int) { state = listed; }, [&](int) {
        kerbmark::surfacePath(state, rest.data(), positions.data(), newNormals.data(), count, hit);
    });
    std::vector<dent::SheetPoint> vertexSheet;
    const double plain = bench::medianSeconds(
        kRepeats, [&](int) { state = listed; vertexSheet = kerbmark::plainSheet(state, rest.data(), count); },
        [&](int) {
            kerbmark::surfacePathReference(state, vertexSheet, rest.data(), positions.data(), newNormals.data(), count,
                                           hit);
        });
    bench::keep(positions[count / 2]);
    char text[200];
    std::snprintf(text, sizeof text,
                  "surface path, later head-on hit on the rebuilt bonnet (%d vertices, %d places; %.3f ms)",
                  static_cast<int>(count), static_cast<int>(listed.sheet.size()), shared * 1e3);
    bench::row("surface_bonnet", shared * 1e9 / count, 0, "vertex", text);
    std::snprintf(text, sizeof text, "  the same, a sheet point per vertex (reference; %.3f ms)", plain * 1e3);
    bench::row("surface_bonnet_plain", plain * 1e9 / count, 0, "vertex", text);
    std::snprintf(text, sizeof text, "  its panel lists, sheet places included (%.3f ms)", lists * 1e3);
    bench::row("surface_bonnet_lists", lists * 1e9 / count, 0, "vertex", text);
}

}  // namespace

void moduleRows() {
    hostsim::HostOptions options;
    if (!hostsim::startHost(options)) return;
    hostsim::VehicleSpec largeBody;
    largeBody.bodyVertices = 30000;
    hostsim::Vehicle* car = hostsim::spawnVehicle(largeBody);
    void* body = geometryOf(car, "chassis");
    void* bonnet = geometryOf(car, "bonnet_hi_ok");
    if (!body || !bonnet) {
        bench::note("module", "no body or bonnet in the simulated car");
        return;
    }

    // Clone of the body, per vertex.
    const auto& source = *static_cast<const host::Geometry*>(body);
    const std::size_t vertices = static_cast<std::size_t>(source.vertexCount);
    std::vector<void*> copies;
    const double clone = bench::medianSeconds(kRepeats, [&](int) { copies.push_back(kerbmark::cloneGeometry(body)); });
    for (void* copy : copies) kerbmark::releaseGeometry(copy);
    const bool cloned = !copies.empty() && copies.back() != nullptr;
    const std::uint32_t format = kerbmark::cloneFormat(source.flags, source.vertexBlock->normals != nullptr,
                                                       source.colors != nullptr, source.texCoordSets);
    const double hostClone = bench::medianSeconds(kRepeats, [&](int) { hostCallsOfClone(source, format); });
    // What the clone copies per vertex.
    const double cloneFloor = bench::copyFloorNs(vertexBytes(source), vertices);
    char text[200];
    std::snprintf(text, sizeof text, "clone of a %d-vertex, %d-triangle body, host calls included%s",
                  static_cast<int>(source.vertexCount), static_cast<int>(source.triangleCount),
                  cloned ? "" : " (CLONE FAILED)");
    bench::row("clone", clone * 1e9 / vertices, cloneFloor, "vertex", text);
    bench::row("clone_host", hostClone * 1e9 / vertices, cloneFloor, "vertex",
               "  of which the simulated host's own calls (create, per-triangle calls, unlock, release)");
    bench::row("clone_module", cloneWithoutHost(body, kRepeats) * 1e9 / vertices, cloneFloor, "vertex",
               "  the module's own share (host calls as the game's cheap ones)");
    bench::row("clone_calls", g_callsAlone * 1e9 / vertices, cloneFloor, "vertex",
               "    of which the two cheap stand-in calls per triangle themselves");
    cloneStepRows(body);

    // Crease build of the bonnet's copy, per source triangle, the way the
    // driver's panel preparation makes it (its own clone first).
    void* panel = kerbmark::cloneGeometry(bonnet);
    if (!panel) return;
    const auto& panelSource = *static_cast<const host::Geometry*>(panel);
    const std::uint32_t atomicFlags = game::atomicFlags(hostsim::atomicNamed(car, "bonnet_hi_ok"));
    std::vector<void*> built;
    std::size_t sides = 0;
    auto buildWith = [&](std::uint32_t flags) {
        return bench::medianSeconds(kRepeats, [&](int) {
            kerbmark::PanelState state;
            state.kind = 1;
            state.atomicFlags = flags;
            state.shape = dent::PanelShape{1.0f, 0.0f, 1.0f, 0.5f};
            built.push_back(kerbmark::buildCreaseTopology(panel, state));
            sides = state.sides.size();
        });
    };
    // With the atomic flags that ask for smoothed rest normals (seam repair) too.
    const double creaseSeams = buildWith((atomicFlags & ~3u) | 2u);
    const double crease = buildWith(atomicFlags);
    for (void* g : built) kerbmark::releaseGeometry(g);
    const auto n = static_cast<std::int32_t>(sides / 3);
    const std::uint32_t creaseFormat =
        (static_cast<std::uint32_t>(panelSource.texCoordSets) << 16) | (panelSource.flags & 0xFEu);
    const double hostCrease = bench::medianSeconds(kRepeats, [&](int) { hostCallsOfCrease(panelSource, n, creaseFormat); });
    const double triangles = panelSource.triangleCount;
    // What the build writes per output triangle: three vertices.
    const double creaseFloor =
        bench::copyFloorNs(3 * vertexBytes(panelSource), static_cast<std::size_t>(n)) * n / triangles;
    std::snprintf(text, sizeof text, "crease build of a %d-triangle bonnet into %d triangles, host calls included%s",
                  static_cast<int>(panelSource.triangleCount), static_cast<int>(n), built.back() ? "" : " (FAILED)");
    bench::row("crease", crease * 1e9 / triangles, creaseFloor, "triangle", text);
    bench::row("crease_seams", creaseSeams * 1e9 / triangles, creaseFloor, "triangle",
               "  the same build with smoothed rest normals (atomic flags 2)");
    bench::row("crease_host", hostCrease * 1e9 / triangles, creaseFloor, "triangle",
               "  of which the simulated host's own calls");
    bench::row("crease_module", (crease - hostCrease) * 1e9 / triangles, creaseFloor, "triangle",
               "  the module's own share (build - host calls)");
    kerbmark::PanelState state;
    void* rebuilt = creaseStepRows(panel, atomicFlags, state);
    if (rebuilt) {
        surfaceRows(rebuilt, state);
        kerbmark::releaseGeometry(rebuilt);
    }
    kerbmark::releaseGeometry(panel);
}
