// The simulated host's geometries and materials: reference counted as the
// host counts them, built from plain mesh data, locked and unlocked with the
// lock modes honoured, and checked the way a renderer depends on them. Every
// geometry and material stays in memory until the process ends, so that a
// stale pointer still reads host memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host_records.h"

namespace hostsim {

// A mesh as the model files describe it; triangle materials index `materialColours`.
struct MeshData {
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;                  // empty: no normals
    std::vector<std::uint32_t> colours;         // empty: no vertex colours (0xAABBGGRR)
    std::vector<std::vector<float>> texCoords;  // one array of two floats per vertex for each set
    std::vector<Triangle> triangles;
    std::vector<std::uint32_t> materialColours;  // one material each
};

// Normals from the triangles: the area-weighted mean of the faces around each vertex.
void computeNormals(MeshData& mesh);

bool isLiveGeometry(const Geometry* geometry);
// A host geometry as createGeometry makes it: one reference, empty material
// table, open for writing (every lock mode) until its first unlock.
Geometry* newGeometry(std::int32_t vertices, std::int32_t triangles, std::uint32_t format);
// A finished host geometry (one reference, unlocked, render meshes built)
// with its own materials, each held by the geometry's table only.
Geometry* newMeshGeometry(const MeshData& mesh);
// A closed box mesh (8 vertices, 12 triangles) with `materials` materials,
// normals and one texture coordinate set.
Geometry* newBoxGeometry(int materials = 1);
Material* newMaterial(std::uint32_t colour = 0xFF808080u);

// Adds one reference; drops one, destroying the geometry at zero (its
// materials lose the table's reference).
void addGeometryReference(Geometry* geometry);
void dropGeometryReference(Geometry* geometry);
// Appends `material` to the geometry's table unless present (taking a
// reference for the table); returns its index, or -1 for a freed material.
int useMaterial(Geometry* geometry, Material* material);

// Lock and unlock as the host does them. Unlock rebuilds the render meshes:
// it checks that every triangle's indices and material are in range, and that
// positions and normals changed only under a lock mode that opened them.
void lockGeometry(Geometry* geometry, std::int32_t mode);
void unlockGeometry(Geometry* geometry);
// Every lock mode passed to the host's lock function for the geometry, in order.
const std::vector<std::int32_t>& lockModes(const Geometry* geometry);

// What the renderer draws for an atomic: false, with the reason, when the
// geometry is destroyed, has never been unlocked, is still locked, or (when
// `compareVertices`) its positions or normals changed since its last unlock.
bool drawable(const Geometry* geometry, std::string& problem, bool compareVertices = true);

// Copies of a geometry's arrays (positions, normals, colours, texture
// coordinates, triangles), for comparing a copy with its source.
MeshData meshOf(const Geometry* geometry);

// Marks a geometry as made through createGeometry (the module's copies).
void markMadeByModule(Geometry* geometry);
// Every geometry made through createGeometry, in order; and those of them
// whose last reference is not gone.
const std::vector<Geometry*>& moduleGeometries();
std::vector<Geometry*> liveModuleGeometries();
std::size_t liveModuleGeometryCount();

// A long drive makes more copies than memory holds: from now on only the
// latest destroyed module geometries of `vertices` vertices in all stay in
// memory (and in moduleGeometries), the older ones are freed as the real host
// frees them. By default every geometry stays for the whole process.
void keepDestroyedModuleGeometries(std::size_t vertices);

// The reference counts of every geometry the host made itself (not through
// createGeometry) and of every material.
struct ReferenceLedger {
    std::map<const Geometry*, int> geometries;
    std::map<const Material*, int> materials;
};
ReferenceLedger referenceLedger();
// The counts that differ between two ledgers, one per line ("" when equal).
std::string ledgerDifferences(const ReferenceLedger& before, const ReferenceLedger& after);

}  // namespace hostsim
