// A vehicle's private collision model: a deep copy of the host's shared model
// that is compressed lengthwise at the front and rear, with the untouched rest
// copies every compression is recomputed from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "collision/compression.h"
#include "collision/crush_map.h"
#include "collision/sphere_fit.h"
#include "foundation/vec.h"
#include "host/bindings.h"

namespace collision {

// A collision mesh triangle: three vertex indices and two bytes of surface.
struct Triangle {
    std::uint16_t vertex[3];
    std::uint8_t surface[2];
};
static_assert(sizeof(Triangle) == 8, "host triangle record is 8 bytes");
static_assert(offsetof(Triangle, surface) == 6, "host triangle surface after the three indices");

// The host's collision data block.
struct Data {
    std::uint16_t sphereCount;   // +0x00
    std::uint16_t boxCount;      // +0x02
    std::uint16_t triangleCount; // +0x04
    std::uint8_t lineCount;      // +0x06
    std::uint8_t unused07;
    dent::ColSphere* spheres;    // +0x08
    Box* boxes;                  // +0x0C
    void* lines;                 // +0x10
    Vertex* vertices;            // +0x14
    Triangle* triangles;         // +0x18
};

// The host's collision model (0x30 bytes); the bytes not named are the host's
// and only its own functions copy them.
struct Model {
    dent::Vec boxMin;            // +0x00
    dent::Vec boxMax;            // +0x0C
    std::uint8_t unused18[0x11];
    std::uint8_t flags;          // +0x29 bit 0 set on a private model
    std::uint8_t unused2A[2];
    Data* data;                  // +0x2C
};

// The host is a 32-bit process: its layout holds only where pointers are 4 bytes.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(Data, sphereCount) == 0x00, "data sphere count");
static_assert(offsetof(Data, boxCount) == 0x02, "data box count");
static_assert(offsetof(Data, triangleCount) == 0x04, "data triangle count");
static_assert(offsetof(Data, lineCount) == 0x06, "data line count");
static_assert(offsetof(Data, spheres) == 0x08, "data sphere array");
static_assert(offsetof(Data, boxes) == 0x0C, "data box array");
static_assert(offsetof(Data, lines) == 0x10, "data line array");
static_assert(offsetof(Data, vertices) == 0x14, "data vertex array");
static_assert(offsetof(Data, triangles) == 0x18, "data triangle array");
static_assert(offsetof(Model, boxMin) == 0x00, "model box minimum");
static_assert(offsetof(Model, boxMax) == 0x0C, "model box maximum");
static_assert(offsetof(Model, flags) == 0x29, "model flags");
static_assert(offsetof(Model, data) == 0x2C, "model data");
static_assert(sizeof(Model) == 0x30, "host model is 0x30 bytes");
#endif

// Most spheres, boxes, triangles, lines and vertices a model may have to get a private copy.
constexpr std::uint16_t kMaxSpheres = 32;
constexpr std::uint16_t kMaxBoxes = 32;
constexpr std::uint16_t kMaxTriangles = 500;
constexpr std::uint8_t kMaxLines = 16;
constexpr std::uint32_t kMaxVertices = 8192;

// Owned by the vehicle's record. The model comes first so that a pointer to
// the state is a pointer to a host model: that pointer is what the host gets.
struct KERBMARK_EXPORT State {
    Model model;
    const Model* source = nullptr;            // the host's shared model this copy was made from
    dent::ColSphere* savedSpheres = nullptr;  // the copy's sphere array as the host allocated it
    std::uint16_t savedSphereCount = 0;
    std::vector<dent::ColSphere> restSpheres;
    std::vector<dent::ColSphere> spheres;     // in use once compressed; the model's data points into it
    std::vector<Box> restBoxes;
    std::vector<Vertex> restVertices;
    dent::Crush crush{0.0f, 0.0f};
    std::uint32_t lastEpisode = 0;
    float lastEpisodeDepth = 0.0f;

    // A zero-filled model; the host constructs it in place before init.
    State();
    // Gives the host its own sphere array back and lets the host destroy the model.
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // Checks `sourceModel` and makes the private deep copy and the rest copies.
    // False leaves the state unusable (destroy it); the source is never changed.
    bool init(const Model* sourceModel);

    // Applies one contact (model frame); true when the model changed.
    bool update(std::uint32_t episode, float depth, dent::Vec point, dent::Vec direction, float strength,
                float maxCompression, bool refine);
};
static_assert(std::is_standard_layout<State>::value, "the model is reached through a pointer to the state");
static_assert(offsetof(State, model) == 0, "the model is the state's first member");

}  // namespace collision
