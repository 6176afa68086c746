// An independent copy of a host geometry, made through the host's own
// geometry functions, so that dents never reach a shared mesh.
#pragma once

#include <cstdint>

namespace kerbmark {

// The largest mesh the module copies and deforms.
constexpr std::int32_t kMaxMeshVertices = 30000;

// Format word for the host's geometry creation: the source's flags limited to
// what the copy carries, the texture-coordinate bit for one set or the
// multi-set bit for more, and the set count in bits 16 and up.
std::uint32_t cloneFormat(std::uint32_t sourceFlags, bool hasNormals, bool hasColours, std::int32_t texCoordSets);

// A copy being made in steps: the source, the geometry created for it, and
// how far its triangles are copied. The job owns `copy` until finishClone
// hands it over; it is attached nowhere before that, and releaseClone gives it
// back. The source's counts and arrays as they were at the start are kept, so
// that a later step finds out whether the source is still the same.
struct CloneJob {
    void* source = nullptr;
    void* copy = nullptr;  // null before beginClone, after finishClone, and after a failure
    std::uint32_t format = 0;
    std::int32_t trianglesCopied = 0;
    std::int32_t vertexCount = 0;
    std::int32_t triangleCount = 0;
    const void* triangles = nullptr;
    void* const* materials = nullptr;
    std::int32_t materialCount = 0;
};

// The clone's first step: the source's checks, the created geometry and its
// vertex arrays. False when the source is refused or the host's geometry fails
// (released then); `job` holds no copy then.
bool beginClone(void* source, CloneJob& job);

// Triangles of the begun copy not yet copied.
std::int32_t cloneTrianglesLeft(const CloneJob& job);

// The next `triangles` triangles (the rest when fewer are left), with their
// materials. Made only on a source that cloneSourceUnchanged accepts. False
// when the host refuses one: the copy is released then.
bool continueClone(CloneJob& job, std::int32_t triangles);

// The last step, once every triangle is copied: extensions, render meshes and
// the cloned material table's check. The complete copy, which the caller owns
// from now on, or null (the copy released).
void* finishClone(CloneJob& job);

// Gives back a copy begun and not finished; nothing when there is none.
void releaseClone(CloneJob& job);

// The source is still readable with the counts, triangles and material table
// it had when the clone began, so the next step may read it.
bool cloneSourceUnchanged(const CloneJob& job);

// A complete, drawable copy of `source` owned by the caller, or null: the
// steps above in one go. Nothing of the source is written; a copy that fails
// anywhere is released.
void* cloneGeometry(void* source);

}  // namespace kerbmark
