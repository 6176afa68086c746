#include "host_world.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "host_functions.h"
#include "host_image.h"
#include "host_layout.h"

namespace hostsim {

namespace {

// Everything a geometry's pointers lead to, owned in one place.
struct GeometryStorage {
    Geometry geometry{};
    VertexBlock block{};
    std::vector<Vec3> positions;
    std::vector<Vec3> normals;
    std::vector<std::uint32_t> colours;
    std::vector<float> texCoords[8];
    std::vector<Triangle> triangles;
    std::vector<Material*> materials;
};

struct ColDataStorage {
    ColData data{};
    std::vector<ColSphere> spheres;
    std::vector<ColBox> boxes;
    std::vector<ColLine> lines;
    std::vector<ColVertex> vertices;
    std::vector<ColTriangle> triangles;
};

struct World {
    std::unique_ptr<VehiclePool> pool;
    std::unique_ptr<Vehicle[]> poolObjects;
    std::unique_ptr<std::uint8_t[]> poolSlots;
    std::map<const Vehicle*, std::vector<std::string>> vehicleParts;

    Vehicle* playerVehicle = nullptr;
    std::unique_ptr<Ped> playerPed;
    bool playerPedPresent = true;

    std::map<const Geometry*, std::unique_ptr<GeometryStorage>> geometries;
    std::vector<std::unique_ptr<Material>> materials;
    std::vector<std::unique_ptr<Frame>> frames;
    std::set<const Frame*> frameSet;
    std::vector<std::unique_ptr<Atomic>> atomics;
    std::set<const Atomic*> atomicSet;
    std::vector<std::unique_ptr<Clump>> clumps;
    std::set<const Clump*> clumpSet;

    std::map<std::int16_t, std::unique_ptr<ColModel>> modelCollisions;
    std::map<const ColData*, std::unique_ptr<ColDataStorage>> colData;

