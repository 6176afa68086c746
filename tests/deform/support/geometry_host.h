// The host's geometry, frame and lock functions as doubles, on top of the fake
// host: complete source geometries (vertex block, normals, colours, texture
// coordinates, triangles, reference-counted materials), copies created the way
// the host creates them, frames with names and world matrices, and failures on
// demand at every step the clone and the driver rely on.
#pragma once

#include "host/support/host_double.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/vec.h"
#include "host/host_types.h"
#include "host/support/fake_host.h"

namespace testdeform {

struct Material {
    std::int32_t references = 1;  // the one the source's table holds
};

struct SourceShape {
    std::int32_t vertices = 6;
    std::int32_t triangles = 4;
    std::int32_t texCoordSets = 1;
    bool normals = true;
    bool colours = true;
    std::int32_t materials = 2;
    std::uint32_t flags = 0x7E;  // positions, texture, prelit, normals, light, modulate
    // Vertex i at positions[i]; empty: (0.1 i, 0, 0).
    std::vector<dent::Vec> positions;
};

// What game::createGeometry hands back next.
enum class CreateOutcome { Normal, Null, NoVertexBlock, NoPositions, NoTriangles, NoNormals, NoColours, NoTexCoords };

struct CreateCall {
    std::int32_t vertices;
    std::int32_t triangles;
    std::uint32_t format;
};
struct LockCall {
    void* geometry;
    std::int32_t mode;
};
struct ExtensionsCall {
    void* registry;
    void* destination;
    const void* source;
};

dent::HostMatrix identityMatrix(dent::Vec position = {0, 0, 0});

class GeometryHost : public testhost::HostDouble<GeometryHost> {
public:
    // Points game::createGeometry, triangleVertices, triangleMaterial,
    // copyExtensions, lock, unlock, frameName, frameLTM, geometrySkin and
    // atomicFlags at this host and
    // wraps the fake host's destroyGeometry so that a copy gives its material
    // references back when its last reference goes. One at a time.
    explicit GeometryHost(testhost::FakeHost& host);
    ~GeometryHost();

    host::Geometry* source(const SourceShape& shape = {});
    std::vector<dent::Vec>& positionsOf(host::Geometry* geometry);
    Material* material(host::Geometry* geometry, std::int32_t index);
    // Every copy created through game::createGeometry, in order.
    const std::vector<host::Geometry*>& copies() const { return copies_; }
    bool isCopy(const void* geometry) const;

    // A frame with a name (null: no name) and an identity world matrix.
    host::Frame* frame(const char* name, host::Frame* parent = nullptr);
    void setMatrix(host::Frame* frame, const dent::HostMatrix& matrix);
    void removeMatrix(host::Frame* frame);  // frameLTM gives null
    // An atomic of the vehicle that draws `geometry` in `frame`.
    host::Atomic* atomic(host::Vehicle* vehicle, host::Geometry* geometry, host::Frame* frame);

    // Failures on demand.
    CreateOutcome createOutcome = CreateOutcome::Normal;
    int failTriangleVerticesAt = -1;
    int failTriangleMaterialAt = -1;
    bool failCopyExtensions = false;
    bool failUnlock = false;
    bool corruptTableOnUnlock = false;  // the copy's material table capacity becomes 5000
    bool failLock = false;

    // What game::geometrySkin answers for every geometry (non-null: skinned)
    // and what game::atomicFlags answers for every atomic.
    void* skin = nullptr;
    std::uint32_t atomicFlags = 0;

    // Calls made.
    std::vector<CreateCall> createCalls;
    std::vector<LockCall> lockCalls;
    std::vector<void*> unlockCalls;
    std::vector<const void*> framesHandedToHost;  // by frameName and frameLTM, in call order
    std::vector<ExtensionsCall> extensionsCalls;
    unsigned atomicFlagsCalls = 0;
    // An unlock found a triangle whose indices or material were out of range.
    bool unlockSawBadTriangle = false;

    void* create(std::int32_t vertices, std::int32_t triangles, std::uint32_t format);
    void* setTriangleVertices(void* geometry, void* triangle, std::uint16_t a, std::uint16_t b, std::uint16_t c);
    void* setTriangleMaterial(void* geometry, void* triangle, void* material);
    std::int32_t copyExtensions(void* registry, void* destination, const void* source);
    void* lock(void* geometry, std::int32_t mode);
    void* unlock(void* geometry);
    const char* frameName(void* frame) const;
    dent::HostMatrix* frameMatrix(void* frame);
    void destroy(void* geometry);

private:
    struct GeometryStore;
    struct FrameStore;
    GeometryStore* storeOf(const void* geometry) const;
    host::Geometry* keep(std::unique_ptr<GeometryStore> store);

    testhost::FakeHost& host_;
    std::deque<std::unique_ptr<GeometryStore>> geometries_;
    std::deque<std::unique_ptr<FrameStore>> frames_;
    std::deque<std::unique_ptr<Material>> materials_;
    std::vector<host::Geometry*> copies_;
};

}  // namespace testdeform
