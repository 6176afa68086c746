// Plain 3-vector and host matrix shared by every geometry routine.
//
// All arithmetic is IEEE single precision, evaluated in the order written;
// powers are the C runtime's double pow rounded back to float (floatPow, power.h).
#pragma once

#include <cmath>
#include <cstdint>

#include "foundation/power.h"

// The module lists its mathematics in its export table; elsewhere this is nothing.
#if defined(_WIN32)
#define DENT_API __declspec(dllexport)
#else
#define DENT_API
#endif

namespace dent {

struct Vec {
    float x, y, z;
};

inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec operator-(Vec a) { return {-a.x, -a.y, -a.z}; }
inline Vec operator*(Vec a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec operator/(Vec a, float s) { return {a.x / s, a.y / s, a.z / s}; }

inline float dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float lengthSquared(Vec a) { return a.x * a.x + a.y * a.y + a.z * a.z; }
inline float length(Vec a) { return std::sqrt(lengthSquared(a)); }
inline bool isFinite(Vec a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// A vector longer than 0.00001 divided by its length; anything shorter becomes zero.
inline Vec normalized(Vec a) {
    float len = length(a);
    if (len > 0.00001f) return a / len;
    return {0.0f, 0.0f, 0.0f};
}

// lo when x < lo, else min(hi, x); a NaN therefore comes out as hi.
inline float clampTo(float x, float lo, float hi) {
    if (x < lo) return lo;
    return x < hi ? x : hi;
}

// Smoothstep falloff t = 1 - d/r, weight (t^2 (3 - 2t))^power; 0 at and beyond r.
DENT_API float falloffWeight(float distance, float radius, float power);

// The host's 4x4 matrix: right, forward, up and position rows, each with a spare word.
struct HostMatrix {
    Vec right;
    std::uint32_t rightSpare;
    Vec forward;
    std::uint32_t forwardSpare;
    Vec up;
    std::uint32_t upSpare;
    Vec position;
    std::uint32_t positionSpare;
};
static_assert(sizeof(HostMatrix) == 64, "host matrix is 16 words");

// Finite axes and position, unit-length axes (|len^2 - 1| < 0.02), pairwise
// perpendicular axes (|dot| < 0.02).
DENT_API bool isOrthonormal(const HostMatrix& m);

// Components of v along the matrix axes (into the matrix's frame, no translation).
inline Vec toAxes(const HostMatrix& m, Vec v) {
    return {dot(v, m.right), dot(v, m.forward), dot(v, m.up)};
}

// A local direction carried out of the matrix's frame (no translation).
inline Vec fromAxes(const HostMatrix& m, Vec v) {
    return m.right * v.x + m.forward * v.y + m.up * v.z;
}

}  // namespace dent
