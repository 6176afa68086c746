// Generated dent arguments and points for tests that hold a fast dent against
// the plain one: ordinary and episode hits, caps that bite, radii that reach
// nothing or everything, points on the edge of a radius, and now and then a
// non-finite or out-of-range value.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "deform/ordinary_path.h"
#include "support/lcg.h"

namespace testdeform {

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool sameBits(dent::Vec a, dent::Vec b) { return std::memcmp(&a, &b, sizeof a) == 0; }
template <typename T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

inline float fromBits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Infinities, quiet NaNs with payloads, a signalling NaN.
inline float nonFinite(Lcg& rng) {
    const std::uint32_t bits[] = {0x7f800000u, 0xff800000u, 0x7fc12345u, 0xffc00abcu, 0x7f800123u};
    return fromBits(bits[rng.below(5)]);
}

// A float that displaceImpact refuses as depth, radius, cap or power.
inline float refused(Lcg& rng) {
    switch (rng.below(4)) {
    case 0: return 0.0f;
    case 1: return -0.0f;
    case 2: return -rng.between(0.0f, 1.0f);
    default: return nonFinite(rng);
    }
}

inline dent::Vec randomVec(Lcg& rng, float extent) {
    return {rng.between(-extent, extent), rng.between(-extent, extent), rng.between(-extent, extent)};
}

// One hit's arguments; `previous` (depth, radius) continues an episode when set.
inline dent::DentArguments randomDent(Lcg& rng, float previousDepth = 0.0f, float previousRadius = 0.0f) {
    dent::DentArguments a{};
    a.hit = randomVec(rng, 1.0f);
    a.direction = randomVec(rng, 1.0f);
    if (rng.below(10) == 0) a.direction = a.direction * 0.000005f;  // too short to push
    a.depth = rng.between(0.01f, 0.5f);
    switch (rng.below(8)) {
    case 0: a.radius = 8.0f; break;     // every point
    case 1: a.radius = 0.002f; break;   // next to nothing
    default: a.radius = rng.between(0.05f, 1.5f);
    }
    a.previousDepth = previousDepth;
    a.previousRadius = previousRadius;
    if (rng.below(6) == 0) {  // an episode's odd leftovers
        a.previousDepth = rng.between(-0.2f, 0.5f);
        a.previousRadius = rng.between(-0.5f, 1.5f);
    }
    a.cap = rng.below(3) == 0 ? rng.between(0.01f, 0.08f) : rng.between(0.2f, 1.05f);
    const float powers[] = {0.35f, 0.65f, 1.0f, 1.15f, 2.0f, 3.0f};
    a.falloffPower = rng.below(4) == 0 ? rng.between(0.1f, 4.0f) : powers[rng.below(6)];

    if (rng.below(16) == 0) {  // one bad argument
        switch (rng.below(10)) {
        case 0: a.hit.y = nonFinite(rng); break;
        case 1: a.direction.z = nonFinite(rng); break;
        case 2: a.depth = refused(rng); break;
        case 3: a.radius = refused(rng); break;
        case 4: a.cap = refused(rng); break;
        case 5: a.falloffPower = refused(rng); break;
        case 6: a.previousDepth = nonFinite(rng); break;
        case 7: a.previousRadius = nonFinite(rng); break;
        case 8: a.radius = 1e30f; break;  // finite, beyond every bound
        default: a.radius = 1e-25f; break;
        }
    }
    return a;
}

// A rest point: mostly in the unit box, some on the edge of the hit's radius
// or the previous radius (a few units in the last place either way), now and
// then non-finite.
inline dent::Vec randomRest(Lcg& rng, const dent::DentArguments& a) {
    dent::Vec p = randomVec(rng, 1.0f);
    const unsigned kind = rng.below(16);
    if (kind < 3) {
        const float edge = kind == 0 && a.previousRadius > 0.0f ? a.previousRadius : a.radius;
        const dent::Vec unit = dent::normalized(randomVec(rng, 1.0f));
        const float ulps = static_cast<float>(static_cast<int>(rng.below(9)) - 4);
        p = a.hit + unit * (edge * (1.0f + ulps * 0x1p-23f));
    } else if (kind == 3) {
        p = a.hit;
    }
    if (rng.below(64) == 0) p.x = nonFinite(rng);
    return p;
}

// The current position of a point at rest: mostly untouched or a little off,
// sometimes beyond a small cap, sometimes pulled toward the origin (where
// rest + (current - rest) no longer rounds back to current), now and then
// non-finite.
inline dent::Vec randomCurrent(Lcg& rng, dent::Vec rest) {
    dent::Vec p = rest;
    switch (rng.below(5)) {
    case 0: break;
    case 1: p = rest + randomVec(rng, 0.2f); break;
    case 2: p = rest * rng.between(0.0f, 0.3f); break;
    default: p = rest + randomVec(rng, 0.01f);
    }
    if (rng.below(64) == 0) p.z = nonFinite(rng);
    return p;
}

}  // namespace testdeform
