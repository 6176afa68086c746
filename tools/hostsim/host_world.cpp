#include "host_world.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_set>

#include "car_model.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_layout.h"

namespace hostsim {

namespace {

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
    std::map<const Vehicle*, VehicleSpec> vehicleSpecs;

    Vehicle* playerVehicle = nullptr;
    std::unique_ptr<Ped> playerPed;
    bool playerPedPresent = true;

    // The live sets answer the host functions' checks of every pointer they
    // are given, as cheaply as the game's own functions take them.
    std::vector<std::unique_ptr<Frame>> frames;
    std::unordered_set<const Frame*> frameSet;
    std::map<const Clump*, std::vector<Frame*>> clumpFrames;  // parents before children
    std::vector<std::unique_ptr<Atomic>> atomics;
    std::unordered_set<const Atomic*> atomicSet;
    std::vector<std::unique_ptr<Clump>> clumps;
    std::unordered_set<const Clump*> clumpSet;

    std::unique_ptr<VehicleModelInfo*[]> modelInfoTable;
    std::map<std::int16_t, std::unique_ptr<VehicleModelInfo>> modelInfos;

    std::map<std::int16_t, ColModel*> modelCollisions;
    std::vector<std::unique_ptr<ColModel>> sharedCollisions;  // every shared model ever made; never freed
    std::map<const ColData*, std::unique_ptr<ColDataStorage>> colData;

