// The four-wide ordinary path against its plain reference: identical bits on
// generated meshes, hits and episodes, bad input included.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "deform/dent_lanes.h"
#include "deform/ordinary_path.h"
#include "deform/support/dent_cases.h"

namespace {

using dent::Vec;
using testdeform::sameBits;

struct Coverage {
    unsigned hits = 0, refusedHits = 0, reached = 0, missed = 0;
    unsigned moved = 0, kept = 0, capped = 0;
};

// Every vertex of both runs, bit for bit; tallies what the hit did.
void expectSameMesh(const std::vector<Vec>& fast, const std::vector<Vec>& reference, const std::vector<Vec>& before,
                    const std::vector<Vec>& rest, float cap, Coverage& seen) {
    for (std::size_t i = 0; i < fast.size(); ++i) {
        ASSERT_TRUE(sameBits(fast[i], reference[i]))
            << "vertex " << i << " of " << fast.size() << ": " << fast[i].x << ' ' << fast[i].y << ' ' << fast[i].z
            << " vs " << reference[i].x << ' ' << reference[i].y << ' ' << reference[i].z;
        if (sameBits(reference[i], before[i])) {
            ++seen.kept;
        } else {
            ++seen.moved;
            if (dent::length(reference[i] - rest[i]) >= cap * 0.999f) ++seen.capped;
        }
    }
}

TEST(OrdinaryPathFast, MatchesTheReferenceOverGeneratedMeshesHitsAndEpisodes) {
    Lcg rng{0x4d5a9011};
    Coverage seen;
    const float radii[] = {0.5f, 0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    for (int mesh = 0; mesh < 600; ++mesh) {
        // Mostly short meshes, so every remainder of four comes up often; some long ones.
        const std::size_t count = rng.below(5) == 0 ? 100 + rng.below(400) : rng.below(23);
        dent::DentArguments first = testdeform::randomDent(rng);
        std::vector<Vec> rest(count), positions(count);
        for (std::size_t i = 0; i < count; ++i) {
            rest[i] = testdeform::randomRest(rng, first);
            positions[i] = testdeform::randomCurrent(rng, rest[i]);
        }
        float lastDepth = 0.0f, lastRadius = 0.0f;
        for (int hit = 0; hit < 6; ++hit) {
            // Half the hits continue the episode of the one before, near the same point.
            const bool sameEpisode = hit > 0 && rng.below(2) == 0;
            dent::DentArguments a = hit == 0 ? first
                                             : testdeform::randomDent(rng, sameEpisode ? lastDepth : 0.0f,
                                                                      sameEpisode ? lastRadius : 0.0f);
            if (sameEpisode && rng.below(2) == 0) a.hit = first.hit;
            ++seen.hits;
            dent::PreparedDent prepared;
            const bool refused = !dent::prepareDent(a, prepared);

            std::vector<Vec> fast = positions, reference = positions;
            dent::dentMesh(rest.data(), fast.data(), count, a);
            dent::dentMeshReference(rest.data(), reference.data(), count, a);
            ASSERT_NO_FATAL_FAILURE(expectSameMesh(fast, reference, positions, rest, a.cap, seen))
                << "mesh " << mesh << " hit " << hit;
            if (refused) {  // bad arguments: both leave every vertex as it was
                ++seen.refusedHits;
                for (std::size_t i = 0; i < count; ++i) ASSERT_TRUE(sameBits(fast[i], positions[i])) << i;
            }

            const bool reaches = dent::reachesAny(rest.data(), count, a.hit, a.radius);
            EXPECT_EQ(reaches, dent::reachesAnyReference(rest.data(), count, a.hit, a.radius)) << mesh << ' ' << hit;
            ++(reaches ? seen.reached : seen.missed);

            const Vec centre = testdeform::randomVec(rng, 0.5f);
            const float radius = rng.below(3) == 0 ? radii[rng.below(6)] : rng.between(0.0f, 2.5f);
            EXPECT_TRUE(sameBits(dent::grownBoundingRadius(centre, radius, reference.data(), count),
                                 dent::grownBoundingRadiusReference(centre, radius, reference.data(), count)))
                << mesh << ' ' << hit;

            positions = reference;
            lastDepth = a.depth;
            lastRadius = a.radius;
        }
    }
    // The generator reached every kind of case.
    EXPECT_GT(seen.refusedHits, 100u);
    EXPECT_GT(seen.moved, 10000u);
    EXPECT_GT(seen.kept, 10000u);
    EXPECT_GT(seen.capped, 1000u);
    EXPECT_GT(seen.reached, 500u);
    EXPECT_GT(seen.missed, 200u);
}

}  // namespace
