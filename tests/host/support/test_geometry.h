// A host geometry record in ordinary memory, with a material table the way the
// host lays it out: `materials` aligned material pointers in a table of
// `capacity` slots.
#pragma once

#include <cstdint>
#include <vector>

#include "host/host_types.h"

namespace testhost {

struct TestGeometry {
    host::Geometry geometry{};  // first: its address is the geometry's
    std::vector<void*> table;
    std::vector<std::uint32_t> materialObjects;

    // One reference, as the host creates it. capacity < 0: same as materials.
    explicit TestGeometry(std::int32_t materials, std::int32_t vertices = 4, std::int32_t capacity = -1);
    TestGeometry(const TestGeometry&) = delete;
    TestGeometry& operator=(const TestGeometry&) = delete;

    host::Geometry* get() { return &geometry; }
};

}  // namespace testhost
