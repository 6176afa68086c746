// Small fixed-seed generator for generated test cases: the same sequence on
// every platform and standard library.
#pragma once

#include <cstdint>

struct Lcg {
    std::uint64_t state;
    float unit() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>(state >> 40) / 16777216.0f;
    }
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }
    unsigned below(unsigned n) { return static_cast<unsigned>(unit() * static_cast<float>(n)) % n; }
};