    std::uint8_t engine[0x100] = {};
};

World& world() {
    static World instance;
    return instance;
}

void identity(Matrix& m, Vec3 position) {
    std::memset(&m, 0, sizeof m);
    m.right = {1.0f, 0.0f, 0.0f};
    m.forward = {0.0f, 1.0f, 0.0f};
    m.up = {0.0f, 0.0f, 1.0f};
    m.position = position;
}

int slotOf(const Vehicle* vehicle) {
    World& w = world();
    if (!w.pool || !vehicle) return -1;
    const Vehicle* first = w.poolObjects.get();
    if (vehicle < first || vehicle >= first + w.pool->slotCount) return -1;
    return static_cast<int>(vehicle - first);
}

Frame* newFrame(const char* name, Frame* parent, Vec3 position) {
    World& w = world();
    auto frame = std::make_unique<Frame>();
    std::memset(frame.get(), 0, sizeof(Frame));
    frame->parent = parent;
    std::snprintf(frame->hostName, sizeof frame->hostName, "%s", name);
    identity(frame->hostWorld, position);
    Frame* result = frame.get();
    w.frameSet.insert(result);
    w.frames.push_back(std::move(frame));
    return result;
}

Clump* buildClump(const std::vector<std::string>& parts, Vec3 position) {
    World& w = world();
    auto clump = std::make_unique<Clump>();
    std::memset(clump.get(), 0, sizeof(Clump));
    clump->frame = newFrame("root", nullptr, position);
    for (const std::string& part : parts) {
        if (clump->hostAtomicCount == kMaxClumpAtomics) break;
        auto atomic = std::make_unique<Atomic>();
        std::memset(atomic.get(), 0, sizeof(Atomic));
        atomic->frame = newFrame(part.c_str(), clump->frame, position);
        atomic->hostClump = clump.get();
        // The model keeps the geometry's first reference; the atomic takes its own.
        attachGeometry(atomic.get(), newBoxGeometry());
        std::memcpy(atomic->boundingSphere, atomic->geometry->vertexBlock->boundingSphere, 16);
        clump->hostAtomics[clump->hostAtomicCount++] = atomic.get();
        w.atomicSet.insert(atomic.get());
        w.atomics.push_back(std::move(atomic));
    }
    Clump* result = clump.get();
    w.clumpSet.insert(result);
    w.clumps.push_back(std::move(clump));
    return result;
}

GeometryStorage* storageOf(const Geometry* geometry) {
    World& w = world();
    auto found = w.geometries.find(geometry);
    return found == w.geometries.end() ? nullptr : found->second.get();
}

void updateBoundingSphere(Geometry* geometry) {
    GeometryStorage* storage = storageOf(geometry);
    if (!storage || storage->positions.empty()) return;
    Vec3 lo = storage->positions[0], hi = lo;
    for (const Vec3& p : storage->positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    float* sphere = storage->block.boundingSphere;
    sphere[0] = (lo.x + hi.x) * 0.5f;
    sphere[1] = (lo.y + hi.y) * 0.5f;
    sphere[2] = (lo.z + hi.z) * 0.5f;
    const float dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
    sphere[3] = 0.5f * std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

// ---------------------------------------------------------------- pool

VehiclePool& createVehiclePool(int slots) {
    World& w = world();
    if (!w.pool) {
        w.pool = std::make_unique<VehiclePool>();
        w.poolObjects.reset(new Vehicle[slots]);
        std::memset(static_cast<void*>(w.poolObjects.get()), 0, sizeof(Vehicle) * slots);
        w.poolSlots.reset(new std::uint8_t[slots]);
        std::memset(w.poolSlots.get(), kFreeSlot, slots);
        w.pool->objects = w.poolObjects.get();
        w.pool->slots = w.poolSlots.get();
        w.pool->slotCount = slots;
    }
    publishVehiclePool(true);
    return *w.pool;
}

VehiclePool* vehiclePool() { return world().pool.get(); }

void publishVehiclePool(bool published) {
    fixed<VehiclePool*>(kVehiclePoolPointer) = published ? world().pool.get() : nullptr;
}

Vehicle* spawnVehicle(const VehicleSpec& spec) {
    World& w = world();
    if (!w.pool) return nullptr;
    for (int slot = 0; slot < w.pool->slotCount; ++slot) {
        std::uint8_t& slotByte = w.pool->slots[slot];
        if (!(slotByte & kFreeSlot)) continue;
        slotByte = static_cast<std::uint8_t>(((slotByte & 0x7F) + 1) & 0x7F);
        Vehicle* vehicle = &w.pool->objects[slot];
        std::memset(static_cast<void*>(vehicle), 0, sizeof(Vehicle));
        vehicle->position = spec.position;
        identity(vehicle->hostPlacement, spec.position);
        vehicle->matrix = &vehicle->hostPlacement;
        vehicle->modelId = spec.modelId;
        vehicle->typeAndState = kEntityTypeVehicle;
        vehicle->mass = spec.mass;
        vehicle->health = spec.health;
        vehicle->flags48B = 0x80;
        vehicle->clump = buildClump(spec.parts, spec.position);
        w.vehicleParts[vehicle] = spec.parts;
        return vehicle;
    }
    return nullptr;
}

void removeVehicle(Vehicle* vehicle) {
    World& w = world();
    const int slot = slotOf(vehicle);
    if (slot < 0) return;
    w.pool->slots[slot] |= kFreeSlot;
    if (w.playerVehicle == vehicle) w.playerVehicle = nullptr;
}

Clump* rebuildClump(Vehicle* vehicle) {
    vehicle->clump = buildClump(world().vehicleParts[vehicle], vehicle->position);
    return vehicle->clump;
}

std::int32_t vehicleHandle(const Vehicle* vehicle) {
    const int slot = slotOf(vehicle);
    if (slot < 0) return -1;
    return slot * 256 + world().pool->slots[slot];
}

Vehicle* vehicleFromHandle(std::int32_t handle) {
    World& w = world();
    if (!w.pool) return nullptr;
    const std::uint32_t slot = static_cast<std::uint32_t>(handle) >> 8;
    if (slot >= static_cast<std::uint32_t>(w.pool->slotCount)) return nullptr;
    const std::uint8_t slotByte = w.pool->slots[slot];
    if ((slotByte & kFreeSlot) || slotByte != (handle & 0xFF)) return nullptr;
    return &w.pool->objects[slot];
}

// ---------------------------------------------------------------- player

void setPlayerVehicle(Vehicle* vehicle) { world().playerVehicle = vehicle; }

Vehicle* currentPlayerVehicle() {
    Vehicle* vehicle = world().playerVehicle;
    if (!vehicle || vehicleFromHandle(vehicleHandle(vehicle)) != vehicle) return nullptr;
    return vehicle;
}

Ped* playerPed() {
    World& w = world();
    if (!w.playerPed) {
        w.playerPed = std::make_unique<Ped>();
        std::memset(static_cast<void*>(w.playerPed.get()), 0, sizeof(Ped));
        identity(w.playerPed->hostPlacement, {0.0f, 0.0f, 0.0f});
        w.playerPed->matrix = &w.playerPed->hostPlacement;
        w.playerPed->typeAndState = kEntityTypePed;
    }
    return w.playerPed.get();
}

void setPlayerPedPresent(bool present) { world().playerPedPresent = present; }
bool playerPedPresent() { return world().playerPedPresent; }

// ---------------------------------------------------------------- geometry

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
    g.hostLockMode = 0xFFF;  // a new geometry is open for writing until unlocked
    Geometry* result = &g;
    world().geometries[result] = std::move(storage);
    return result;
}

Material* newMaterial() {
    auto material = std::make_unique<Material>();
    material->colour = 0xFF808080u;
    material->references = 1;
    Material* result = material.get();
    world().materials.push_back(std::move(material));
    return result;
}

Geometry* newBoxGeometry(int materials) {
    static const Vec3 corners[8] = {{-0.8f, -2.0f, -0.5f}, {0.8f, -2.0f, -0.5f}, {0.8f, 2.0f, -0.5f},
                                    {-0.8f, 2.0f, -0.5f},  {-0.8f, -2.0f, 0.5f}, {0.8f, -2.0f, 0.5f},
                                    {0.8f, 2.0f, 0.5f},    {-0.8f, 2.0f, 0.5f}};
    static const std::uint16_t faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                               {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    Geometry* g = newGeometry(8, 12, kGeometryPositions | kGeometryNormals | kGeometryTextured | (1u << 16));
    GeometryStorage* storage = storageOf(g);
    for (int i = 0; i < 8; ++i) {
        storage->positions[i] = corners[i];
        const float length = std::sqrt(corners[i].x * corners[i].x + corners[i].y * corners[i].y +
                                       corners[i].z * corners[i].z);
        storage->normals[i] = {corners[i].x / length, corners[i].y / length, corners[i].z / length};
        storage->texCoords[0][2 * i] = (i & 1) ? 1.0f : 0.0f;
        storage->texCoords[0][2 * i + 1] = (i & 2) ? 1.0f : 0.0f;
    }
    const int materialCount = std::max(1, materials);
    std::vector<Material*> own;
    for (int m = 0; m < materialCount; ++m) own.push_back(newMaterial());
    for (int t = 0; t < 12; ++t) {
        Triangle& triangle = storage->triangles[t];
        std::memcpy(triangle.vertex, faces[t], sizeof triangle.vertex);
        triangle.material = static_cast<std::uint16_t>(useMaterial(g, own[t % materialCount]));
    }
    for (Material* material : own) --material->references;  // the table holds them now
    updateBoundingSphere(g);
    g->hostLockMode = 0;
    g->hostUnlocks = 1;
    return g;
}

void addGeometryReference(Geometry* geometry) { ++geometry->references; }

void dropGeometryReference(Geometry* geometry) {
    if (--geometry->references > 0) return;
    geometry->hostDestroyed = true;
    for (std::int32_t i = 0; i < geometry->materialCount; ++i)
        if (geometry->materials[i]) --geometry->materials[i]->references;
}

int useMaterial(Geometry* geometry, Material* material) {
    GeometryStorage* storage = storageOf(geometry);
    for (std::int32_t i = 0; i < geometry->materialCount; ++i)
        if (geometry->materials[i] == material) return i;
    storage->materials.push_back(material);
    ++material->references;
    geometry->materials = storage->materials.data();
    geometry->materialCount = static_cast<std::int32_t>(storage->materials.size());
    geometry->materialCapacity = static_cast<std::int32_t>(storage->materials.capacity());
    return geometry->materialCount - 1;
}

void attachGeometry(Atomic* atomic, Geometry* geometry) {
    if (geometry == atomic->geometry) return;
    if (geometry) addGeometryReference(geometry);
    if (atomic->geometry) dropGeometryReference(atomic->geometry);
    atomic->geometry = geometry;
}

bool isLiveClump(const Clump* clump) { return world().clumpSet.count(clump) != 0; }
bool isLiveFrame(const Frame* frame) { return world().frameSet.count(frame) != 0; }
bool isLiveAtomic(const Atomic* atomic) { return world().atomicSet.count(atomic) != 0; }

std::vector<Atomic*> clumpAtomics(const Clump* clump) {
    return std::vector<Atomic*>(clump->hostAtomics, clump->hostAtomics + clump->hostAtomicCount);
}

// ---------------------------------------------------------------- collision

ColModel* modelCollision(std::int16_t modelId) {
    World& w = world();
    std::unique_ptr<ColModel>& model = w.modelCollisions[modelId];
    if (!model) {
        model = std::make_unique<ColModel>();
        std::memset(model.get(), 0, sizeof(ColModel));
        model->boxMin = {-1.0f, -2.5f, -0.8f};
        model->boxMax = {1.0f, 2.5f, 1.0f};
        model->sphereRadius = 3.0f;
        model->data = newColData();
        ColDataStorage& storage = *w.colData[model->data];
        const float ys[4] = {-1.8f, -0.6f, 0.6f, 1.8f};
        for (float y : ys) storage.spheres.push_back(ColSphere{{0.0f, y, 0.0f}, 0.9f, {0, 0, 0, 0}});
        storage.boxes.push_back(ColBox{{-0.9f, -2.4f, -0.6f}, {0.9f, 2.4f, 0.8f}, {0, 0, 0, 0}});
        model->data->sphereCount = static_cast<std::uint16_t>(storage.spheres.size());
        model->data->spheres = storage.spheres.data();
        model->data->boxCount = static_cast<std::uint16_t>(storage.boxes.size());
        model->data->boxes = storage.boxes.data();
    }
    return model.get();
}

ColData* newColData() {
    auto storage = std::make_unique<ColDataStorage>();
    ColData* data = &storage->data;
    world().colData[data] = std::move(storage);
    return data;
}

bool isLiveColData(const ColData* data) { return world().colData.count(data) != 0; }

void freeColData(ColData* data) {
    World& w = world();
    auto found = w.colData.find(data);
    if (found == w.colData.end()) return;
    const ColDataStorage& storage = *found->second;
    if (data->spheres && data->spheres != storage.spheres.data())
        hostFault("collision data freed with a sphere array the host did not allocate");
    w.colData.erase(found);
}

void copyColData(ColModel* target, const ColModel* source) {
    std::memcpy(target, source, offsetof(ColModel, data));
    if (target->data && isLiveColData(target->data)) freeColData(target->data);
    target->data = nullptr;
    const ColData* from = source->data;
    if (!from) return;
    ColData* data = newColData();
    ColDataStorage& storage = *world().colData[data];
    storage.spheres.assign(from->spheres, from->spheres + from->sphereCount);
    storage.boxes.assign(from->boxes, from->boxes + from->boxCount);
    storage.lines.assign(from->lines, from->lines + from->lineCount);
    storage.triangles.assign(from->triangles, from->triangles + from->triangleCount);
    std::size_t vertexCount = 0;
    for (const ColTriangle& t : storage.triangles)
        for (std::uint16_t index : t.vertex) vertexCount = std::max<std::size_t>(vertexCount, index + 1u);
    storage.vertices.assign(from->vertices, from->vertices + vertexCount);
    data->sphereCount = from->sphereCount;
    data->boxCount = from->boxCount;
    data->triangleCount = from->triangleCount;
    data->lineCount = from->lineCount;
    data->spheres = storage.spheres.empty() ? nullptr : storage.spheres.data();
    data->boxes = storage.boxes.empty() ? nullptr : storage.boxes.data();
    data->lines = storage.lines.empty() ? nullptr : storage.lines.data();
    data->vertices = storage.vertices.empty() ? nullptr : storage.vertices.data();
    data->triangles = storage.triangles.empty() ? nullptr : storage.triangles.data();
    target->data = data;
}

// ---------------------------------------------------------------- engine

void publishEngineInstance(bool present) {
    fixed<void*>(kEngineInstancePointer) = present ? world().engine : nullptr;
}

}  // namespace hostsim
