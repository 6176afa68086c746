#include "host_geometry.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "host_functions.h"
#include "host_world.h"

namespace hostsim {

namespace {

// Memory for a geometry's arrays. Large ones are pages of their own, given
// back to the system when freed, as the game's own large allocations are:
// geometries of every size made and destroyed for hours would otherwise
// leave the process heap ever more fragmented.
template <typename T>
struct ArrayMemory {
    using value_type = T;
    static constexpr std::size_t kPagedBytes = 64 * 1024;

    ArrayMemory() = default;
    template <typename U>
    ArrayMemory(const ArrayMemory<U>&) {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        void* memory = bytes >= kPagedBytes ? VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                                            : std::malloc(bytes);
        if (!memory) throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) >= kPagedBytes) VirtualFree(p, 0, MEM_RELEASE);
        else std::free(p);
    }
    template <typename U>
    bool operator==(const ArrayMemory<U>&) const { return true; }
    template <typename U>
    bool operator!=(const ArrayMemory<U>&) const { return false; }
};

template <typename T>
using Array = std::vector<T, ArrayMemory<T>>;

// Everything a geometry's pointers lead to, owned in one place.
struct GeometryStorage {
    Geometry geometry{};
    std::uint64_t madeAs = 0;  // the module's geometries: its place in the order they were made
    VertexBlock block{};
    Array<Vec3> positions;
    Array<Vec3> normals;
    Array<std::uint32_t> colours;
    Array<float> texCoords[8];
    Array<Triangle> triangles;
    std::vector<Material*> materials;
    // What the render meshes were built from at the last unlock.
    Array<Vec3> renderedPositions;
    Array<Vec3> renderedNormals;
    std::vector<std::int32_t> lockModes;
};

struct Geometries {
    std::unordered_map<const Geometry*, std::unique_ptr<GeometryStorage>> storage;
    std::vector<std::unique_ptr<Material>> materials;
    std::vector<Geometry*> madeByModule;
    // The module's geometries not destroyed yet, by the order they were made in.
    std::uint64_t madeCount = 0;
    std::map<std::uint64_t, Geometry*> liveMadeByModule;
    // Destroyed module geometries in the order they went; only the latest of
    // `keptVertices` vertices in all stay in memory when it is set.
    std::deque<Geometry*> destroyedByModule;
    std::size_t destroyedVertices = 0;
    std::size_t keptVertices = 0;
    // The module works on one geometry at a time (a clone makes a call per triangle), and storage is never
    // erased, so the last lookup answers most calls without walking the tree.
    const Geometry* lastLooked = nullptr;
    GeometryStorage* lastStorage = nullptr;
};

Geometries& geometries() {
    static Geometries instance;
    return instance;
}

GeometryStorage* storageOf(const Geometry* geometry) {
    Geometries& all = geometries();
    if (geometry && geometry == all.lastLooked) return all.lastStorage;
    auto found = all.storage.find(geometry);
    if (found == all.storage.end()) return nullptr;
    all.lastLooked = geometry;
    all.lastStorage = found->second.get();
    return all.lastStorage;
}

std::string describe(const char* what, const void* pointer) {
    char text[128];
    std::snprintf(text, sizeof text, "%s %p", what, pointer);
    return text;
}

