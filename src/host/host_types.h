// Mirrors of the host records the module reads, with exactly the host's offsets.
// Only the fields the module relies on are named; the rest is padding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/vec.h"

namespace host {

// Model ids of the vehicles the module handles.
constexpr bool isHandledVehicleModel(std::int16_t modelId) { return modelId >= 400 && modelId <= 611; }

struct VehiclePool {
    std::uint8_t unused0[4];
    std::uint8_t* slots;  // +0x04 one byte per slot; bit 7 set: free
    std::int32_t count;   // +0x08
};
static_assert(offsetof(VehiclePool, slots) == 0x04, "pool slots");
static_assert(offsetof(VehiclePool, count) == 0x08, "pool count");

struct Vehicle {
    std::uint8_t unused0[0x04];
    dent::Vec position;        // +0x04 position of an entity without a matrix
    std::uint8_t unused10[0x04];
    dent::HostMatrix* matrix;  // +0x14 placement matrix, or null
    void* clump;               // +0x18
    std::uint8_t unused1C[0x06];
    std::int16_t modelId;      // +0x22
    std::uint8_t unused24[0x12];
    std::uint8_t state;        // +0x36 bits 3..7: vehicle state
    std::uint8_t unused37[0x0B];
    std::uint8_t flags42;      // +0x42 bit 0x10: not handled
    std::uint8_t unused43[0x01];
    dent::Vec velocity;        // +0x44
    std::uint8_t unused50[0x3C];
    float mass;                // +0x8C
    std::uint8_t unused90[0x48];
    float impulse;             // +0xD8
    void* linkedEntity;        // +0xDC entity tied to the player's vehicle
    dent::Vec collisionNormal; // +0xE0
    dent::Vec collisionPoint;  // +0xEC
    std::uint16_t piece;       // +0xF8
    std::uint8_t unusedFA[0x3C6];
    float health;              // +0x4C0
    std::uint8_t unused4C4[0xD0];
    std::uint32_t word594;     // +0x594 must be 0 for the vehicle to be handled
    std::uint8_t unused598[0x08];
    std::uint8_t damageState[1];  // +0x5A0 the vehicle's damage state (light statuses)
};
static_assert(offsetof(Vehicle, position) == 0x04, "vehicle position");
static_assert(offsetof(Vehicle, matrix) == 0x14, "vehicle matrix");
static_assert(offsetof(Vehicle, clump) == 0x18, "vehicle clump");
static_assert(offsetof(Vehicle, modelId) == 0x22, "vehicle model id");
static_assert(offsetof(Vehicle, state) == 0x36, "vehicle state");
static_assert(offsetof(Vehicle, flags42) == 0x42, "vehicle flags");
static_assert(offsetof(Vehicle, velocity) == 0x44, "vehicle velocity");
static_assert(offsetof(Vehicle, mass) == 0x8C, "vehicle mass");
static_assert(offsetof(Vehicle, impulse) == 0xD8, "vehicle impulse");
static_assert(offsetof(Vehicle, linkedEntity) == 0xDC, "vehicle linked entity");
static_assert(offsetof(Vehicle, collisionNormal) == 0xE0, "vehicle collision normal");
static_assert(offsetof(Vehicle, collisionPoint) == 0xEC, "vehicle collision point");
static_assert(offsetof(Vehicle, piece) == 0xF8, "vehicle piece");
static_assert(offsetof(Vehicle, health) == 0x4C0, "vehicle health");
static_assert(offsetof(Vehicle, word594) == 0x594, "vehicle word 0x594");
static_assert(offsetof(Vehicle, damageState) == 0x5A0, "vehicle damage state");

struct Clump {
    std::uint8_t unused0[4];
    void* frame;  // +0x04
};
static_assert(offsetof(Clump, frame) == 0x04, "clump frame");

struct Frame {
    std::uint8_t unused0[4];
    Frame* parent;  // +0x04 null at the root
};
static_assert(offsetof(Frame, parent) == 0x04, "frame parent");
// The whole frame record (RenderWare's frame: world matrix at +0x50, hierarchy
// root at +0xA0), which the host's frame functions read.
constexpr std::uint32_t kFrameRecordSize = 0xA4;

struct VertexBlock {
    std::uint8_t unused0[4];
    float boundingSphere[4];  // +0x04 centre x, y, z, radius
    dent::Vec* positions;     // +0x14
    dent::Vec* normals;       // +0x18 may be null
};
static_assert(offsetof(VertexBlock, boundingSphere) == 0x04, "vertex block sphere");
static_assert(offsetof(VertexBlock, positions) == 0x14, "vertex block positions");
static_assert(offsetof(VertexBlock, normals) == 0x18, "vertex block normals");

struct Triangle {
    std::uint16_t vertex[3];
    std::uint16_t material;
};
static_assert(sizeof(Triangle) == 8, "triangle");

struct Geometry {
    std::uint8_t unused0[8];
    std::uint32_t flags;           // +0x08
    std::uint8_t unused0C[2];
    std::int16_t references;       // +0x0E
    std::int32_t triangleCount;    // +0x10
    std::int32_t vertexCount;      // +0x14
    std::int32_t vertexBlockCount; // +0x18
    std::int32_t texCoordSets;     // +0x1C
    void** materials;              // +0x20
    std::int32_t materialCount;    // +0x24
    std::int32_t materialCapacity; // +0x28
    Triangle* triangles;           // +0x2C
    std::uint32_t* colors;         // +0x30 may be null
    float* texCoords[8];           // +0x34 two floats per vertex per set
    std::uint8_t unused54[8];
    VertexBlock* vertexBlock;      // +0x5C
};
static_assert(offsetof(Geometry, flags) == 0x08, "geometry flags");
static_assert(offsetof(Geometry, references) == 0x0E, "geometry references");
static_assert(offsetof(Geometry, triangleCount) == 0x10, "geometry triangles");
static_assert(offsetof(Geometry, vertexCount) == 0x14, "geometry vertices");
static_assert(offsetof(Geometry, vertexBlockCount) == 0x18, "geometry vertex blocks");
static_assert(offsetof(Geometry, texCoordSets) == 0x1C, "geometry texture sets");
static_assert(offsetof(Geometry, materials) == 0x20, "geometry materials");
static_assert(offsetof(Geometry, materialCount) == 0x24, "geometry material count");
static_assert(offsetof(Geometry, materialCapacity) == 0x28, "geometry material capacity");
static_assert(offsetof(Geometry, triangles) == 0x2C, "geometry triangle array");
static_assert(offsetof(Geometry, colors) == 0x30, "geometry colours");
static_assert(offsetof(Geometry, texCoords) == 0x34, "geometry texture coordinates");
static_assert(offsetof(Geometry, vertexBlock) == 0x5C, "geometry vertex block");
static_assert(sizeof(Geometry) == 0x60, "geometry: 96 bytes are validated");

struct Atomic {
    std::uint8_t unused0[3];
    std::uint8_t flags;         // +0x03 bit 0: deformed
    Frame* frame;               // +0x04
    std::uint8_t unused08[0x10];
    Geometry* geometry;         // +0x18
    float boundingSphere[4];    // +0x1C
};
static_assert(offsetof(Atomic, flags) == 0x03, "atomic flags");
static_assert(offsetof(Atomic, frame) == 0x04, "atomic frame");
static_assert(offsetof(Atomic, geometry) == 0x18, "atomic geometry");
static_assert(offsetof(Atomic, boundingSphere) == 0x1C, "atomic bounding sphere");

// Model information of a vehicle model (entry of the host's model table, whose
// address the word at kModelInfoTableWord holds).
struct VehicleModelLayout {
    std::uint8_t unused0[0x0C];
    dent::Vec rearLight;  // +0x0C rear-light position, model frame; the lights sit at +|x| and -|x|
};
static_assert(offsetof(VehicleModelLayout, rearLight) == 0x0C, "model layout rear light");

struct VehicleModelInfo {
    std::uint8_t unused0[0x5C];
    VehicleModelLayout* layout;  // +0x5C
};
static_assert(offsetof(VehicleModelInfo, layout) == 0x5C, "model info layout");

}  // namespace host
