// The simulated host's objects: the vehicle pool, vehicles with their clumps,
// frames and atomics, the player, model information, collision models. Objects
// are never freed while the process runs, so a stale pointer held by the
// module still reads the host's memory (as in the real host's pools).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "car_model.h"
#include "host_geometry.h"
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
    float heading = 0.0f;  // radians about the up axis; 0 faces +y
    // Vertex count of the chassis body; 0 for the model's usual body.
    int bodyVertices = 0;
    // The bonnet's and the boot's grids (car_model.h); the usual panels by default.
    PanelDetail panels;
    // When not empty: instead of the model's car, one box atomic per name,
    // each with its own geometry on its own frame below the root.
    std::vector<std::string> boxParts;
    // When set (and no box parts): the vehicle is built from this model
    // instead of the model id's generated car; the model must outlive it.
    const CarModel* model = nullptr;
};

// Takes a free slot (its slot byte moves on, so earlier handles stay dead) and
// builds the vehicle as the host does: a clump cloned from the model, its
// atomics sharing the model's geometries, the frames placed.
Vehicle* spawnVehicle(const VehicleSpec& design = {});
// Frees the vehicle's slot; the object, its clump and atomics stay as they were.
void removeVehicle(Vehicle* vehicle);
// Frees the slot and destroys the clump as the game deletes a vehicle: its
// clump, frames and atomics are no longer live, each atomic's geometry loses
// the atomic's reference. Their memory stays readable (as the host's pools).
void destroyVehicle(Vehicle* vehicle);
// Gives the vehicle a new clump built from the same model; the old one stays alive.
Clump* rebuildClump(Vehicle* vehicle);
std::int32_t vehicleHandle(const Vehicle* vehicle);
Vehicle* vehicleFromHandle(std::int32_t handle);
// The vehicles in occupied slots, in slot order.
std::vector<Vehicle*> poolVehicles();

// ---------------------------------------------------------------- placement

// Places the vehicle (its placement matrix and every frame's world matrix).
void placeVehicle(Vehicle* vehicle, Vec3 position, float heading);
// Every frame's world matrix from its parent's and its own local matrix.
void updateFrames(Clump* clump);
// Model frame to world and back, through the vehicle's placement.
Vec3 worldPoint(const Vehicle* vehicle, Vec3 model);
Vec3 worldDirection(const Vehicle* vehicle, Vec3 model);
Vec3 modelPoint(const Vehicle* vehicle, Vec3 world);

// ---------------------------------------------------------------- collisions

// The vehicle's latest collision as the host records it (world space).
void setCollision(Vehicle* vehicle, float impulse, Vec3 point, Vec3 normal, std::uint16_t piece = 0);
// The same from the vehicle's model frame, with the impulse given as the
// speed change it makes (impulse / mass).
void setContact(Vehicle* vehicle, float impact, Vec3 point, Vec3 normal, std::uint16_t piece = 0);
// No collision: impulse 0.
void clearCollision(Vehicle* vehicle);

// ---------------------------------------------------------------- model information

// The table whose address the word at 0x40CD67 holds (null: the word is 0).
void publishModelInfo(bool present);
// The model's information, made on first use with the model's rear-light position.
VehicleModelInfo* modelInfo(std::int16_t modelId);
std::uint8_t lightStatus(const Vehicle* vehicle, int light);

// ---------------------------------------------------------------- player

void setPlayerVehicle(Vehicle* vehicle);  // null: on foot
Vehicle* currentPlayerVehicle();          // null when on foot or the vehicle is gone
Ped* playerPed();                         // created on first use
void setPlayerPedPresent(bool present);
bool playerPedPresent();

// ---------------------------------------------------------------- scene graph

bool isLiveClump(const Clump* clump);
bool isLiveFrame(const Frame* frame);
bool isLiveAtomic(const Atomic* atomic);
std::vector<Atomic*> clumpAtomics(const Clump* clump);
// The atomic whose own frame has this name, or null.
Atomic* atomicNamed(const Vehicle* vehicle, const std::string& frameName);
// Attaches a geometry to an atomic the way the host does (reference moves).
void attachGeometry(Atomic* atomic, Geometry* geometry);
// The host destroys one atomic of a clump (a part comes off): it leaves the
// clump's list and drops its geometry's reference; its memory stays readable
// and unchanged, the geometry pointer included.
void destroyAtomic(Atomic* atomic);
// Whether an atomic of a clump draws the geometry.
bool anyAtomicDraws(const Geometry* geometry);

// The host draws every vehicle in the pool: a host fault for every atomic
// whose geometry the renderer could not draw (see `drawable`; vertices
// changed since the last unlock are looked for only when `compareVertices`).
void renderVehicles(bool compareVertices = true);

// ---------------------------------------------------------------- collision

// The host's shared collision model of a vehicle model (made on first use).
ColModel* modelCollision(std::int16_t modelId);
// The host now gives every vehicle of the model a new shared model spanning
// minY..maxY lengthwise; the previous one stays alive with its data.
ColModel* replaceModelCollision(std::int16_t modelId, float minY, float maxY);
// Collision data blocks the host has allocated and not freed.
std::size_t liveColDataCount();
ColData* newColData();
bool isLiveColData(const ColData* data);
void freeColData(ColData* data);
// A deep copy of `source`'s arrays into `target`'s own new data block.
void copyColData(ColModel* target, const ColModel* source);

// ---------------------------------------------------------------- engine

// The engine instance the pointer at 0xC97B24 names while it is present.
void publishEngineInstance(bool present);

}  // namespace hostsim
