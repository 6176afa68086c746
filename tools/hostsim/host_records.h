// The simulated host's records. The offsets the module reads are the host's
// fixed layout and are pinned by static_asserts; everything else (named
// `host*` or placed after the fixed fields) is the simulator's own business.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hostsim {

struct Vec3 {
    float x, y, z;
};
static_assert(sizeof(Vec3) == 12, "vector");

// Right, forward, up and position rows, each followed by a spare word.
struct Matrix {
    Vec3 right;
    std::uint32_t rightSpare;
    Vec3 forward;
    std::uint32_t forwardSpare;
    Vec3 up;
    std::uint32_t upSpare;
    Vec3 position;
    std::uint32_t positionSpare;
};
static_assert(sizeof(Matrix) == 64, "matrix");
static_assert(offsetof(Matrix, position) == 0x30, "matrix position");

struct Frame;
struct Clump;
struct Geometry;

// ---------------------------------------------------------------- geometry

// The simulator's material: the module never looks inside one.
struct Material {
    std::uint32_t colour;            // 0xAABBGGRR
    std::int32_t references;         // the tables that hold it, and its maker while it is made
    bool hostFreed;                  // the last reference is gone
};

struct Triangle {
    std::uint16_t vertex[3];
    std::uint16_t material;
};
static_assert(sizeof(Triangle) == 8, "triangle");

struct VertexBlock {
    Geometry* hostGeometry;    // +0x00
    float boundingSphere[4];   // +0x04 centre x, y, z, radius
    Vec3* positions;           // +0x14
    Vec3* normals;             // +0x18 null without normals
};
static_assert(offsetof(VertexBlock, boundingSphere) == 0x04, "vertex block sphere");
static_assert(offsetof(VertexBlock, positions) == 0x14, "vertex block positions");
static_assert(offsetof(VertexBlock, normals) == 0x18, "vertex block normals");

// Format bits of a geometry (flags +0x08, low byte) and of createGeometry.
constexpr std::uint32_t kGeometryTextured = 0x04;
constexpr std::uint32_t kGeometryPrelit = 0x08;
constexpr std::uint32_t kGeometryNormals = 0x10;
constexpr std::uint32_t kGeometryTextured2 = 0x80;
constexpr std::uint32_t kGeometryPositions = 0x02;
constexpr std::uint32_t kGeometryLight = 0x20;
constexpr std::uint32_t kGeometryModulate = 0x40;

// Lock modes: what a lock opens for writing until the unlock.
constexpr std::int32_t kLockTriangles = 0x01;
constexpr std::int32_t kLockPositions = 0x02;
constexpr std::int32_t kLockNormals = 0x04;
constexpr std::int32_t kLockAll = 0xFFF;

struct Geometry {
    std::uint8_t unused00[8];
    std::uint32_t flags;             // +0x08
    std::uint8_t unused0C[2];
    std::int16_t references;         // +0x0E
    std::int32_t triangleCount;      // +0x10
    std::int32_t vertexCount;        // +0x14
    std::int32_t vertexBlockCount;   // +0x18
    std::int32_t texCoordSets;       // +0x1C
    Material** materials;            // +0x20
    std::int32_t materialCount;      // +0x24
    std::int32_t materialCapacity;   // +0x28
    Triangle* triangles;             // +0x2C
    std::uint32_t* colours;          // +0x30 null without vertex colours
    float* texCoords[8];             // +0x34 two floats per vertex per set
    std::uint8_t unused54[8];
    VertexBlock* vertexBlock;        // +0x5C
    // The simulator's own bookkeeping.
    std::int32_t hostLockMode;       // lock modes since the last unlock
    std::uint32_t hostUnlocks;       // render meshes built this many times
    void* hostSkin;                  // what geometrySkin answers
    std::uint32_t hostExtension;     // one registered extension block
    bool hostDestroyed;              // the last reference is gone
    bool hostMadeByModule;           // made through createGeometry
    bool hostRefusedInMaking;        // a triangle call or extension copy on it was refused
    std::int32_t hostDrawnBy;        // atomics that draw it
};
static_assert(offsetof(Geometry, flags) == 0x08, "geometry flags");
static_assert(offsetof(Geometry, references) == 0x0E, "geometry references");
static_assert(offsetof(Geometry, triangleCount) == 0x10, "geometry triangle count");
static_assert(offsetof(Geometry, vertexCount) == 0x14, "geometry vertex count");
static_assert(offsetof(Geometry, vertexBlockCount) == 0x18, "geometry vertex block count");
static_assert(offsetof(Geometry, texCoordSets) == 0x1C, "geometry texture coordinate sets");
static_assert(offsetof(Geometry, materials) == 0x20, "geometry material table");
static_assert(offsetof(Geometry, materialCount) == 0x24, "geometry material count");
static_assert(offsetof(Geometry, materialCapacity) == 0x28, "geometry material capacity");
static_assert(offsetof(Geometry, triangles) == 0x2C, "geometry triangles");
static_assert(offsetof(Geometry, colours) == 0x30, "geometry colours");
static_assert(offsetof(Geometry, texCoords) == 0x34, "geometry texture coordinates");
static_assert(offsetof(Geometry, vertexBlock) == 0x5C, "geometry vertex block");

