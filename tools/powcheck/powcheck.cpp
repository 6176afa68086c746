// Checks dent::floatPow and dent::floatPow4 against the C runtime's (float)pow((double)x, (double)y)
// bit for bit, with the x87 as the process starts and at 24-bit precision, and
// times both. Not part of the test suite: the exhaustive run takes minutes.
//
//   powcheck [exhaustive] [random COUNT] [bench]      (no argument: all three, COUNT 100000000)
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cpu_clock.h"
#include "foundation/fpu.h"
#include "foundation/power.h"

namespace {

constexpr std::size_t kBlock = 4096;

using bench::threadSeconds;
using dent::power_detail::floatBits;
using dent::power_detail::floatFromBits;

// The plain form every power in the module had: the runtime's pow as the x87 stands.
float plainPow(float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

struct Counts {
    std::uint64_t inputs = 0;
    std::uint64_t fallbacks = 0;         // inputs tryFastPow left to the reference
    std::uint64_t mismatches = 0;        // floatPow != plain pow, x87 as at start
    std::uint64_t mismatches24 = 0;      // floatPow at 24-bit x87 precision != plain pow
    std::uint64_t mismatches4 = 0;       // a floatPow4 lane (x87 at 24 bits) != plain pow
    std::uint64_t referenceDiffers = 0;  // referencePow (64-bit x87) != plain pow
    std::uint64_t controlWordChanged = 0;
    double seconds = 0.0;
    void add(const Counts& o) {
        inputs += o.inputs;
        fallbacks += o.fallbacks;
        mismatches += o.mismatches;
        mismatches24 += o.mismatches24;
        mismatches4 += o.mismatches4;
        referenceDiffers += o.referenceDiffers;
        controlWordChanged += o.controlWordChanged;
        seconds += o.seconds;
    }
};

unsigned reportedMismatches = 0;

void reportMismatch(const char* what, float x, float y, float got, float want) {
    if (++reportedMismatches > 20) return;
    std::printf("  MISMATCH %s: pow(%a, %a) = %a (0x%08" PRIx32 "), plain %a (0x%08" PRIx32 ")\n", what,
                static_cast<double>(x), static_cast<double>(y), static_cast<double>(got), floatBits(got),
                static_cast<double>(want), floatBits(want));
}

// Checks n pairs; the plain results are computed first with the x87 untouched.
void checkBlock(const float* xs, const float* ys, std::size_t n, Counts& counts) {
    alignas(16) float plain[kBlock], fast[kBlock], fast24[kBlock], reference[kBlock], lanes[kBlock + 3];
    const std::uint16_t start = dent::x87ControlWord();
    for (std::size_t i = 0; i < n; ++i) plain[i] = plainPow(xs[i], ys[i]);
    for (std::size_t i = 0; i < n; ++i) {
        float r;
        if (!dent::tryFastPow(xs[i], ys[i], r)) {
            ++counts.fallbacks;
            r = dent::referencePow(xs[i], ys[i]);
        }
        fast[i] = r;
    }
    const std::uint16_t single = dent::x87WithPrecision(start, dent::kX87Precision24);
    dent::setX87ControlWord(single);
    for (std::size_t i = 0; i < n; ++i) fast24[i] = dent::floatPow(xs[i], ys[i]);
    for (std::size_t i = 0; i < n; i += 4) {
        alignas(16) float x[4], y[4];
        for (std::size_t lane = 0; lane < 4; ++lane) {
            x[lane] = xs[std::min(i + lane, n - 1)];
            y[lane] = ys[std::min(i + lane, n - 1)];
        }
        _mm_store_ps(lanes + i, dent::floatPow4(_mm_load_ps(x), _mm_load_ps(y)));
    }
    if (dent::x87ControlWord() != single) ++counts.controlWordChanged;
    dent::setX87ControlWord(start);
    for (std::size_t i = 0; i < n; ++i) {
        if (floatBits(fast[i]) != floatBits(plain[i])) {
            ++counts.mismatches;
            reportMismatch("x87 as at start", xs[i], ys[i], fast[i], plain[i]);
        }
        if (floatBits(lanes[i]) != floatBits(plain[i])) {
            ++counts.mismatches4;
            reportMismatch("floatPow4", xs[i], ys[i], lanes[i], plain[i]);
        }
        if (floatBits(fast24[i]) != floatBits(plain[i])) {
            ++counts.mismatches24;
            reportMismatch("x87 at 24 bits", xs[i], ys[i], fast24[i], plain[i]);
        }
    }
    // The reference itself, on the fallbacks' share of the inputs only costs time: every 16th block.
    if ((counts.inputs / kBlock) % 16 == 0) {
        for (std::size_t i = 0; i < n; ++i) reference[i] = dent::referencePow(xs[i], ys[i]);
        for (std::size_t i = 0; i < n; ++i) {
            if (floatBits(reference[i]) != floatBits(plain[i])) {
                ++counts.referenceDiffers;
                reportMismatch("reference", xs[i], ys[i], reference[i], plain[i]);
            }
        }
    }
    counts.inputs += n;
}

void print(const char* label, const Counts& c) {
    std::printf("%-34s inputs %12" PRIu64 "  mismatches %" PRIu64 " (x87 at 24 bits: %" PRIu64
                ", floatPow4: %" PRIu64 ")  reference differs %" PRIu64 "  fallbacks %" PRIu64
                "  control word changed %" PRIu64 "  %.1f s\n",
                label, c.inputs, c.mismatches, c.mismatches24, c.mismatches4, c.referenceDiffers, c.fallbacks,
                c.controlWordChanged, c.seconds);
    std::fflush(stdout);
}

Counts exhaustive() {
    const float exponents[] = {0.35f, 0.65f, 1.15f, 2.0f, 3.0f};
    const std::uint32_t last = floatBits(1.0f);
    Counts total;
    std::vector<float> xs(kBlock), ys(kBlock);
    for (float y : exponents) {
        Counts counts;
        const double started = threadSeconds();
        std::fill(ys.begin(), ys.end(), y);
        for (std::uint64_t bits = 0; bits <= last;) {
            std::size_t n = 0;
            for (; n < kBlock && bits <= last; ++n, ++bits) xs[n] = floatFromBits(static_cast<std::uint32_t>(bits));
            checkBlock(xs.data(), ys.data(), n, counts);
        }
        counts.seconds = threadSeconds() - started;
        char label[64];
        std::snprintf(label, sizeof label, "every base in [0, 1], y = %g", static_cast<double>(y));
        print(label, counts);
        total.add(counts);
    }
    print("every base in [0, 1], total", total);
    return total;
}

struct SplitMix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    float between(float lo, float hi) {
        return static_cast<float>(static_cast<double>(lo) + static_cast<double>(hi - lo) * unit());
    }
};

// Inputs as the module makes them: falloff weights (smoothstep bases, FalloffPower
// 0.35 ... 2), the impact response (bases in [0, 1], ImpactExponent 0.5 ... 2),
// the spline cubes (f and 1 - f, exponents 2 and 3), and a share of arbitrary bit
// patterns for the unusual inputs (NaN, infinities, negatives, denormals, zero).
void randomInput(SplitMix& rng, float& x, float& y) {
    const unsigned kind = static_cast<unsigned>(rng.next() % 16);
    if (kind < 5) {  // base uniform in value
        x = static_cast<float>(rng.unit());
        y = rng.between(0.35f, 2.0f);
    } else if (kind < 9) {  // every float in [0, 1] equally likely
        x = floatFromBits(static_cast<std::uint32_t>(rng.next() % (floatBits(1.0f) + 1ull)));
        y = rng.between(0.35f, 2.0f);
    } else if (kind < 13) {  // a falloff weight's base
        const float t = static_cast<float>(rng.unit());
        x = t * t * (3.0f - 2.0f * t);
        y = rng.between(0.35f, 2.0f);
    } else if (kind < 15) {  // spline cubes
        const float p = static_cast<float>(rng.unit()) * 8.0f;
        const float f = p - static_cast<float>(static_cast<unsigned>(p));
        x = rng.next() % 2 ? f : 1.0f - f;
        y = rng.next() % 2 ? 2.0f : 3.0f;
    } else {  // anything
        x = floatFromBits(static_cast<std::uint32_t>(rng.next()));
        const std::uint64_t pick = rng.next() % 8;
        const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, 3.0f, 0.5f};
        y = pick < 7 && rng.next() % 2 ? special[pick] : floatFromBits(static_cast<std::uint32_t>(rng.next()));
    }
}