    std::uint8_t engine[0x100] = {};
};

World& world() {
    static World instance;
    return instance;
}

Vec3 scaled(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 plus(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 minus(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 rotate(const Matrix& m, Vec3 v) {
    return plus(plus(scaled(m.right, v.x), scaled(m.forward, v.y)), scaled(m.up, v.z));
}

// A turn about the up axis followed by a move.
Matrix placement(Vec3 position, float turn) {
    Matrix m;
    std::memset(&m, 0, sizeof m);
    const float c = std::cos(turn), s = std::sin(turn);
    m.right = {c, s, 0.0f};
    m.forward = {-s, c, 0.0f};
    m.up = {0.0f, 0.0f, 1.0f};
    m.position = position;
    return m;
}

Matrix compose(const Matrix& parent, const Matrix& local) {
    Matrix m = local;
    m.right = rotate(parent, local.right);
    m.forward = rotate(parent, local.forward);
    m.up = rotate(parent, local.up);
    m.position = plus(rotate(parent, local.position), parent.position);
    return m;
}

int slotOf(const Vehicle* vehicle) {
    World& w = world();
    if (!w.pool || !vehicle) return -1;
    const Vehicle* first = w.poolObjects.get();
    if (vehicle < first || vehicle >= first + w.pool->slotCount) return -1;
    return static_cast<int>(vehicle - first);
}

Frame* newFrame(Clump* clump, const std::string& name, Frame* parent, const Matrix& local) {
    World& w = world();
    auto frame = std::make_unique<Frame>();
    std::memset(static_cast<void*>(frame.get()), 0, sizeof(Frame));
    frame->parent = parent;
    std::snprintf(frame->hostName, sizeof frame->hostName, "%s", name.c_str());
    frame->hostLocal = local;
    Frame* result = frame.get();
    w.frameSet.insert(result);
    w.frames.push_back(std::move(frame));
    w.clumpFrames[clump].push_back(result);
    return result;
}

void newAtomic(Clump* clump, Frame* frame, Geometry* geometry) {
    World& w = world();
    if (clump->hostAtomicCount == kMaxClumpAtomics) return;
    auto atomic = std::make_unique<Atomic>();
    std::memset(static_cast<void*>(atomic.get()), 0, sizeof(Atomic));
    atomic->frame = frame;
    atomic->hostClump = clump;
    // The model keeps the geometry's first reference; the atomic takes its own.
    attachGeometry(atomic.get(), geometry);
    std::memcpy(atomic->boundingSphere, geometry->vertexBlock->boundingSphere, 16);
    // Parts named "..._ok" are drawn in their undamaged state, as the host marks them.
    const std::string name = frame->hostName;
    if (name.size() > 3 && name.compare(name.size() - 3, 3, "_ok") == 0) atomic->hostRenderFlags = 1;
    clump->hostAtomics[clump->hostAtomicCount++] = atomic.get();
    w.atomicSet.insert(atomic.get());
    w.atomics.push_back(std::move(atomic));
}

Clump* newClump() {
    World& w = world();
    auto clump = std::make_unique<Clump>();
    std::memset(static_cast<void*>(clump.get()), 0, sizeof(Clump));
    Clump* result = clump.get();
    w.clumpSet.insert(result);
    w.clumps.push_back(std::move(clump));
    return result;
}

// A clump cloned from the model: its own frames, atomics drawing the model's geometries.
Clump* buildClump(const VehicleSpec& design, const Matrix& where) {
    Clump* clump = newClump();
    if (!design.boxParts.empty()) {
        clump->frame = newFrame(clump, "root", nullptr, where);
        for (const std::string& part : design.boxParts)
            newAtomic(clump, newFrame(clump, part, clump->frame, placement({0.0f, 0.0f, 0.0f}, 0.0f)),
                      newBoxGeometry());
    } else {
        const CarModel& model = design.model ? *design.model : carModel(design.modelId, design.bodyVertices, design.panels);
        std::vector<Frame*> frames;
        for (const ModelFrame& part : model.frames) {
            Frame* parent = part.parent < 0 ? nullptr : frames[part.parent];
            Frame* frame = newFrame(clump, part.name, parent, parent ? placement(part.position, part.turn) : where);
            frames.push_back(frame);
            if (part.geometry) newAtomic(clump, frame, part.geometry);
        }
        clump->frame = frames.front();
    }
    updateFrames(clump);
    return clump;
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

Vehicle* spawnVehicle(const VehicleSpec& design) {
    World& w = world();
    if (!w.pool) return nullptr;
    for (int slot = 0; slot < w.pool->slotCount; ++slot) {
        std::uint8_t& slotByte = w.pool->slots[slot];
        if (!(slotByte & kFreeSlot)) continue;
        slotByte = static_cast<std::uint8_t>(((slotByte & 0x7F) + 1) & 0x7F);
        Vehicle* vehicle = &w.pool->objects[slot];
        std::memset(static_cast<void*>(vehicle), 0, sizeof(Vehicle));
        vehicle->hostPlacement = placement(design.position, design.heading);
        vehicle->position = design.position;
        vehicle->matrix = &vehicle->hostPlacement;
        vehicle->modelId = design.modelId;
        vehicle->typeAndState = kEntityTypeVehicle;
        vehicle->mass = design.mass;
        vehicle->health = design.health;
        vehicle->flags48B = 0x80;
        modelInfo(design.modelId);
        vehicle->clump = buildClump(design, vehicle->hostPlacement);
        w.vehicleSpecs[vehicle] = design;
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

namespace {

void destroyClump(Clump* clump) {
    World& w = world();
    if (!w.clumpSet.erase(clump)) return;
    for (Atomic* atomic : clumpAtomics(clump)) {
        w.atomicSet.erase(atomic);
        // The atomic's memory keeps its geometry pointer, as a freed atomic does.
        if (Geometry* geometry = atomic->geometry) {
            --geometry->hostDrawnBy;
            dropGeometryReference(geometry);
        }
    }
    for (const Frame* frame : w.clumpFrames[clump]) w.frameSet.erase(frame);
    w.clumpFrames.erase(clump);
}

}  // namespace

void destroyVehicle(Vehicle* vehicle) {
    if (vehicleFromHandle(vehicleHandle(vehicle)) != vehicle) return;  // not in the pool
    removeVehicle(vehicle);
    destroyClump(vehicle->clump);
}

Clump* rebuildClump(Vehicle* vehicle) {
    vehicle->clump = buildClump(world().vehicleSpecs[vehicle], vehicle->hostPlacement);
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

std::vector<Vehicle*> poolVehicles() {
    std::vector<Vehicle*> vehicles;
    World& w = world();
    if (!w.pool) return vehicles;
    for (int slot = 0; slot < w.pool->slotCount; ++slot)
        if (!(w.pool->slots[slot] & kFreeSlot)) vehicles.push_back(&w.pool->objects[slot]);
    return vehicles;
}

// ---------------------------------------------------------------- placement

void placeVehicle(Vehicle* vehicle, Vec3 position, float heading) {
    vehicle->hostPlacement = placement(position, heading);
    vehicle->position = position;
    if (vehicle->clump && isLiveClump(vehicle->clump) && vehicle->clump->frame) {
        vehicle->clump->frame->hostLocal = vehicle->hostPlacement;
        updateFrames(vehicle->clump);
    }
}

void updateFrames(Clump* clump) {
    for (Frame* frame : world().clumpFrames[clump])
        frame->hostWorld = frame->parent ? compose(frame->parent->hostWorld, frame->hostLocal) : frame->hostLocal;
}

Vec3 worldPoint(const Vehicle* vehicle, Vec3 model) {
    return plus(rotate(vehicle->hostPlacement, model), vehicle->hostPlacement.position);
}

Vec3 worldDirection(const Vehicle* vehicle, Vec3 model) { return rotate(vehicle->hostPlacement, model); }

Vec3 modelPoint(const Vehicle* vehicle, Vec3 point) {
    const Matrix& m = vehicle->hostPlacement;
    const Vec3 d = minus(point, m.position);
    return {dot(d, m.right), dot(d, m.forward), dot(d, m.up)};
}

// ---------------------------------------------------------------- collisions

void setCollision(Vehicle* vehicle, float impulse, Vec3 point, Vec3 normal, std::uint16_t piece) {
    vehicle->impulse = impulse;
    vehicle->collisionPoint = point;
    vehicle->collisionNormal = normal;
    vehicle->piece = piece;
}

void setContact(Vehicle* vehicle, float impact, Vec3 point, Vec3 normal, std::uint16_t piece) {
    setCollision(vehicle, impact * vehicle->mass, worldPoint(vehicle, point), worldDirection(vehicle, normal), piece);
}

void clearCollision(Vehicle* vehicle) { vehicle->impulse = 0.0f; }

// ---------------------------------------------------------------- model information

void publishModelInfo(bool present) {
    World& w = world();
    if (!w.modelInfoTable) {
        w.modelInfoTable.reset(new VehicleModelInfo*[kModelInfoEntries]);
        std::fill(w.modelInfoTable.get(), w.modelInfoTable.get() + kModelInfoEntries, nullptr);
    }
    const std::uint32_t table =
        present ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(w.modelInfoTable.get())) : 0u;
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(kModelInfoTableWord)), &table, sizeof table);
}

VehicleModelInfo* modelInfo(std::int16_t modelId) {
    World& w = world();
    if (modelId < 0 || modelId >= kModelInfoEntries) return nullptr;
    if (!w.modelInfoTable) publishModelInfo(true);
    std::unique_ptr<VehicleModelInfo>& info = w.modelInfos[modelId];
    if (!info) {
        info = std::make_unique<VehicleModelInfo>();
        std::memset(static_cast<void*>(info.get()), 0, sizeof(VehicleModelInfo));
        info->hostStructure.rearLight = kRearLightPosition;
        info->structure = &info->hostStructure;
        w.modelInfoTable[modelId] = info.get();
    }
    return info.get();
}

std::uint8_t lightStatus(const Vehicle* vehicle, int light) { return vehicle->damage.hostLights[light]; }

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
        w.playerPed->hostPlacement = placement({0.0f, 0.0f, 0.0f}, 0.0f);
        w.playerPed->matrix = &w.playerPed->hostPlacement;
        w.playerPed->typeAndState = kEntityTypePed;
    }
    return w.playerPed.get();
}

void setPlayerPedPresent(bool present) { world().playerPedPresent = present; }
bool playerPedPresent() { return world().playerPedPresent; }

// ---------------------------------------------------------------- scene graph

void attachGeometry(Atomic* atomic, Geometry* geometry) {
    if (geometry == atomic->geometry) return;
    Geometry* previous = atomic->geometry;
    if (geometry) {
        addGeometryReference(geometry);
        ++geometry->hostDrawnBy;
    }
    atomic->geometry = geometry;
    if (previous) {
        --previous->hostDrawnBy;
        dropGeometryReference(previous);
    }
}

void destroyAtomic(Atomic* atomic) {
    World& w = world();
    if (!isLiveAtomic(atomic)) return;
    Clump* clump = atomic->hostClump;
    Atomic** end = clump->hostAtomics + clump->hostAtomicCount;
    Atomic** kept = std::remove(clump->hostAtomics, end, atomic);
    clump->hostAtomicCount = static_cast<std::int32_t>(kept - clump->hostAtomics);
    // Its reference goes; freed memory still shows the pointer, as the game's would.
    if (Geometry* geometry = atomic->geometry) {
        --geometry->hostDrawnBy;
        dropGeometryReference(geometry);
    }
    w.atomicSet.erase(atomic);
}

bool isLiveClump(const Clump* clump) { return world().clumpSet.count(clump) != 0; }
bool isLiveFrame(const Frame* frame) { return world().frameSet.count(frame) != 0; }
bool isLiveAtomic(const Atomic* atomic) { return world().atomicSet.count(atomic) != 0; }

std::vector<Atomic*> clumpAtomics(const Clump* clump) {
    return std::vector<Atomic*>(clump->hostAtomics, clump->hostAtomics + clump->hostAtomicCount);
}

Atomic* atomicNamed(const Vehicle* vehicle, const std::string& frameName) {
    for (Atomic* atomic : clumpAtomics(vehicle->clump))
        if (frameName == atomic->frame->hostName) return atomic;
    return nullptr;
}

// Counted as atomics take and drop it: a destroy checks it without walking
// every atomic the simulation ever made.
bool anyAtomicDraws(const Geometry* geometry) { return geometry->hostDrawnBy > 0; }

void renderVehicles(bool compareVertices) {
    for (const Vehicle* vehicle : poolVehicles()) {
        if (!vehicle->clump || !isLiveClump(vehicle->clump)) continue;
        for (const Atomic* atomic : clumpAtomics(vehicle->clump)) {
            std::string problem;
            if (atomic->geometry && !drawable(atomic->geometry, problem, compareVertices))
                hostFault(std::string("render: atomic ") + atomic->frame->hostName + " draws " + problem);
        }
    }
}

// ---------------------------------------------------------------- collision

namespace {

// A car's collision: four spheres along the length, one box, and a small
// mesh with a quad at the nose and one at the tail (1/128 metre).
ColModel* newCarCollision(float minY, float maxY) {
    World& w = world();
    auto model = std::make_unique<ColModel>();
    std::memset(model.get(), 0, sizeof(ColModel));
    model->boxMin = {-1.0f, minY, -0.8f};
    model->boxMax = {1.0f, maxY, 1.0f};
    model->sphereRadius = 3.0f;
    model->data = newColData();
    ColDataStorage& storage = *w.colData[model->data];
    const float ys[4] = {-1.8f, -0.6f, 0.6f, 1.8f};
    for (float y : ys) storage.spheres.push_back(ColSphere{{0.0f, y, 0.0f}, 0.9f, {0, 0, 0, 0}});
    storage.boxes.push_back(ColBox{{-0.9f, minY + 0.1f, -0.6f}, {0.9f, maxY - 0.1f, 0.8f}, {0, 0, 0, 0}});
    const auto units = [](float metres) { return static_cast<std::int16_t>(std::lround(metres * 128.0f)); };
    const std::int16_t nose = units(maxY - 0.1f), tail = units(minY + 0.1f);
    storage.vertices = {{-100, nose, 0}, {100, nose, 0}, {100, nose, 100}, {-100, nose, 100},
                        {-100, tail, 0}, {100, tail, 0}, {100, tail, 100}, {-100, tail, 100}};
    storage.triangles = {{{0, 1, 2}, {0, 0}}, {{0, 2, 3}, {0, 0}}, {{4, 6, 5}, {0, 0}}, {{4, 7, 6}, {0, 0}}};
    model->data->sphereCount = static_cast<std::uint16_t>(storage.spheres.size());
    model->data->spheres = storage.spheres.data();
    model->data->boxCount = static_cast<std::uint16_t>(storage.boxes.size());
    model->data->boxes = storage.boxes.data();
    model->data->triangleCount = static_cast<std::uint16_t>(storage.triangles.size());
    model->data->triangles = storage.triangles.data();
    model->data->vertices = storage.vertices.data();
    ColModel* made = model.get();
    w.sharedCollisions.push_back(std::move(model));
    return made;
}

}  // namespace

ColModel* modelCollision(std::int16_t modelId) {
    ColModel*& model = world().modelCollisions[modelId];
    if (!model) model = newCarCollision(-2.5f, 2.5f);
    return model;
}

ColModel* replaceModelCollision(std::int16_t modelId, float minY, float maxY) {
    return world().modelCollisions[modelId] = newCarCollision(minY, maxY);
}

std::size_t liveColDataCount() { return world().colData.size(); }

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

void publishEngineInstance(bool present) { fixed<void*>(kEngineInstancePointer) = present ? world().engine : nullptr; }

}  // namespace hostsim