// ---------------------------------------------------------------- scene graph

struct Frame {
    std::uint8_t unused00[4];
    Frame* parent;                   // +0x04 null at the root
    // The simulator's own.
    char hostName[32];
    Matrix hostLocal;                // placement in the parent (the vehicle's placement at the root)
    Matrix hostWorld;                // what frameLTM answers: the parent's world matrix applied to hostLocal
};
static_assert(offsetof(Frame, parent) == 0x04, "frame parent");

struct Atomic {
    std::uint8_t unused00[3];
    std::uint8_t flags;              // +0x03 bit 0: deformed by the module
    Frame* frame;                    // +0x04
    std::uint8_t unused08[0x10];
    Geometry* geometry;              // +0x18
    float boundingSphere[4];         // +0x1C
    // The simulator's own.
    Clump* hostClump;
    std::uint32_t hostRenderFlags;   // what atomicFlags answers
};
static_assert(offsetof(Atomic, flags) == 0x03, "atomic flags");
static_assert(offsetof(Atomic, frame) == 0x04, "atomic frame");
static_assert(offsetof(Atomic, geometry) == 0x18, "atomic geometry");
static_assert(offsetof(Atomic, boundingSphere) == 0x1C, "atomic bounding sphere");

constexpr int kMaxClumpAtomics = 96;

struct Clump {
    std::uint8_t unused00[4];
    Frame* frame;                    // +0x04 root frame
    // The simulator's own.
    Atomic* hostAtomics[kMaxClumpAtomics];
    std::int32_t hostAtomicCount;
};
static_assert(offsetof(Clump, frame) == 0x04, "clump frame");

// ---------------------------------------------------------------- collision

struct ColSphere {
    Vec3 centre;
    float radius;
    std::uint8_t surface[4];
};
static_assert(sizeof(ColSphere) == 20, "collision sphere");

struct ColBox {
    Vec3 min;
    Vec3 max;
    std::uint8_t surface[4];
};
static_assert(sizeof(ColBox) == 28, "collision box");

struct ColVertex {
    std::int16_t x, y, z;  // 1/128 metre
};
static_assert(sizeof(ColVertex) == 6, "collision vertex");

struct ColTriangle {
    std::uint16_t vertex[3];
    std::uint8_t surface[2];
};
static_assert(sizeof(ColTriangle) == 8, "collision triangle");

// The simulator's line record; the module never looks inside one.
struct ColLine {
    Vec3 start;
    float startSpare;
    Vec3 end;
    float endSpare;
};

