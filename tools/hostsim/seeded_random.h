// The seeded generator of the simulated host's random drives: the same seed
// gives the same sequence in every build, so a drive can be replayed against
// another build of the module.
#pragma once

#include <algorithm>
#include <cstdint>

namespace hostsim {

class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}

    // In [0, 1), 24 bits.
    float unit() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>(state_ >> 40) / 16777216.0f;
    }
    // In [0, n).
    int below(int n) { return std::min(n - 1, static_cast<int>(unit() * static_cast<float>(n))); }
    // In [lo, hi] for whole numbers.
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    float between(float lo, float hi) { return lo + (hi - lo) * unit(); }
    // True once in `n` on average.
    bool oneIn(int n) { return below(n) == 0; }

private:
    std::uint64_t state_;
};

}  // namespace hostsim
