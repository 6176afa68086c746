// The fold compression across a panel's width: stations from the smallest to
// the largest x, each tracking how much the panel became shorter there.
#pragma once

#include <cstdint>

#include "deform/panel_fold.h"
#include "foundation/vec.h"

namespace dent {

struct DENT_API SpanFold {
    static constexpr unsigned kMaxStations = 13;

    float minX = 0.0f;  // x of the first station
    float maxX = 0.0f;  // x of the last station
    float z = 0.0f;     // height of the flat sheet
    std::uint32_t segments = 6;        // intervals between stations, 2 to 12
    Vec hinge[kMaxStations] = {};      // station points on the hinge line, current positions
    Vec edge[kMaxStations] = {};       // station points on the free edge, current positions
    Vec inset[kMaxStations] = {};      // free-edge points pulled toward the middle, current positions
    float compression[kMaxStations] = {};  // largest fold compression per station, metres
    float shorteningMax = 0.0f;  // largest shortening of the latest observe
    float demandMax = 0.0f;      // largest fold demand of the latest observe

    // Lays the stations over [minX, maxX] at height z on the rest sheet; no compression.
    void init(float minX, float maxX, float z, unsigned segments, const PanelShape& shape);

    // Moves the station points with the ordinary dent of one hit and, when `track`,
    // raises each station's compression by the fold its shortening demands.
    void observe(const PanelShape& shape, Vec hit, Vec direction, float depth, float radius,
                 float previousDepth, float previousRadius, float cap, float falloffPower, bool track,
                 float strength, float minDepth, float maxCompression, float maxLift, bool progressive);

    // Compression at x, linear between stations, held at the ends.
    float at(float x) const;

    // How strongly a hit pushing back from the free edge toward the middle acts
    // on a corner of the free edge: 0 to 1.
    float cornerWeight(const PanelShape& shape, Vec hit, Vec direction) const;
};

// The number of intervals in use: `segments` kept within 2 to 12, so that a
// record changed by hand never indexes past its arrays.
DENT_API unsigned spanSegments(const SpanFold& fold);

// x of station i: i * (maxX - minX) / segments + minX.
DENT_API float spanStationX(const SpanFold& fold, unsigned station);

}  // namespace dent
