#include "deform/geometry_clone.h"

#include <algorithm>
#include <cstring>

#include "deform/records.h"
#include "foundation/log.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr std::int32_t kMaxTriangles = 60000;
constexpr std::int32_t kMaxTexCoordSets = 8;
constexpr std::uint32_t kUnsupportedFlags = 0x03000000;
constexpr std::uint32_t kCopiedFlags = 0x63;
constexpr std::uint32_t kNormalsFlag = 0x10;
constexpr std::uint32_t kColoursFlag = 0x08;
constexpr std::uint32_t kOneTexCoordSet = 0x04;
constexpr std::uint32_t kManyTexCoordSets = 0x80;

constexpr std::uint32_t kPositionBytes = sizeof(dent::Vec);
constexpr std::uint32_t kColourBytes = 4;
constexpr std::uint32_t kTexCoordBytes = 8;
constexpr std::uint32_t kSphereBytes = 16;

std::uint32_t arrayBytes(std::int32_t count, std::uint32_t each) { return static_cast<std::uint32_t>(count) * each; }

// Every check of one step goes through one walk: a host geometry's arrays
// mostly share a heap region, which one region query then answers for. Only
// the module reads between the checks of one walk; the host changes nothing.
bool readable(const void* pointer, std::uint32_t length, ReadableMemoryWalk& walk) {
    return pointer && walk.readable(pointer, length);
}

// Counts, arrays and flags a copy can be made from. Every array that is
// present must also be readable for the whole vertex or triangle count.
bool shapeSupported(const host::Geometry& g, ReadableMemoryWalk& walk) {
    if (g.vertexCount < 1 || g.vertexCount > kMaxMeshVertices) return false;
    if (g.triangleCount < 1 || g.triangleCount > kMaxTriangles) return false;
    if (g.vertexBlockCount != 1) return false;
    const host::VertexBlock* block = g.vertexBlock;
    if (!readable(block, sizeof *block, walk)) return false;
    if (!readable(block->positions, arrayBytes(g.vertexCount, kPositionBytes), walk)) return false;
    if (block->normals && !readable(block->normals, arrayBytes(g.vertexCount, kPositionBytes), walk)) return false;
    if (!readable(g.triangles, arrayBytes(g.triangleCount, sizeof(host::Triangle)), walk)) return false;
    if (g.colors && !readable(g.colors, arrayBytes(g.vertexCount, kColourBytes), walk)) return false;
    if (g.texCoordSets < 0 || g.texCoordSets > kMaxTexCoordSets) return false;
    if (g.materialCount < 1 || !g.materials) return false;
    return (g.flags & kUnsupportedFlags) == 0;
}

bool texCoordsPresent(const host::Geometry& g, ReadableMemoryWalk& walk) {
    for (std::int32_t set = 0; set < g.texCoordSets; ++set) {
        if (!readable(g.texCoords[set], arrayBytes(g.vertexCount, kTexCoordBytes), walk)) return false;
    }
    return true;
}

bool triangleValid(const host::Triangle& t, const host::Geometry& g) {
    if (t.material >= g.materialCount || !g.materials[t.material]) return false;
    for (std::uint16_t corner : t.vertex) {
        if (corner >= g.vertexCount) return false;
    }
    return true;
}

bool trianglesValid(const host::Geometry& g) {
    for (std::int32_t i = 0; i < g.triangleCount; ++i) {
        if (!triangleValid(g.triangles[i], g)) return false;
    }
    return true;
}

// What the host created must have the asked-for counts and the arrays every
// later step writes into.
bool copyUsable(const host::Geometry* copy, const host::Geometry& source, ReadableMemoryWalk& walk) {
    if (!readable(copy, sizeof *copy, walk)) return false;
    if (copy->vertexCount != source.vertexCount || copy->triangleCount != source.triangleCount) return false;
    const host::VertexBlock* block = copy->vertexBlock;
    if (!readable(block, sizeof *block, walk)) return false;
    if (!readable(block->positions, arrayBytes(source.vertexCount, kPositionBytes), walk)) return false;
    return readable(copy->triangles, arrayBytes(source.triangleCount, sizeof(host::Triangle)), walk);
}