struct ColData {
    std::uint16_t sphereCount;       // +0x00
    std::uint16_t boxCount;          // +0x02
    std::uint16_t triangleCount;     // +0x04
    std::uint8_t lineCount;          // +0x06
    std::uint8_t unused07;
    ColSphere* spheres;              // +0x08
    ColBox* boxes;                   // +0x0C
    ColLine* lines;                  // +0x10
    ColVertex* vertices;             // +0x14
    ColTriangle* triangles;          // +0x18
    // The simulator's own: planes derived from the triangles, dropped by removeCachedPlanes.
    void* hostCachedPlanes;
};
static_assert(offsetof(ColData, sphereCount) == 0x00, "collision data spheres");
static_assert(offsetof(ColData, boxCount) == 0x02, "collision data boxes");
static_assert(offsetof(ColData, triangleCount) == 0x04, "collision data triangles");
static_assert(offsetof(ColData, lineCount) == 0x06, "collision data lines");
static_assert(offsetof(ColData, spheres) == 0x08, "collision data sphere array");
static_assert(offsetof(ColData, boxes) == 0x0C, "collision data box array");
static_assert(offsetof(ColData, lines) == 0x10, "collision data line array");
static_assert(offsetof(ColData, vertices) == 0x14, "collision data vertex array");
static_assert(offsetof(ColData, triangles) == 0x18, "collision data triangle array");

struct ColModel {
    Vec3 boxMin;                     // +0x00
    Vec3 boxMax;                     // +0x0C
    Vec3 sphereCentre;
    float sphereRadius;
    std::uint8_t unused28;
    std::uint8_t flags;              // +0x29
    std::uint8_t unused2A[2];
    ColData* data;                   // +0x2C
};
static_assert(offsetof(ColModel, boxMin) == 0x00, "collision model box minimum");
static_assert(offsetof(ColModel, boxMax) == 0x0C, "collision model box maximum");
static_assert(offsetof(ColModel, flags) == 0x29, "collision model flags");
static_assert(offsetof(ColModel, data) == 0x2C, "collision model data");
static_assert(sizeof(ColModel) == 0x30, "collision model");

// ---------------------------------------------------------------- model information

// The part of a vehicle model's structure the module reads: dummy positions
// in the model frame, the rear lights second.
struct VehicleStructure {
    Vec3 headLight;                  // +0x00
    Vec3 rearLight;                  // +0x0C
    Vec3 otherDummies[12];
};
static_assert(offsetof(VehicleStructure, rearLight) == 0x0C, "vehicle structure rear light");

struct VehicleModelInfo {
    std::uint8_t unused00[0x5C];
    VehicleStructure* structure;     // +0x5C
    // The simulator's own.
    VehicleStructure hostStructure;
};
static_assert(offsetof(VehicleModelInfo, structure) == 0x5C, "model info structure");

// Entries of the host's model information table (4 bytes each).
constexpr int kModelInfoEntries = 20000;

// ---------------------------------------------------------------- entities

constexpr std::uint8_t kEntityTypeVehicle = 2;
constexpr std::uint8_t kEntityTypePed = 3;

// The host's light states, reached only through get/setLightStatus.
constexpr int kLightCount = 4;
constexpr int kRearLightRight = 2;
constexpr int kRearLightLeft = 3;
struct DamageState {
    std::uint8_t hostLights[8];
};