Vec3 minus(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

void updateBoundingSphere(GeometryStorage& storage) {
    if (storage.positions.empty()) return;
    Vec3 lo = storage.positions[0], hi = lo;
    for (const Vec3& p : storage.positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    float* sphere = storage.block.boundingSphere;
    sphere[0] = (lo.x + hi.x) * 0.5f;
    sphere[1] = (lo.y + hi.y) * 0.5f;
    sphere[2] = (lo.z + hi.z) * 0.5f;
    float radius = 0.0f;
    for (const Vec3& p : storage.positions) {
        const Vec3 d = minus(p, {sphere[0], sphere[1], sphere[2]});
        radius = std::max(radius, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z));
    }
    sphere[3] = radius;
}

bool sameVectors(const Vec3* now, const Array<Vec3>& before, std::int32_t count) {
    if (!now || before.size() != static_cast<std::size_t>(count)) return true;  // nothing to compare with
    return std::memcmp(now, before.data(), before.size() * sizeof(Vec3)) == 0;
}

// The render meshes are built from what the geometry holds now.
void buildRenderMeshes(GeometryStorage& storage) {
    Geometry& g = storage.geometry;
    const std::size_t count = static_cast<std::size_t>(g.vertexCount);
    const VertexBlock* block = g.vertexBlock;
    if (block && block->positions)
        storage.renderedPositions.assign(block->positions, block->positions + count);
    else
        storage.renderedPositions.clear();
    if (block && block->normals)
        storage.renderedNormals.assign(block->normals, block->normals + count);
    else
        storage.renderedNormals.clear();
    g.hostLockMode = 0;
    ++g.hostUnlocks;
}

// The first triangle whose corners or material are out of range, as text; "" when none.
std::string inconsistentTriangle(const Geometry& g) {
    for (std::int32_t i = 0; i < g.triangleCount; ++i) {
        const Triangle& t = g.triangles[i];
        for (std::uint16_t corner : t.vertex) {
            if (corner >= g.vertexCount) {
                char text[96];
                std::snprintf(text, sizeof text, "triangle %d uses vertex %u of %d", static_cast<int>(i), corner,
                              static_cast<int>(g.vertexCount));
                return text;
            }
        }
        if (t.material >= g.materialCount || !g.materials || !g.materials[t.material] ||
            g.materials[t.material]->hostFreed) {
            char text[96];
            std::snprintf(text, sizeof text, "triangle %d uses material %u of %d", static_cast<int>(i), t.material,
                          static_cast<int>(g.materialCount));
            return text;
        }
    }
    return {};
}

std::size_t verticesOf(const Geometry* geometry) {
    return static_cast<std::size_t>(std::max(0, geometry->vertexCount));
}

// Frees the oldest destroyed module geometries beyond those kept, in one go
// once twice as many wait, so that moduleGeometries is rewritten seldom.
void freeOldDestroyedGeometries() {
    Geometries& all = geometries();
    if (all.keptVertices == 0 || all.destroyedVertices < 2 * all.keptVertices) return;
    std::unordered_set<const Geometry*> freed;
    while (all.destroyedVertices > all.keptVertices) {
        Geometry* oldest = all.destroyedByModule.front();
        all.destroyedVertices -= verticesOf(oldest);
        freed.insert(oldest);
        all.storage.erase(oldest);
        all.destroyedByModule.pop_front();
    }
    all.madeByModule.erase(std::remove_if(all.madeByModule.begin(), all.madeByModule.end(),
                                          [&freed](const Geometry* g) { return freed.count(g) != 0; }),
                           all.madeByModule.end());
    all.lastLooked = nullptr;
    all.lastStorage = nullptr;
}

void forgetModuleGeometry(Geometry* geometry) {
    Geometries& all = geometries();
    all.liveMadeByModule.erase(storageOf(geometry)->madeAs);
    all.destroyedByModule.push_back(geometry);
    all.destroyedVertices += verticesOf(geometry);
    freeOldDestroyedGeometries();
}

}  // namespace

void computeNormals(MeshData& mesh) {
    mesh.normals.assign(mesh.positions.size(), Vec3{0.0f, 0.0f, 0.0f});
    for (const Triangle& t : mesh.triangles) {
        const Vec3 a = mesh.positions[t.vertex[0]], b = mesh.positions[t.vertex[1]], c = mesh.positions[t.vertex[2]];
        const Vec3 n = cross(minus(b, a), minus(c, a));
        for (std::uint16_t corner : t.vertex) {
            Vec3& sum = mesh.normals[corner];
            sum = {sum.x + n.x, sum.y + n.y, sum.z + n.z};
        }
    }
    for (Vec3& n : mesh.normals) {
        const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        n = length > 1e-12f ? Vec3{n.x / length, n.y / length, n.z / length} : Vec3{0.0f, 0.0f, 1.0f};
    }
}

bool isLiveGeometry(const Geometry* geometry) { return storageOf(geometry) != nullptr; }

