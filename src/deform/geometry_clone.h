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

// A complete, drawable copy of `source` owned by the caller, or null. Nothing
// of the source is written; a copy that fails anywhere is released.
void* cloneGeometry(void* source);

}  // namespace kerbmark
