// The work meter of a benchmark build of the module (KERBMARK_WORK_METER):
// each kind of work the frame does, its thread CPU time beside the work
// units it was charged, so that the units can be set from what the 32-bit
// module really spends. The benchmark reads the totals through the export
// kerbmarkWorkMeter. In every other build the meter is nothing at all.
#pragma once

#include <cstdint>

namespace kerbmark {
namespace meter {

enum Kind : int {
    // Budgeted steps of a dent (their units from the allowance).
    Reach,
    Copy,
    CloneTriangles,
    CloneFinish,
    Cut,
    Build,
    BuildPieces,
    BuildFinish,
    Lists,
    Attach,
    DentOrdinary,
    DentFold,
    DentSurface,
    SurfaceRun,
    SurfaceCommit,
    HitFinish,
    QueuedChecks,
    ReleaseEntry,
    ReleaseCollision,
    // The hit's own frame: from the contact to its dents planned (units where
    // the hit charges them to the frame).
    HitResponse,
    HitLights,
    HitPlan,
    HitImmediate,
    TrafficChoice,
    RecordsInStep,
    PreparationChecks,
    KindCount
};

// Totals of one kind, and the sums a straight line through its steps'
// (units, nanoseconds) needs: a step's fixed cost and its cost per unit.
struct Total {
    std::uint64_t steps;
    std::uint64_t units;
    std::uint64_t nanoseconds;
    double unitsSquared;
    double unitsTimesNanoseconds;
};

#if defined(KERBMARK_WORK_METER)

// Times its own life as one step of `kind`; with `left` (an allowance's
// units left), also the units it took.
class Scope {
public:
    explicit Scope(Kind kind, const std::uint64_t* left = nullptr);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    void relabel(Kind kind) { kind_ = kind; }

private:
    Kind kind_;
    const std::uint64_t* left_;
    std::uint64_t leftBefore_;
    std::int64_t start_;
};

// Times consecutive parts of one piece of work: each next() ends the part
// before and begins one of `kind` (KindCount: none, the rest is not timed);
// the last ends with the Laps. With `charged` (a count of units that only
// grows), each part also takes the units charged while it ran.
class Laps {
public:
    explicit Laps(Kind kind, const std::uint64_t* charged = nullptr);
    ~Laps();
    Laps(const Laps&) = delete;
    Laps& operator=(const Laps&) = delete;
    void next(Kind kind);

private:
    Kind kind_;
    const std::uint64_t* charged_;
    std::uint64_t chargedBefore_;
    std::int64_t start_;
};

#else

class Scope {
public:
    explicit Scope(Kind, const std::uint64_t* = nullptr) {}
    void relabel(Kind) {}
};

class Laps {
public:
    explicit Laps(Kind, const std::uint64_t* = nullptr) {}
    void next(Kind) {}
};

#endif

}  // namespace meter
}  // namespace kerbmark
