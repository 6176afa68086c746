// One lengthwise compression step of a private collision model: which side a
// contact crushes and by how much, and where the crush map puts the model's
// boxes and mesh vertices. Pure; the collision state applies it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "collision/crush_map.h"
#include "foundation/vec.h"

namespace collision {

// The host's collision box (28 bytes).
struct Box {
    dent::Vec min;
    dent::Vec max;
    std::uint8_t surface[4];
};
static_assert(sizeof(Box) == 28, "host box record is 28 bytes");
static_assert(offsetof(Box, min) == 0, "host box minimum at +0");
static_assert(offsetof(Box, max) == 12, "host box maximum at +12");
static_assert(offsetof(Box, surface) == 24, "host box surface at +24");

// The host's collision mesh vertex: metres times 128 (6 bytes).
struct Vertex {
    std::int16_t x;
    std::int16_t y;
    std::int16_t z;
};
static_assert(sizeof(Vertex) == 6, "host vertex record is 6 bytes");
static_assert(offsetof(Vertex, x) == 0 && offsetof(Vertex, y) == 2 && offsetof(Vertex, z) == 4,
              "host vertex x, y, z at +0, +2, +4");

// One contact as the collision state sees it, in the vehicle's model frame.
struct CompressionContact {
    std::uint32_t episode;
    float depth;           // the episode's largest depth so far
    dent::Vec point;
    dent::Vec direction;   // unit push direction, into the vehicle
    float strength;        // StrengthPercent as a fraction
    float maxCompression;  // MaxCompressionCm in metres
};

// The episode bookkeeping that keeps one lasting contact from compressing twice.
struct EpisodeMark {
    std::uint32_t episode;
    float depth;
};

// Adds what `contact` brings beyond its episode's earlier depth to the front
// (contact ahead of 35 % of maxY pushing rearwards) or the rear crush, capped
// at 0.3 of that side's extent and at maxCompression. The episode mark is
// updated first, whatever happens next. True when the crush grew by more than
// 0.00001; a crush never shrinks.
bool accumulateCrush(dent::Crush& crush, EpisodeMark& mark, const CompressionContact& contact, float minY,
                     float maxY);

// The rest box with its two y faces moved by the crush map.
Box crushedBox(const Box& rest, const dent::Crush& crush, float minY, float maxY);

// The rest vertex with its y moved by the crush map, rounded to the nearest
// 1/128 (halves away from zero) and kept within the int16 range.
Vertex crushedVertex(const Vertex& rest, const dent::Crush& crush, float minY, float maxY);

}  // namespace collision
