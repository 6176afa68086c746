#include "deform/support/geometry_host.h"

#include <cmath>

#include "host/bindings.h"

namespace testdeform {

struct GeometryHost::GeometryStore {
    host::Geometry geometry{};
    host::VertexBlock block{};
    std::vector<dent::Vec> positions;
    std::vector<dent::Vec> normals;
    std::vector<std::uint32_t> colours;
    std::vector<float> texCoords[8];
    std::vector<host::Triangle> triangles;
    std::vector<void*> table;
    bool copy = false;
    bool released = false;

    void syncTable() {
        geometry.materials = testhost::arrayOrNull(table);
        geometry.materialCount = static_cast<std::int32_t>(table.size());
        geometry.materialCapacity = static_cast<std::int32_t>(table.capacity());
    }

    // The geometry record and its vertex block as the host fills them in,
    // pointing at this store's arrays.
    void fillRecord(std::uint32_t flags, std::int32_t vertices, std::int32_t triangleCount, std::int32_t texCoordSets) {
        block.positions = testhost::arrayOrNull(positions);
        block.normals = testhost::arrayOrNull(normals);
        geometry.flags = flags;
        geometry.references = 1;
        geometry.triangleCount = triangleCount;
        geometry.vertexCount = vertices;
        geometry.vertexBlockCount = 1;
        geometry.texCoordSets = texCoordSets;
        syncTable();
        geometry.triangles = testhost::arrayOrNull(triangles);
        geometry.colors = testhost::arrayOrNull(colours);
        for (int set = 0; set < 8; ++set) geometry.texCoords[set] = testhost::arrayOrNull(texCoords[set]);
        geometry.vertexBlock = &block;
    }
};

struct GeometryHost::FrameStore {
    host::Frame frame{};
    std::uint8_t restOfRecord[host::kFrameRecordSize - sizeof(host::Frame)]{};  // the host's record is larger
    std::string name;
    bool named = false;
    dent::HostMatrix matrix{};
    bool hasMatrix = true;
};

namespace {

std::map<const void*, void*>& geometryIndex() {
    static std::map<const void*, void*> index;
    return index;
}
std::map<const void*, void*>& frameIndex() {
    static std::map<const void*, void*> index;
    return index;
}

void* createDouble(std::int32_t vertices, std::int32_t triangles, std::uint32_t format) {
    return GeometryHost::current->create(vertices, triangles, format);
}
void* triangleVerticesDouble(void* geometry, void* triangle, std::uint16_t a, std::uint16_t b, std::uint16_t c) {
    return GeometryHost::current->setTriangleVertices(geometry, triangle, a, b, c);
}
void* triangleMaterialDouble(void* geometry, void* triangle, void* material) {
    return GeometryHost::current->setTriangleMaterial(geometry, triangle, material);
}
std::int32_t copyExtensionsDouble(void* registry, void* destination, const void* source) {
    return GeometryHost::current->copyExtensions(registry, destination, source);
}
void* lockDouble(void* geometry, std::int32_t mode) { return GeometryHost::current->lock(geometry, mode); }
void* unlockDouble(void* geometry) { return GeometryHost::current->unlock(geometry); }
const char* frameNameDouble(void* frame) {
    GeometryHost::current->framesHandedToHost.push_back(frame);
    return GeometryHost::current->frameName(frame);
}
dent::HostMatrix* frameLTMDouble(void* frame) {
    GeometryHost::current->framesHandedToHost.push_back(frame);
    return GeometryHost::current->frameMatrix(frame);
}
void* skinDouble(void*) { return GeometryHost::current->skin; }
std::uint32_t atomicFlagsDouble(void*) {
    ++GeometryHost::current->atomicFlagsCalls;
    return GeometryHost::current->atomicFlags;
}
std::int32_t destroyDouble(void* geometry) {
    GeometryHost::current->destroy(geometry);
    return 1;
}

}  // namespace

dent::HostMatrix identityMatrix(dent::Vec position) {
    dent::HostMatrix m{};
    m.right = {1, 0, 0};
    m.forward = {0, 1, 0};
    m.up = {0, 0, 1};
    m.position = position;
    return m;
}

GeometryHost::GeometryHost(testhost::FakeHost& host) : host_(host) {
    geometryIndex().clear();
    frameIndex().clear();
    bindings_.set(game::createGeometry, createDouble);
    bindings_.set(game::triangleVertices, triangleVerticesDouble);
    bindings_.set(game::triangleMaterial, triangleMaterialDouble);
    bindings_.set(game::copyExtensions, copyExtensionsDouble);
    bindings_.set(game::lock, lockDouble);
    bindings_.set(game::unlock, unlockDouble);
    bindings_.set(game::frameName, frameNameDouble);
    bindings_.set(game::frameLTM, frameLTMDouble);
    bindings_.set(game::destroyGeometry, destroyDouble);
    bindings_.set(game::geometrySkin, skinDouble);
    bindings_.set(game::atomicFlags, atomicFlagsDouble);
}

GeometryHost::~GeometryHost() {
    geometryIndex().clear();
    frameIndex().clear();
}

GeometryHost::GeometryStore* GeometryHost::storeOf(const void* geometry) const {
    const auto found = geometryIndex().find(geometry);
    return found == geometryIndex().end() ? nullptr : static_cast<GeometryStore*>(found->second);
}

bool GeometryHost::isCopy(const void* geometry) const {
    const GeometryStore* store = storeOf(geometry);
    return store && store->copy;
}

host::Geometry* GeometryHost::source(const SourceShape& shape) {
    auto store = std::make_unique<GeometryStore>();
    const std::int32_t vertices = shape.vertices;
    const auto count = static_cast<std::size_t>(vertices > 0 ? vertices : 0);
    store->positions = shape.positions;
    if (store->positions.empty()) {
        for (std::size_t i = 0; i < count; ++i) store->positions.push_back({0.1f * static_cast<float>(i), 0, 0});
    }
    store->positions.resize(count);
    if (shape.normals) store->normals.assign(count, {0, 0, 1});
    if (shape.colours) {
        for (std::size_t i = 0; i < count; ++i) store->colours.push_back(0xFF00FF00u + static_cast<std::uint32_t>(i));
    }
    for (std::int32_t set = 0; set < shape.texCoordSets && set < 8; ++set) {
        for (std::size_t i = 0; i < 2 * count; ++i) {
            store->texCoords[set].push_back(static_cast<float>(set) + 0.5f * static_cast<float>(i));
        }
    }
    for (std::int32_t i = 0; i < shape.materials; ++i) {
        materials_.push_back(std::make_unique<Material>());
        store->table.push_back(materials_.back().get());
    }
    for (std::int32_t t = 0; t < shape.triangles; ++t) {
        host::Triangle triangle{};
        for (int corner = 0; corner < 3; ++corner) {
            triangle.vertex[corner] = static_cast<std::uint16_t>(vertices > 0 ? (t + corner) % vertices : 0);
        }
        triangle.material = static_cast<std::uint16_t>(shape.materials > 0 ? t % shape.materials : 0);
        store->triangles.push_back(triangle);
    }

    float radius = 0.0f;
    for (const dent::Vec& p : store->positions) radius = std::fmax(radius, dent::length(p));
    store->block.boundingSphere[3] = radius;
    store->fillRecord(shape.flags, vertices, shape.triangles, shape.texCoordSets);
    return keep(std::move(store));
}

host::Geometry* GeometryHost::keep(std::unique_ptr<GeometryStore> store) {
    host::Geometry* geometry = &store->geometry;
    geometryIndex()[geometry] = store.get();
    geometries_.push_back(std::move(store));
    return geometry;
}

std::vector<dent::Vec>& GeometryHost::positionsOf(host::Geometry* geometry) { return storeOf(geometry)->positions; }

Material* GeometryHost::material(host::Geometry* geometry, std::int32_t index) {
    return static_cast<Material*>(storeOf(geometry)->table.at(static_cast<std::size_t>(index)));
}

host::Frame* GeometryHost::frame(const char* name, host::Frame* parent) {
    auto store = std::make_unique<FrameStore>();
    store->frame.parent = parent;
    store->named = name != nullptr;
    if (name) store->name = name;
    store->matrix = identityMatrix();
    host::Frame* frame = &store->frame;
    frameIndex()[frame] = store.get();
    frames_.push_back(std::move(store));
    return frame;
}

void GeometryHost::setMatrix(host::Frame* frame, const dent::HostMatrix& matrix) {
    auto* store = static_cast<FrameStore*>(frameIndex().at(frame));
    store->matrix = matrix;
    store->hasMatrix = true;
}

void GeometryHost::removeMatrix(host::Frame* frame) {
    static_cast<FrameStore*>(frameIndex().at(frame))->hasMatrix = false;
}

host::Atomic* GeometryHost::atomic(host::Vehicle* vehicle, host::Geometry* geometry, host::Frame* frame) {
    host::Atomic* atomic = host_.atomic(vehicle, geometry);
    if (atomic) atomic->frame = frame;
    return atomic;
}

void* GeometryHost::create(std::int32_t vertices, std::int32_t triangles, std::uint32_t format) {
    createCalls.push_back({vertices, triangles, format});
    if (createOutcome == CreateOutcome::Null) return nullptr;
    auto store = std::make_unique<GeometryStore>();
    store->copy = true;
    const auto count = static_cast<std::size_t>(vertices);
    const std::int32_t sets = static_cast<std::int32_t>((format >> 16) & 0xFF);

    store->positions.assign(count, {0, 0, 0});
    if ((format & 0x10) && createOutcome != CreateOutcome::NoNormals) store->normals.assign(count, {0, 0, 0});
    if ((format & 0x08) && createOutcome != CreateOutcome::NoColours) store->colours.assign(count, 0);
    if (createOutcome != CreateOutcome::NoTexCoords) {
        for (std::int32_t set = 0; set < sets && set < 8; ++set) store->texCoords[set].assign(2 * count, 0.0f);
    }
    if (createOutcome != CreateOutcome::NoTriangles) store->triangles.assign(static_cast<std::size_t>(triangles), {});

    store->fillRecord(format & 0xFF, vertices, triangles, sets);
    if (createOutcome == CreateOutcome::NoPositions) store->block.positions = nullptr;
    if (createOutcome == CreateOutcome::NoVertexBlock) store->geometry.vertexBlock = nullptr;
    copies_.push_back(keep(std::move(store)));
    return copies_.back();
}

void* GeometryHost::setTriangleVertices(void* geometry, void* triangle, std::uint16_t a, std::uint16_t b,
                                        std::uint16_t c) {
    GeometryStore* store = storeOf(geometry);
    auto* t = static_cast<host::Triangle*>(triangle);
    if (t - store->geometry.triangles == failTriangleVerticesAt) return nullptr;
    t->vertex[0] = a;
    t->vertex[1] = b;
    t->vertex[2] = c;
    return geometry;
}

void* GeometryHost::setTriangleMaterial(void* geometry, void* triangle, void* material) {
    GeometryStore* store = storeOf(geometry);
    auto* t = static_cast<host::Triangle*>(triangle);
    if (t - store->geometry.triangles == failTriangleMaterialAt) return nullptr;
    std::size_t index = 0;
    while (index < store->table.size() && store->table[index] != material) ++index;
    if (index == store->table.size()) {
        // The geometry's material list takes its own reference.
        store->table.push_back(material);
        store->syncTable();
        ++static_cast<Material*>(material)->references;
    }
    t->material = static_cast<std::uint16_t>(index);
    return geometry;
}

std::int32_t GeometryHost::copyExtensions(void* registry, void* destination, const void* source) {
    extensionsCalls.push_back({registry, destination, source});
    return failCopyExtensions ? 0 : 1;
}

void* GeometryHost::lock(void* geometry, std::int32_t mode) {
    lockCalls.push_back({geometry, mode});
    return failLock ? nullptr : geometry;
}

void* GeometryHost::unlock(void* geometry) {
    unlockCalls.push_back(geometry);
    if (failUnlock) return nullptr;
    GeometryStore* store = storeOf(geometry);
    if (store && store->copy) {
        const host::Geometry& g = store->geometry;
        for (const host::Triangle& t : store->triangles) {
            bool inRange = t.material < g.materialCount;
            for (std::uint16_t corner : t.vertex) inRange = inRange && corner < g.vertexCount;
            if (!inRange) {
                unlockSawBadTriangle = true;
                return nullptr;
            }
        }
        if (corruptTableOnUnlock) store->geometry.materialCapacity = 5000;
    }
    return geometry;
}

const char* GeometryHost::frameName(void* frame) const {
    const auto found = frameIndex().find(frame);
    if (found == frameIndex().end()) return nullptr;
    const auto* store = static_cast<const FrameStore*>(found->second);
    return store->named ? store->name.c_str() : nullptr;
}

dent::HostMatrix* GeometryHost::frameMatrix(void* frame) {
    const auto found = frameIndex().find(frame);
    if (found == frameIndex().end()) return nullptr;
    auto* store = static_cast<FrameStore*>(found->second);
    return store->hasMatrix ? &store->matrix : nullptr;
}

void GeometryHost::destroy(void* geometry) {
    host_.destroyGeometry(geometry);
    GeometryStore* store = storeOf(geometry);
    if (!store || !store->copy || store->released || store->geometry.references > 0) return;
    // The last reference is gone: the host frees the copy and its material list.
    store->released = true;
    for (void* material : store->table) --static_cast<Material*>(material)->references;
}

}  // namespace testdeform