// Raw copies of the per-vertex arrays the format carries; false when the
// copy lacks an array it should have.
bool copyVertexAttributes(host::Geometry& copy, const host::Geometry& source, std::uint32_t format,
                          ReadableMemoryWalk& walk) {
    const host::VertexBlock& from = *source.vertexBlock;
    host::VertexBlock& to = *copy.vertexBlock;
    const std::int32_t vertices = source.vertexCount;

    std::memcpy(to.positions, from.positions, arrayBytes(vertices, kPositionBytes));
    std::memcpy(to.boundingSphere, from.boundingSphere, kSphereBytes);
    if (format & kNormalsFlag) {
        if (!readable(to.normals, arrayBytes(vertices, kPositionBytes), walk)) return false;
        std::memcpy(to.normals, from.normals, arrayBytes(vertices, kPositionBytes));
    }
    if (format & kColoursFlag) {
        if (!readable(copy.colors, arrayBytes(vertices, kColourBytes), walk)) return false;
        std::memcpy(copy.colors, source.colors, arrayBytes(vertices, kColourBytes));
    }
    for (std::int32_t set = 0; set < source.texCoordSets; ++set) {
        if (!readable(copy.texCoords[set], arrayBytes(vertices, kTexCoordBytes), walk)) return false;
        std::memcpy(copy.texCoords[set], source.texCoords[set], arrayBytes(vertices, kTexCoordBytes));
    }
    return true;
}

// Triangles `first` up to `end` with their materials. Each is checked again
// as it is copied: a clone made in steps reads a source the host may have
// written to in between.
bool copyTriangles(host::Geometry& copy, const host::Geometry& source, std::int32_t first, std::int32_t end) {
    for (std::int32_t i = first; i < end; ++i) {
        const host::Triangle& t = source.triangles[i];
        if (!triangleValid(t, source)) return false;
        host::Triangle* target = &copy.triangles[i];
        if (!game::triangleVertices(&copy, target, t.vertex[0], t.vertex[1], t.vertex[2])) return false;
        if (!game::triangleMaterial(&copy, target, source.materials[t.material])) return false;
    }
    return true;
}

void* rejectCopy(void* copy) {
    releaseGeometry(copy);
    return nullptr;
}

// The source's checks, in the order their breadcrumbs tell.
bool sourceSupported(void* sourceGeometry) {
    breadcrumb("clone: validate CPU geometry");
    if (!materialTableValid(sourceGeometry)) {
        logLine("MaterialGuard: invalid source material table; clone skipped.");
        return false;
    }
    const auto& source = *static_cast<const host::Geometry*>(sourceGeometry);
    ReadableMemoryWalk sourceMemory;
    if (!shapeSupported(source, sourceMemory)) {
        breadcrumb("clone: unsupported or incomplete CPU geometry; skipped");
        return false;
    }
    if (!texCoordsPresent(source, sourceMemory)) {
        breadcrumb("clone: missing UV buffer; skipped");
        return false;
    }
    if (!trianglesValid(source)) {
        breadcrumb("clone: invalid triangle indices or material; skipped");
        return false;
    }
    return true;
}

}  // namespace

std::uint32_t cloneFormat(std::uint32_t sourceFlags, bool hasNormals, bool hasColours, std::int32_t texCoordSets) {
    std::uint32_t format =
        sourceFlags & (kCopiedFlags | (hasNormals ? kNormalsFlag : 0u) | (hasColours ? kColoursFlag : 0u));
    if (texCoordSets == 1) {
        format |= kOneTexCoordSet;
    } else if (texCoordSets >= 2) {
        format |= kManyTexCoordSets;
    }
    return format | (static_cast<std::uint32_t>(texCoordSets) << 16);
}

