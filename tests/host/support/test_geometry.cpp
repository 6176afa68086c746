#include "host/support/test_geometry.h"

namespace testhost {

TestGeometry::TestGeometry(std::int32_t materials, std::int32_t vertices, std::int32_t capacity) {
    const std::size_t used = materials > 0 ? static_cast<std::size_t>(materials) : 0;
    const std::int32_t slots = capacity < 0 ? materials : capacity;
    materialObjects.assign(used, 0);
    // The table is never smaller than what is used, whatever capacity claims.
    table.assign(slots > materials ? static_cast<std::size_t>(slots) : used, nullptr);
    for (std::size_t i = 0; i < used; ++i) table[i] = &materialObjects[i];
    geometry.references = 1;
    geometry.vertexCount = vertices;
    geometry.materials = table.empty() ? nullptr : table.data();
    geometry.materialCount = materials;
    geometry.materialCapacity = slots;
}

}  // namespace testhost