struct Vehicle {
    std::uint8_t unused000[0x04];
    Vec3 position;                   // +0x04 used without a matrix
    std::uint8_t unused010[0x04];
    Matrix* matrix;                  // +0x14 placement, or null
    Clump* clump;                    // +0x18
    std::uint8_t unused01C[0x06];
    std::int16_t modelId;            // +0x22
    std::uint8_t unused024[0x12];
    std::uint8_t typeAndState;       // +0x36 bits 0..2 entity type, bits 3..7 vehicle state
    std::uint8_t unused037[0x0B];
    std::uint8_t flags42;            // +0x42 bit 0x10: not to be handled
    std::uint8_t unused043[0x01];
    Vec3 velocity;                   // +0x44
    std::uint8_t unused050[0x3C];
    float mass;                      // +0x8C
    std::uint8_t unused090[0x48];
    float impulse;                   // +0xD8 latest collision
    void* linkedEntity;              // +0xDC
    Vec3 collisionNormal;            // +0xE0
    Vec3 collisionPoint;             // +0xEC
    std::uint16_t piece;             // +0xF8
    std::uint8_t unused0FA[0x391];
    std::uint8_t flags48B;           // +0x48B bit 7: may have a private collision model
    std::uint8_t unused48C[0x34];
    float health;                    // +0x4C0
    std::uint8_t unused4C4[0xD0];
    std::uint32_t word594;           // +0x594 0 for a vehicle that may be handled
    std::uint8_t unused598[0x08];
    DamageState damage;              // +0x5A0
    std::uint8_t unused5A8[0x58];
    // The simulator's own.
    Matrix hostPlacement;            // what `matrix` points to
};
static_assert(offsetof(Vehicle, position) == 0x04, "vehicle position");
static_assert(offsetof(Vehicle, matrix) == 0x14, "vehicle matrix");
static_assert(offsetof(Vehicle, clump) == 0x18, "vehicle clump");
static_assert(offsetof(Vehicle, modelId) == 0x22, "vehicle model id");
static_assert(offsetof(Vehicle, typeAndState) == 0x36, "vehicle type and state");
static_assert(offsetof(Vehicle, flags42) == 0x42, "vehicle flags 0x42");
static_assert(offsetof(Vehicle, velocity) == 0x44, "vehicle velocity");
static_assert(offsetof(Vehicle, mass) == 0x8C, "vehicle mass");
static_assert(offsetof(Vehicle, impulse) == 0xD8, "vehicle impulse");
static_assert(offsetof(Vehicle, linkedEntity) == 0xDC, "vehicle linked entity");
static_assert(offsetof(Vehicle, collisionNormal) == 0xE0, "vehicle collision normal");
static_assert(offsetof(Vehicle, collisionPoint) == 0xEC, "vehicle collision point");
static_assert(offsetof(Vehicle, piece) == 0xF8, "vehicle piece");
static_assert(offsetof(Vehicle, flags48B) == 0x48B, "vehicle flags 0x48B");
static_assert(offsetof(Vehicle, health) == 0x4C0, "vehicle health");
static_assert(offsetof(Vehicle, word594) == 0x594, "vehicle word 0x594");
static_assert(offsetof(Vehicle, damage) == 0x5A0, "vehicle damage state");
static_assert(offsetof(Vehicle, hostPlacement) == 0x600, "vehicle: host fields end at 0x600");

struct Ped {
    std::uint8_t unused00[0x04];
    Vec3 position;                   // +0x04 used without a matrix
    std::uint8_t unused10[0x04];
    Matrix* matrix;                  // +0x14
    Clump* clump;                    // +0x18
    std::uint8_t unused1C[0x06];
    std::int16_t modelId;            // +0x22
    std::uint8_t unused24[0x12];
    std::uint8_t typeAndState;       // +0x36 bits 0..2 entity type
    std::uint8_t unused37[0x09];
    // The simulator's own.
    Matrix hostPlacement;
};
static_assert(offsetof(Ped, position) == 0x04, "ped position");
static_assert(offsetof(Ped, matrix) == 0x14, "ped matrix");
static_assert(offsetof(Ped, clump) == 0x18, "ped clump");
static_assert(offsetof(Ped, modelId) == 0x22, "ped model id");
static_assert(offsetof(Ped, typeAndState) == 0x36, "ped type");

// The pool: objects stored per slot, one slot byte each (bit 7 set: free).
// A handle is slot * 256 + slot byte.
struct VehiclePool {
    Vehicle* objects;                // +0x00
    std::uint8_t* slots;             // +0x04
    std::int32_t slotCount;          // +0x08
};
static_assert(offsetof(VehiclePool, slots) == 0x04, "pool slot bytes");
static_assert(offsetof(VehiclePool, slotCount) == 0x08, "pool slot count");

constexpr std::uint8_t kFreeSlot = 0x80;

}  // namespace hostsim
