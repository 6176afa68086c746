// The sheet points' fast paths against their plain references: the probes
// dented four at a time, the normal that reads the shared spline once and the
// tangents shared by the vertices of one place, on generated panels, folds and
// hits, bad input included.
#include <gtest/gtest.h>

#include <vector>

#include "deform/support/dent_cases.h"
#include "panel/sheet_point.h"
#include "panel/span_fold.h"

namespace {

using dent::PanelShape;
using dent::SheetPoint;
using dent::SpanFold;
using dent::Vec;
using testdeform::sameBits;

PanelShape randomShape(Lcg& rng) {
    PanelShape shape{rng.below(2) ? 1.0f : -1.0f, rng.between(-0.3f, 0.3f), rng.between(0.3f, 2.0f),
                     rng.between(0.2f, 0.8f)};
    if (rng.below(20) == 0) shape.length = rng.between(0.0f, 0.06f);  // too short to fold
    if (rng.below(40) == 0) shape.crease = testdeform::nonFinite(rng);
    return shape;
}

// Points spread over the panel and somewhat beyond, on the side of the crease
// they lie on (now and then on the wrong one).
std::vector<SheetPoint> randomPoints(Lcg& rng, const PanelShape& shape, float z, std::size_t count) {
    std::vector<SheetPoint> points(count);
    for (SheetPoint& point : points) {
        const float s = shape.start + shape.length * rng.between(-0.1f, 1.1f);
        const int beyond = (s > shape.start + shape.length * shape.crease) != (rng.below(20) == 0) ? 1 : 0;
        point.init(Vec{rng.between(-0.8f, 0.8f), shape.sign * s, 0.0f}, z, shape, beyond);
    }
    return points;
}

TEST(SheetProbesFast, MatchTheReferenceOverGeneratedHits) {
    Lcg rng{0x51ee7};
    unsigned moved = 0;
    for (int panel = 0; panel < 800; ++panel) {
        const PanelShape shape = randomShape(rng);
        std::vector<SheetPoint> points = randomPoints(rng, shape, rng.between(-0.2f, 0.4f), rng.below(12));
        for (SheetPoint& point : points) {
            for (Vec& c : point.current) c = testdeform::randomCurrent(rng, c);
        }
        float lastDepth = 0.0f, lastRadius = 0.0f;
        for (int hit = 0; hit < 4; ++hit) {
            const bool sameEpisode = rng.below(2) == 0;
            const dent::DentArguments a =
                testdeform::randomDent(rng, sameEpisode ? lastDepth : 0.0f, sameEpisode ? lastRadius : 0.0f);
            std::vector<SheetPoint> fast = points, reference = points;
            dent::dentSheetProbes(fast.data(), fast.size(), a);
            dent::dentSheetProbesReference(reference.data(), reference.size(), a);
            for (std::size_t i = 0; i < points.size(); ++i) {
                for (unsigned k = 0; k < 5; ++k) {
                    ASSERT_TRUE(sameBits(fast[i].current[k], reference[i].current[k]))
                        << "panel " << panel << " hit " << hit << " point " << i << " probe " << k;
                    if (!sameBits(reference[i].current[k], points[i].current[k])) ++moved;
                }
            }
            points = reference;
            lastDepth = a.depth;
            lastRadius = a.radius;
        }
    }
    EXPECT_GT(moved, 5000u);
}

TEST(SheetNormalFast, MatchesTheReferenceOverGeneratedFolds) {
    Lcg rng{0x40b3a1};
    unsigned folded = 0;
    for (int panel = 0; panel < 3000; ++panel) {
        const PanelShape shape = randomShape(rng);
        SpanFold fold;
        const float minX = rng.between(-0.7f, -0.2f);
        const float maxX = rng.below(20) == 0 ? minX + 0.0005f : rng.between(0.2f, 0.7f);  // too narrow for a spline
        const unsigned segments = 2 + rng.below(11);
        fold.init(minX, maxX, 0.1f, segments, shape);
        for (float& c : fold.compression) c = rng.between(-0.05f, 0.6f) * shape.length;
        if (rng.below(30) == 0) fold.compression[rng.below(SpanFold::kMaxStations)] = testdeform::nonFinite(rng);

        std::vector<SheetPoint> points = randomPoints(rng, shape, fold.z, 8);
        for (SheetPoint& point : points) {
            switch (rng.below(12)) {
            case 0: {  // on a station, or at x = -0
                const float x = rng.below(2) ? dent::spanStationX(fold, rng.below(segments + 1)) : -0.0f;
                point.rest[0].x = point.rest[3].x = point.rest[4].x = x;
                break;
            }
            case 1: point.rest[3].x += 0.001f; break;  // probes 3 and 4 apart in x
            case 3:  // the x of the first point, as a column of vertices has
                for (unsigned k = 0; k < 5; ++k) point.rest[k].x = points.front().rest[k].x;
                break;
            case 2:  // equal, but not the same bits
                point.rest[3].x = 0.0f;
                point.rest[4].x = -0.0f;
                break;
            default: break;
            }
            for (Vec& c : point.current) c = testdeform::randomCurrent(rng, c);
        }
        const bool follow = rng.below(2) == 0;
        const float caps[] = {1.05f, 0.03f, 0.0f, testdeform::nonFinite(rng)};
        const float cap = caps[rng.below(8) < 6 ? rng.below(2) : 2 + rng.below(2)];
        std::vector<Vec> restNormals, references;
        for (const SheetPoint& point : points) {
            Vec n = dent::normalized(testdeform::randomVec(rng, 1.0f));
            if (rng.below(50) == 0) n.y = testdeform::nonFinite(rng);
            const Vec fast = dent::sheetNormal(point, shape, fold, follow, cap, n);
            const Vec reference = dent::sheetNormalReference(point, shape, fold, follow, cap, n);
            ASSERT_TRUE(sameBits(fast, reference)) << "panel " << panel;
            if (!sameBits(reference, n)) ++folded;
            restNormals.push_back(n);
            references.push_back(reference);
        }
        // The whole panel at once, its profiles shared between points of the same x.
        std::vector<Vec> batch(points.size());
        dent::sheetNormals(points.data(), points.size(), shape, fold, follow, cap, restNormals.data(), batch.data());
        for (std::size_t i = 0; i < points.size(); ++i) {
            ASSERT_TRUE(sameBits(batch[i], references[i])) << "panel " << panel << " point " << i;
        }
        // Twice as many vertices sharing the points, each with a normal of its own.
        std::vector<dent::SheetTangents> tangents(points.size());
        dent::sheetTangents(points.data(), points.size(), shape, fold, follow, cap, tangents.data());
        std::vector<std::uint32_t> sheetOf;
        std::vector<Vec> vertexNormals;
        for (std::size_t v = 0; v < 2 * points.size(); ++v) {
            sheetOf.push_back(static_cast<std::uint32_t>(v < points.size() ? v : rng.below(static_cast<unsigned>(points.size()))));
            vertexNormals.push_back(v < points.size() ? restNormals[v] : dent::normalized(testdeform::randomVec(rng, 1.0f)));
        }
        std::vector<Vec> shared(sheetOf.size());
        dent::sharedSheetNormals(tangents.data(), sheetOf.data(), sheetOf.size(), vertexNormals.data(), shared.data());
        for (std::size_t v = 0; v < sheetOf.size(); ++v) {
            const Vec reference =
                dent::sheetNormalReference(points[sheetOf[v]], shape, fold, follow, cap, vertexNormals[v]);
            ASSERT_TRUE(sameBits(shared[v], reference)) << "panel " << panel << " vertex " << v;
        }
    }
    EXPECT_GT(folded, 10000u);
}

}  // namespace