Counts randomRun(std::uint64_t count) {
    SplitMix rng{0x5eed0f0e11ull};
    Counts counts;
    std::vector<float> xs(kBlock), ys(kBlock);
    const double started = threadSeconds();
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, count - done));
        for (std::size_t i = 0; i < n; ++i) randomInput(rng, xs[i], ys[i]);
        checkBlock(xs.data(), ys.data(), n, counts);
        done += n;
    }
    counts.seconds = threadSeconds() - started;
    print("random inputs", counts);
    return counts;
}

volatile std::uint32_t benchSink;

// ns per call, median of 11 repeats over the same inputs; each repeat runs for
// at least 0.2 s of thread time (Wine's thread clock ticks in 10 ms steps).
template <typename Power>
double nsPerCall(const std::vector<float>& xs, const std::vector<float>& ys, Power power) {
    std::vector<double> samples;
    std::uint32_t sink = 0;
    for (int repeat = 0; repeat < 11; ++repeat) {
        const double started = threadSeconds();
        double elapsed = 0.0;
        std::uint64_t calls = 0;
        do {
            for (std::size_t i = 0; i < xs.size(); ++i) sink += floatBits(power(xs[i], ys[i]));
            calls += xs.size();
            elapsed = threadSeconds() - started;
        } while (elapsed < 0.2);
        samples.push_back(elapsed * 1e9 / static_cast<double>(calls));
    }
    benchSink = benchSink + sink;
    return bench::median(samples);
}