Geometry* newGeometry(std::int32_t vertices, std::int32_t triangles, std::uint32_t format) {
    if (vertices < 0 || triangles < 0 || vertices > 65535 || triangles > 0x100000) return nullptr;
    auto storage = std::make_unique<GeometryStorage>();
    Geometry& g = storage->geometry;
    g.flags = (format & 0xFF) | kGeometryPositions;
    g.references = 1;
    g.triangleCount = triangles;
    g.vertexCount = vertices;
    g.vertexBlockCount = 1;
    std::int32_t sets = static_cast<std::int32_t>((format >> 16) & 0xFF);
    if (sets == 0) sets = (format & kGeometryTextured2) ? 2 : (format & kGeometryTextured) ? 1 : 0;
    if (sets > 8) sets = 8;
    g.texCoordSets = sets;
    storage->positions.assign(vertices, Vec3{0.0f, 0.0f, 0.0f});
    if (format & kGeometryNormals) storage->normals.assign(vertices, Vec3{0.0f, 0.0f, 1.0f});
    if (format & kGeometryPrelit) {
        storage->colours.assign(vertices, 0xFFFFFFFFu);
        g.colours = storage->colours.data();
    }
    for (std::int32_t set = 0; set < sets; ++set) {
        storage->texCoords[set].assign(2 * static_cast<std::size_t>(vertices), 0.0f);
        g.texCoords[set] = storage->texCoords[set].data();
    }
    storage->triangles.assign(triangles, Triangle{{0, 0, 0}, 0});
    g.triangles = triangles ? storage->triangles.data() : nullptr;
    storage->block.hostGeometry = &g;
    storage->block.positions = vertices ? storage->positions.data() : nullptr;
    storage->block.normals = storage->normals.empty() ? nullptr : storage->normals.data();
    g.vertexBlock = &storage->block;
    g.hostLockMode = kLockAll;
    Geometry* result = &g;
    geometries().storage[result] = std::move(storage);
    return result;
}

Material* newMaterial(std::uint32_t colour) {
    auto material = std::make_unique<Material>();
    material->colour = colour;
    material->references = 1;
    material->hostFreed = false;
    Material* result = material.get();
    geometries().materials.push_back(std::move(material));
    return result;
}

Geometry* newMeshGeometry(const MeshData& mesh) {
    const std::int32_t sets = static_cast<std::int32_t>(std::min<std::size_t>(mesh.texCoords.size(), 8));
    std::uint32_t format = kGeometryPositions | kGeometryLight | kGeometryModulate;
    if (!mesh.normals.empty()) format |= kGeometryNormals;
    if (!mesh.colours.empty()) format |= kGeometryPrelit;
    if (sets == 1) format |= kGeometryTextured;
    if (sets >= 2) format |= kGeometryTextured2;
    format |= static_cast<std::uint32_t>(sets) << 16;
    Geometry* g = newGeometry(static_cast<std::int32_t>(mesh.positions.size()),
                              static_cast<std::int32_t>(mesh.triangles.size()), format);
    if (!g) return nullptr;
    GeometryStorage& storage = *storageOf(g);
    storage.positions.assign(mesh.positions.begin(), mesh.positions.end());
    if (!mesh.normals.empty()) storage.normals.assign(mesh.normals.begin(), mesh.normals.end());
    if (!mesh.colours.empty()) storage.colours.assign(mesh.colours.begin(), mesh.colours.end());
    for (std::int32_t set = 0; set < sets; ++set)
        storage.texCoords[set].assign(mesh.texCoords[set].begin(), mesh.texCoords[set].end());
    std::vector<Material*> own;
    for (std::uint32_t colour : mesh.materialColours) own.push_back(newMaterial(colour));
    for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
        Triangle triangle = mesh.triangles[i];
        triangle.material = static_cast<std::uint16_t>(useMaterial(g, own.at(triangle.material)));
        storage.triangles[i] = triangle;
    }
    // Materials no triangle uses stay out of the table, as the host's model reader leaves them.
    for (Material* material : own) {
        if (--material->references == 0) material->hostFreed = true;
    }
    updateBoundingSphere(storage);
    buildRenderMeshes(storage);
    return g;
}

