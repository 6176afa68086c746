// A point of the flat panel sheet with four probes around it, so that the
// folded surface can be differentiated there. The probes never straddle the
// crease line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "deform/ordinary_path.h"
#include "deform/panel_fold.h"
#include "foundation/vec.h"
#include "panel/span_fold.h"

namespace dent {

struct DENT_API SheetPoint {
    // Probes: 0 the point, 1 and 2 at x -+ 0.002, 3 and 4 below and above in y
    // (at most 0.002, less where the crease line is closer).
    Vec rest[5] = {};     // on the flat sheet
    Vec current[5] = {};  // after every ordinary dent so far
    float stepX = 0.0f;   // x distance between probes 1 and 2
    float stepY = 0.0f;   // y distance between probes 3 and 4

    // The sheet point above p at height z; beyondCrease is the vertex's side of
    // the crease line (1 beyond, 0 before), which keeps probes 3 and 4 on that side.
    void init(Vec p, float z, const PanelShape& shape, int beyondCrease);
};

// Where probe `probe` is after its ordinary dents and the crease fold whose
// compression the span fold's station profile gives at the probe's x; with
// `follow` the free edge keeps the body's dent and the fold only lifts the sheet.
// Kept within `cap` of the probe's rest point.
DENT_API Vec sheetPosition(const SheetPoint& point, unsigned probe, const PanelShape& shape, const SpanFold& fold,
                  bool follow, float cap);

// A rest normal carried through the folded and dented sheet at the point:
// sheetPosition differentiated over probes 1 to 4. The reference evaluates the
// four positions one by one; sheetNormal is sheetNormals of the one point
// (probes 3 and 4, which share their x, read the station profile once) and
// gives the same bits.
DENT_API Vec sheetNormal(const SheetPoint& point, const PanelShape& shape, const SpanFold& fold, bool follow, float cap,
                Vec restNormal);
DENT_API Vec sheetNormalReference(const SheetPoint& point, const PanelShape& shape, const SpanFold& fold, bool follow,
                                  float cap, Vec restNormal);

// The folded sheet's tangents at a point: the central differences of its
// probes 1, 2 (x) and 3, 4 (y). NaN where the probes collapsed (a step below
// 0.000001), so that every normal carried there is its rest normal.
struct SheetTangents {
    Vec x;
    Vec y;
};

// A rest normal carried through the sheet with these tangents (sheetNormal's
// last step): its own normal for each vertex that shares the point.
DENT_API Vec carriedNormal(const SheetTangents& tangents, Vec restNormal);

// sheetNormal of every point, normals[i] from restNormals[i]; profiles read at
// an x seen before in the same call are reused, with the same bits.
DENT_API void sheetNormals(const SheetPoint* points, std::size_t count, const PanelShape& shape, const SpanFold& fold,
                           bool follow, float cap, const Vec* restNormals, Vec* normals);

// sheetNormals in two halves, for vertices that share sheet points: the
// tangents once per point, then normals[i] = carriedNormal(tangents[sheetOf[i]],
// restNormals[i]) per vertex. The same bits as sheetNormals of a sheet point per vertex.
DENT_API void sheetTangents(const SheetPoint* points, std::size_t count, const PanelShape& shape,
                            const SpanFold& fold, bool follow, float cap, SheetTangents* tangents);
DENT_API void sharedSheetNormals(const SheetTangents* tangents, const std::uint32_t* sheetOf, std::size_t count,
                                 const Vec* restNormals, Vec* normals);

// current[k] = displaceImpact(rest[k], current[k], ...) for the five probes of
// every point. The fast version dents four probes at a time; the reference
// probe by probe.
DENT_API void dentSheetProbes(SheetPoint* points, std::size_t count, const DentArguments& dent);
DENT_API void dentSheetProbesReference(SheetPoint* points, std::size_t count, const DentArguments& dent);

}  // namespace dent