bool beginClone(void* sourceGeometry, CloneJob& job) {
    releaseClone(job);
    job = CloneJob{};
    if (!sourceSupported(sourceGeometry)) return false;
    const auto& source = *static_cast<const host::Geometry*>(sourceGeometry);

    breadcrumb("clone: create independent geometry");
    const std::uint32_t format =
        cloneFormat(source.flags, source.vertexBlock->normals != nullptr, source.colors != nullptr, source.texCoordSets);
    void* created = game::createGeometry(source.vertexCount, source.triangleCount, format);
    if (!created) return false;
    auto* copy = static_cast<host::Geometry*>(created);
    ReadableMemoryWalk copyMemory;
    if (!copyUsable(copy, source, copyMemory)) {
        releaseGeometry(created);
        return false;
    }
    breadcrumb("clone: copy vertex attributes");
    if (!copyVertexAttributes(*copy, source, format, copyMemory)) {
        releaseGeometry(created);
        return false;
    }

    job.source = sourceGeometry;
    job.copy = created;
    job.format = format;
    job.vertexCount = source.vertexCount;
    job.triangleCount = source.triangleCount;
    job.triangles = source.triangles;
    job.materials = source.materials;
    job.materialCount = source.materialCount;
    return true;
}

std::int32_t cloneTrianglesLeft(const CloneJob& job) {
    return job.trianglesCopied < job.triangleCount ? job.triangleCount - job.trianglesCopied : 0;
}

bool continueClone(CloneJob& job, std::int32_t triangles) {
    if (!job.copy) return false;
    if (job.trianglesCopied == 0) breadcrumb("clone: copy triangles and reference materials");
    const std::int32_t end = job.trianglesCopied + std::min(std::max(triangles, 0), cloneTrianglesLeft(job));
    auto& copy = *static_cast<host::Geometry*>(job.copy);
    if (!copyTriangles(copy, *static_cast<const host::Geometry*>(job.source), job.trianglesCopied, end)) {
        releaseClone(job);
        return false;
    }
    job.trianglesCopied = end;
    return true;
}

void* finishClone(CloneJob& job) {
    if (cloneTrianglesLeft(job) > 0) {
        releaseClone(job);
        return nullptr;
    }
    void* created = job.copy;
    job.copy = nullptr;  // from here on the caller's, or released
    if (!created) return nullptr;

    breadcrumb("clone: copy registered geometry extensions");
    void* registry = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host::kExtensionRegistry));
    if (!game::copyExtensions(registry, created, job.source)) return rejectCopy(created);

    breadcrumb("clone: build render meshes");
    if (!game::unlock(created)) return rejectCopy(created);

    if (!materialTableValid(created)) {
        logLine("MaterialGuard: invalid cloned material table; rejected.");
        return rejectCopy(created);
    }
    breadcrumb("clone: complete (direct copy; no serialization)");
    return created;
}

void releaseClone(CloneJob& job) {
    void* copy = job.copy;
    job.copy = nullptr;
    releaseGeometry(copy);
}

bool cloneSourceUnchanged(const CloneJob& job) {
    ReadableMemoryWalk walk;
    if (!job.copy || !materialTableValid(job.source, walk)) return false;
    const auto& source = *static_cast<const host::Geometry*>(job.source);
    return source.vertexCount == job.vertexCount && source.triangleCount == job.triangleCount &&
           source.triangles == job.triangles && source.materials == job.materials &&
           source.materialCount == job.materialCount &&
           readable(source.triangles, arrayBytes(source.triangleCount, sizeof(host::Triangle)), walk);
}

void* cloneGeometry(void* source) {
    CloneJob job;
    if (!beginClone(source, job)) return nullptr;
    if (!continueClone(job, job.triangleCount)) return nullptr;
    return finishClone(job);
}

}  // namespace kerbmark