Geometry* newBoxGeometry(int materials) {
    static const Vec3 corners[8] = {{-0.8f, -2.0f, -0.5f}, {0.8f, -2.0f, -0.5f}, {0.8f, 2.0f, -0.5f},
                                    {-0.8f, 2.0f, -0.5f},  {-0.8f, -2.0f, 0.5f}, {0.8f, -2.0f, 0.5f},
                                    {0.8f, 2.0f, 0.5f},    {-0.8f, 2.0f, 0.5f}};
    static const std::uint16_t faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                               {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    MeshData mesh;
    const int materialCount = std::max(1, materials);
    std::vector<float> uv;
    for (int i = 0; i < 8; ++i) {
        mesh.positions.push_back(corners[i]);
        const float length =
            std::sqrt(corners[i].x * corners[i].x + corners[i].y * corners[i].y + corners[i].z * corners[i].z);
        mesh.normals.push_back({corners[i].x / length, corners[i].y / length, corners[i].z / length});
        uv.push_back((i & 1) ? 1.0f : 0.0f);
        uv.push_back((i & 2) ? 1.0f : 0.0f);
    }
    mesh.texCoords.push_back(uv);
    for (int t = 0; t < 12; ++t)
        mesh.triangles.push_back(
            Triangle{{faces[t][0], faces[t][1], faces[t][2]}, static_cast<std::uint16_t>(t % materialCount)});
    for (int m = 0; m < materialCount; ++m) mesh.materialColours.push_back(0xFF808080u);
    Geometry* g = newMeshGeometry(mesh);
    g->flags &= ~(kGeometryLight | kGeometryModulate);
    return g;
}

void addGeometryReference(Geometry* geometry) { ++geometry->references; }

void dropGeometryReference(Geometry* geometry) {
    if (geometry->hostDestroyed) {
        hostFault(describe("geometry released after its last reference was gone:", geometry));
        return;
    }
    if (--geometry->references > 0) return;
    geometry->hostDestroyed = true;
    if (geometry->hostMadeByModule) forgetModuleGeometry(geometry);
    if (anyAtomicDraws(geometry)) hostFault(describe("geometry destroyed while an atomic still draws it:", geometry));
    for (std::int32_t i = 0; i < geometry->materialCount; ++i) {
        Material* material = geometry->materials[i];
        if (!material) continue;
        if (material->hostFreed) {
            hostFault(describe("material released after its last reference was gone:", material));
            continue;
        }
        if (--material->references == 0) material->hostFreed = true;
    }
}

int useMaterial(Geometry* geometry, Material* material) {
    if (material->hostFreed || material->references <= 0) {
        hostFault(describe("a freed material was given to a geometry:", material));
        return -1;
    }
    for (std::int32_t i = 0; i < geometry->materialCount; ++i)
        if (geometry->materials[i] == material) return i;
    GeometryStorage* storage = storageOf(geometry);
    storage->materials.push_back(material);
    ++material->references;
    geometry->materials = storage->materials.data();
    geometry->materialCount = static_cast<std::int32_t>(storage->materials.size());
    geometry->materialCapacity = static_cast<std::int32_t>(storage->materials.capacity());
    return geometry->materialCount - 1;
}

void lockGeometry(Geometry* geometry, std::int32_t mode) {
    storageOf(geometry)->lockModes.push_back(mode);
    geometry->hostLockMode |= mode;
}

void unlockGeometry(Geometry* geometry) {
    GeometryStorage& storage = *storageOf(geometry);
    // Triangles change only while they are open (a new geometry's are until its first unlock).
    if (geometry->hostLockMode & kLockTriangles) {
        const std::string triangle = inconsistentTriangle(*geometry);
        if (!triangle.empty()) hostFault(describe(("unlock: " + triangle + " in geometry").c_str(), geometry));
    }
    const VertexBlock* block = geometry->vertexBlock;
    if (block && !(geometry->hostLockMode & kLockPositions) &&
        !sameVectors(block->positions, storage.renderedPositions, geometry->vertexCount))
        hostFault(describe("unlock: positions written without a lock for positions in geometry", geometry));
    if (block && !(geometry->hostLockMode & kLockNormals) &&
        !sameVectors(block->normals, storage.renderedNormals, geometry->vertexCount))
        hostFault(describe("unlock: normals written without a lock for normals in geometry", geometry));
    buildRenderMeshes(storage);
}

const std::vector<std::int32_t>& lockModes(const Geometry* geometry) {
    static const std::vector<std::int32_t> none;
    const GeometryStorage* storage = storageOf(geometry);
    return storage ? storage->lockModes : none;
}

bool drawable(const Geometry* geometry, std::string& problem, bool compareVertices) {
    const GeometryStorage* storage = storageOf(geometry);
    if (!storage) {
        problem = describe("not a host geometry:", geometry);
        return false;
    }
    if (geometry->hostDestroyed) {
        problem = describe("a destroyed geometry:", geometry);
        return false;
    }
    if (geometry->hostUnlocks == 0) {
        problem = describe("a geometry never unlocked (no render meshes):", geometry);
        return false;
    }
    if (geometry->hostLockMode != 0) {
        problem = describe("a geometry left locked:", geometry);
        return false;
    }
    const VertexBlock* block = geometry->vertexBlock;
    if (compareVertices && block &&
        (!sameVectors(block->positions, storage->renderedPositions, geometry->vertexCount) ||
                  !sameVectors(block->normals, storage->renderedNormals, geometry->vertexCount))) {
        problem = describe("a geometry whose vertices changed after its last unlock:", geometry);
        return false;
    }
    return true;
}

MeshData meshOf(const Geometry* geometry) {
    MeshData mesh;
    const std::size_t count = static_cast<std::size_t>(geometry->vertexCount);
    const VertexBlock* block = geometry->vertexBlock;
    if (block && block->positions) mesh.positions.assign(block->positions, block->positions + count);
    if (block && block->normals) mesh.normals.assign(block->normals, block->normals + count);
    if (geometry->colours) mesh.colours.assign(geometry->colours, geometry->colours + count);
    for (std::int32_t set = 0; set < geometry->texCoordSets && set < 8; ++set) {
        const float* uv = geometry->texCoords[set];
        mesh.texCoords.push_back(uv ? std::vector<float>(uv, uv + 2 * count) : std::vector<float>());
    }
    if (geometry->triangles) mesh.triangles.assign(geometry->triangles, geometry->triangles + geometry->triangleCount);
    for (std::int32_t i = 0; i < geometry->materialCount; ++i)
        mesh.materialColours.push_back(geometry->materials[i] ? geometry->materials[i]->colour : 0u);
    return mesh;
}

const std::vector<Geometry*>& moduleGeometries() { return geometries().madeByModule; }

void markMadeByModule(Geometry* geometry) {
    Geometries& all = geometries();
    geometry->hostMadeByModule = true;
    all.madeByModule.push_back(geometry);
    const std::uint64_t madeAs = ++all.madeCount;
    storageOf(geometry)->madeAs = madeAs;
    all.liveMadeByModule[madeAs] = geometry;
}

std::vector<Geometry*> liveModuleGeometries() {
    std::vector<Geometry*> live;
    for (const auto& [madeAs, geometry] : geometries().liveMadeByModule) live.push_back(geometry);
    return live;
}

std::size_t liveModuleGeometryCount() { return geometries().liveMadeByModule.size(); }

void keepDestroyedModuleGeometries(std::size_t vertices) {
    geometries().keptVertices = vertices;
    freeOldDestroyedGeometries();
}

ReferenceLedger referenceLedger() {
    ReferenceLedger ledger;
    for (const auto& [geometry, storage] : geometries().storage)
        if (!geometry->hostMadeByModule) ledger.geometries[geometry] = geometry->references;
    for (const auto& material : geometries().materials) ledger.materials[material.get()] = material->references;
    return ledger;
}

std::string ledgerDifferences(const ReferenceLedger& before, const ReferenceLedger& after) {
    std::string text;
    char line[128];
    for (const auto& [geometry, count] : after.geometries) {
        auto found = before.geometries.find(geometry);
        const int was = found == before.geometries.end() ? 0 : found->second;
        if (was == count) continue;
        std::snprintf(line, sizeof line, "geometry %p: %d references, %d before\n", static_cast<const void*>(geometry),
                      count, was);
        text += line;
    }
    for (const auto& [material, count] : after.materials) {
        auto found = before.materials.find(material);
        const int was = found == before.materials.end() ? 0 : found->second;
        if (was == count) continue;
        std::snprintf(line, sizeof line, "material %p: %d references, %d before\n", static_cast<const void*>(material),
                      count, was);
        text += line;
    }
    return text;
}

}  // namespace hostsim
