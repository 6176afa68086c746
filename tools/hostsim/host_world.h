// The simulated host's objects: the vehicle pool, vehicles with their clumps,
// frames, atomics and geometries, the player, collision models. Objects are
// never freed while the process runs, so a stale pointer held by the module
// still reads the host's memory (as in the real host's pools).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_records.h"

namespace hostsim {

// ---------------------------------------------------------------- pool

// Creates the pool (once) with `slots` slots and publishes it at the pool address.
VehiclePool& createVehiclePool(int slots);
VehiclePool* vehiclePool();
// Writes the pool pointer (or null) at the pool address.
void publishVehiclePool(bool published);

struct VehicleSpec {
    std::int16_t modelId = 400;
    float health = 1000.0f;
    float mass = 1500.0f;
    Vec3 position{0.0f, 0.0f, 0.0f};
    // One atomic per part, each on its own frame of that name.
    std::vector<std::string> parts{"chassis_dummy", "bonnet_dummy", "boot_dummy"};
};

// Takes a free slot (its slot byte moves on, so earlier handles stay dead).
Vehicle* spawnVehicle(const VehicleSpec& spec = {});
// Frees the vehicle's slot; the object memory stays as it was.
void removeVehicle(Vehicle* vehicle);
// Gives the vehicle a new clump built from the same parts; the old one stays alive.
Clump* rebuildClump(Vehicle* vehicle);
std::int32_t vehicleHandle(const Vehicle* vehicle);
Vehicle* vehicleFromHandle(std::int32_t handle);

// ---------------------------------------------------------------- player

void setPlayerVehicle(Vehicle* vehicle);   // null: on foot
Vehicle* currentPlayerVehicle();           // null when on foot or the vehicle is gone
Ped* playerPed();                          // created on first use
void setPlayerPedPresent(bool present);
bool playerPedPresent();

// ---------------------------------------------------------------- geometry

bool isLiveGeometry(const Geometry* geometry);
// A host geometry as createGeometry makes it: one reference, empty material table.
Geometry* newGeometry(std::int32_t vertices, std::int32_t triangles, std::uint32_t format);
// A closed box mesh (8 vertices, 12 triangles) with `materials` materials,
// normals and one texture coordinate set: what the host's models are made of.
Geometry* newBoxGeometry(int materials = 1);
Material* newMaterial();
// Adds one reference; drops one, destroying the geometry at zero.
void addGeometryReference(Geometry* geometry);
void dropGeometryReference(Geometry* geometry);
// Appends `material` to the geometry's table unless present; returns its index.
int useMaterial(Geometry* geometry, Material* material);
// Attaches a geometry to an atomic the way the host does (reference moves).
void attachGeometry(Atomic* atomic, Geometry* geometry);

bool isLiveClump(const Clump* clump);
bool isLiveFrame(const Frame* frame);
bool isLiveAtomic(const Atomic* atomic);
std::vector<Atomic*> clumpAtomics(const Clump* clump);

// ---------------------------------------------------------------- collision

// The host's shared collision model of a vehicle model (made on first use).
ColModel* modelCollision(std::int16_t modelId);
ColData* newColData();
bool isLiveColData(const ColData* data);
void freeColData(ColData* data);
// A deep copy of `source`'s arrays into `target`'s own new data block.
void copyColData(ColModel* target, const ColModel* source);

// ---------------------------------------------------------------- engine

// The engine instance the pointer at 0xC97B24 names while it is present.
void publishEngineInstance(bool present);

}  // namespace hostsim