// The same for floatPow4, per lane.
double nsPerLane(const std::vector<float>& xs, const std::vector<float>& ys) {
    std::vector<double> samples;
    __m128i sink = _mm_setzero_si128();
    for (int repeat = 0; repeat < 11; ++repeat) {
        const double started = threadSeconds();
        double elapsed = 0.0;
        std::uint64_t lanes = 0;
        do {
            for (std::size_t i = 0; i + 4 <= xs.size(); i += 4)
                sink = _mm_add_epi32(sink, _mm_castps_si128(dent::floatPow4(_mm_loadu_ps(&xs[i]), _mm_loadu_ps(&ys[i]))));
            lanes += xs.size() / 4 * 4;
            elapsed = threadSeconds() - started;
        } while (elapsed < 0.2);
        samples.push_back(elapsed * 1e9 / static_cast<double>(lanes));
    }
    benchSink = benchSink + static_cast<std::uint32_t>(_mm_cvtsi128_si32(sink));
    return bench::median(samples);
}

void timePowers() {
    SplitMix rng{0xbe4c4ull};
    const std::size_t n = 1 << 14;
    std::vector<float> xs(n), ys(n), cubes(n), three(n, 3.0f);
    for (std::size_t i = 0; i < n; ++i) {
        const float t = static_cast<float>(rng.unit());
        xs[i] = t * t * (3.0f - 2.0f * t);
        ys[i] = 0.65f;
        cubes[i] = static_cast<float>(rng.unit());
    }
    const auto fast = [](float x, float y) { return dent::floatPow(x, y); };
    const auto reference = [](float x, float y) { return dent::referencePow(x, y); };
    const auto plain = [](float x, float y) { return plainPow(x, y); };
    const auto fallbackShare = [](const std::vector<float>& bases, const std::vector<float>& exponents) {
        std::size_t left = 0;
        for (std::size_t i = 0; i < bases.size(); ++i) {
            float unused;
            left += dent::tryFastPow(bases[i], exponents[i], unused) ? 0 : 1;
        }
        return 100.0 * static_cast<double>(left) / static_cast<double>(bases.size());
    };
    std::printf("fallbacks: falloff weights %.3f %%, spline cubes %.3f %%\n", fallbackShare(xs, ys),
                fallbackShare(cubes, three));
    std::printf("ns per call (thread CPU time, median of 11):\n");
    std::printf("  falloff weight, power 0.65: floatPow %.2f  referencePow %.2f  plain pow %.2f\n",
                nsPerCall(xs, ys, fast), nsPerCall(xs, ys, reference), nsPerCall(xs, ys, plain));
    std::printf("  spline cube, power 3:       floatPow %.2f  referencePow %.2f  plain pow %.2f\n",
                nsPerCall(cubes, three, fast), nsPerCall(cubes, three, reference), nsPerCall(cubes, three, plain));
    std::printf("  falloff weight, power 0.65, floatPow4: %.2f per lane\n", nsPerLane(xs, ys));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool runExhaustive = argc == 1, runRandom = argc == 1, runBench = argc == 1;
    std::uint64_t count = 100000000ull;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "exhaustive")) runExhaustive = true;
        else if (!std::strcmp(argv[i], "bench")) runBench = true;
        else if (!std::strcmp(argv[i], "random")) {
            runRandom = true;
            if (i + 1 < argc) count = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: powcheck [exhaustive] [random COUNT] [bench]\n");
            return 2;
        }
    }
    std::printf("x87 control word at start: 0x%04x\n", dent::x87ControlWord());
    Counts all;
    if (runExhaustive) all.add(exhaustive());
    if (runRandom) all.add(randomRun(count));
    if (runBench) timePowers();
    if (runExhaustive || runRandom) print("all checked", all);
    return all.mismatches || all.mismatches24 || all.mismatches4 || all.referenceDiffers || all.controlWordChanged
               ? 1
               : 0;
}
