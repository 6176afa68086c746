#include "deform/atomic_driver.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "deform/geometry_clone.h"
#include "deform/ordinary_path.h"
#include "deform/panel_paths.h"
#include "deform/player_preparation.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/work_meter.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr int kMaxFrameWalk = 24;
constexpr std::size_t kNameBuffer = 256;  // host frame names are far shorter
constexpr std::uintptr_t kPageSize = 0x1000;

constexpr std::size_t kMaxMeshesPerVehicle = 64;
constexpr std::uint64_t kMaxVerticesPerVehicle = 200000;
constexpr std::uint32_t kNotDeformableFlag = 0x01000000;
constexpr std::int32_t kLockPositions = 2;
constexpr std::int32_t kLockPositionsAndNormals = 6;  // panels write their normals too
constexpr std::uint8_t kAtomicDeformedBit = 0x01;

const char* const kExcludedWords[] = {"wheel", "exhaust", "misc", "ug_", "chassis_vlo"};

struct PanelWord {
    const char* word;
    int kind;
};
const PanelWord kPanelWords[] = {{"bonnet", kBonnet}, {"hood", kBonnet}, {"boot", kBoot}, {"trunk", kBoot}};

// The frame's name, lower-cased into `out` and cut at its size. The name's
// memory is checked before the first byte and at every page it runs into;
// unreadable memory ends the name.
void lowerCaseName(void* frame, char (&out)[kNameBuffer]) {
    out[0] = '\0';
    const char* name = game::frameName(frame);
    if (!name) return;
    std::size_t length = 0;
    for (; length + 1 < kNameBuffer; ++length) {
        const char* at = name + length;
        if ((length == 0 || reinterpret_cast<std::uintptr_t>(at) % kPageSize == 0) && !readableRange(at, 1)) break;
        if (*at == '\0') break;
        out[length] = static_cast<char>(std::tolower(static_cast<unsigned char>(*at)));
    }
    out[length] = '\0';
}

enum class FrameWalk { Found, Ended, Unreadable };

// Visits the frame and its ancestors, at most kMaxFrameWalk of them, until
// `visit` answers true (Found) or the walk meets a frame that cannot be handed
// to the host (Unreadable).
template <typename Visit>
FrameWalk walkFrameNames(void* frame, Visit visit) {
    auto* current = static_cast<host::Frame*>(frame);
    for (int visited = 0; current && visited < kMaxFrameWalk; ++visited) {
        if (!frameRecordReadable(current)) return FrameWalk::Unreadable;
        char name[kNameBuffer];
        lowerCaseName(current, name);
        if (visit(name)) return FrameWalk::Found;
        current = current->parent;
    }
    return FrameWalk::Ended;
}

bool beginsWith(const char* text, const char* word) { return std::strncmp(text, word, std::strlen(word)) == 0; }

bool faultedGeometry(const VehicleRecord& record, const void* geometry) {
    for (const MeshEntry& entry : record.meshes) {
        if (entry.materialFault && (entry.copy == geometry || entry.original == geometry)) return true;
    }
    return false;
}

std::uint32_t positionBytes(std::int32_t vertices) {
    return static_cast<std::uint32_t>(vertices) * static_cast<std::uint32_t>(sizeof(dent::Vec));
}

// One readable vertex block with readable positions for 1..30000 vertices,
// and no flag that forbids deforming.
bool deformableShape(const host::Geometry* geometry) {
    if (!readableRange(geometry, sizeof *geometry)) return false;
    if (geometry->vertexBlockCount != 1) return false;
    if (geometry->vertexCount < 1 || geometry->vertexCount > kMaxMeshVertices) return false;
    if (geometry->flags & kNotDeformableFlag) return false;
    const host::VertexBlock* block = geometry->vertexBlock;
    if (!block || !readableRange(block, sizeof *block)) return false;
    return block->positions && readableRange(block->positions, positionBytes(geometry->vertexCount));
}

// Unlocks a geometry the host has locked when the scope ends, however it
// ends: an exception from a panel path must not leave the copy locked.
class LockedGeometry {
public:
    explicit LockedGeometry(void* geometry) : geometry_(geometry) {}
    ~LockedGeometry() { unlock(); }
    LockedGeometry(const LockedGeometry&) = delete;
    LockedGeometry& operator=(const LockedGeometry&) = delete;

    void unlock() {
        if (!geometry_) return;
        void* geometry = geometry_;
        geometry_ = nullptr;
        game::unlock(geometry);
    }

private:
    void* geometry_;
};

MeshEntry* entryOfCopy(VehicleRecord& record, const void* geometry) {
    for (MeshEntry& entry : record.meshes) {
        if (entry.copy == geometry) return &entry;
    }
    return nullptr;
}

// Who a copy is for: a traffic hit; a hit on the player's vehicle, for which
// other vehicles' records make room; the player's vehicle ahead of its first
// hit, whose copies take room from no one and give way to every hit's.
enum class CopyFor { Traffic, Player, Preparation };

CopyFor copyFor(const DentRequest& request) {
    if (request.preparing) return CopyFor::Preparation;
    return request.player ? CopyFor::Player : CopyFor::Traffic;
}

// The records' vertices under the all-vehicles budget, with the copies
// prepared for the player's vehicle: released first when they would keep a
// hit's `vertices` from fitting, so that a hit finds the room it would find
// without them.
std::uint64_t verticesHeld(CopyFor who, std::uint64_t vertices) {
    const std::uint64_t records = totalVerticesOfAllRecords(*recordList);
    const std::uint64_t prepared = preparedVertices();
    // Only copies in the way go: a preparation that holds none keeps its place.
    if (who != CopyFor::Preparation && prepared > 0 && records + prepared + vertices > settings.MaxTotalVertices) {
        releasePreparation();
        return records;
    }
    return records + prepared;
}

// Whether `vertices` more could fit under the all-vehicles budget, evicting
// nothing: for the player's vehicle, whose copies other vehicles' records
// make room for, as long as its own record leaves room.
bool mayFitAllVehiclesBudget(const VehicleRecord& record, std::uint64_t vertices, CopyFor who) {
    const std::uint64_t budget = settings.MaxTotalVertices;
    if (!recordList) return record.totalVertices + vertices <= budget;
    const std::uint64_t held = verticesHeld(who, vertices);
    if (who == CopyFor::Player) return record.totalVertices + vertices <= budget;
    return held + vertices <= budget;
}

// Whether `vertices` more fit under the all-vehicles budget. The player's
// vehicle comes first: other vehicles' records are evicted to make room for
// it. Called only with the final copy in hand, so that no record is evicted
// for a copy that is then not kept.
bool withinAllVehiclesBudget(const VehicleRecord& record, std::uint64_t vertices, CopyFor who) {
    const std::uint64_t budget = settings.MaxTotalVertices;
    if (!recordList) return record.totalVertices + vertices <= budget;
    const std::uint64_t held = verticesHeld(who, vertices);
    // Now, not the hit's time: a queued hit's copy is attached frames later,
    // and a car hit since then has been idle the shortest.
    if (who == CopyFor::Player) return makeVertexRoom(*recordList, record, vertices, budget, host::clockMs());
    return held + vertices <= budget;
}

bool copyWithinLimits(const host::Geometry* copy, const VehicleRecord& record, CopyFor who) {
    // The same shape test as for the atomic's own geometry, flag 0x01000000
    // included: a copy that every later hit would refuse is not kept.
    if (!deformableShape(copy)) return false;
    const auto vertices = static_cast<std::uint64_t>(copy->vertexCount);
    if (record.totalVertices + vertices > kMaxVerticesPerVehicle) return false;
    return withinAllVehiclesBudget(record, vertices, who);
}

// The vehicle's own limits leave room for one more copy of `originalVertices`.
bool vehicleLimitsAllowCopy(const VehicleRecord& record, std::uint64_t originalVertices) {
    return record.meshes.size() < kMaxMeshesPerVehicle && record.totalVertices + originalVertices <= kMaxVerticesPerVehicle;
}

// The record's facts of a frame of its car, walked the first time.
const FrameFacts& frameFactsOf(VehicleRecord& record, void* frame) {
    for (const FrameFacts& facts : record.frameFacts) {
        if (facts.frame == frame) return facts;
    }
    record.frameFacts.push_back(FrameFacts{frame, excludedByName(frame), panelKind(frame)});
    return record.frameFacts.back();
}

// The panel kind a copy of the atomic is made for (kNoPanel without PanelBending).
int panelKindOf(VehicleRecord& record, const host::Atomic& atomic) {
    return settings.PanelBending ? frameFactsOf(record, atomic.frame).panelKind : kNoPanel;
}

// Where the first half of an entry comes from: nowhere (a limit refuses), a
// copy prepared ahead for the player's vehicle, or a clone to make now.
enum class CopySource { Refused, Prepared, Clone };

// The checks before a copy of the atomic's geometry is made. A copy prepared
// ahead for the player's vehicle is taken as it is (`prepared`): it is what
// the clone would give, rebuilt along its crease for a panel. `kind`: the
// atomic's panelKindOf.
CopySource copySource(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who, int kind,
                      PanelState& panel, void*& prepared) {
    const auto originalVertices = static_cast<std::uint64_t>(original->vertexCount);
    if (!vehicleLimitsAllowCopy(record, originalVertices)) return CopySource::Refused;
    PreparedCopy taken;
    if (who != CopyFor::Preparation) taken = takePreparedCopy(&atomic, original, kind, record.creaseSeed, panel);
    // Before the copy is made, a copy that could never fit is not made; room
    // is made only once the copy (rebuilt along its crease for a panel, with
    // more vertices) is known, when it is attached.
    if (!mayFitAllVehiclesBudget(record, originalVertices, who)) {
        releaseGeometry(taken.copy);
        return CopySource::Refused;
    }
    if (!taken.copy) {
        breadcrumb("atomic: clone geometry");
        return CopySource::Clone;
    }
    // The lines its making wrote belong to this hit.
    for (const DivertedLine& line : taken.lines) logLine(line.text.c_str());
    prepared = taken.copy;
    return CopySource::Prepared;
}

void logCloneFailed() { logLine("Geometry clone failed; mesh skipped."); }

// The first half of an entry, in one go: the copy of the atomic's geometry,
// for a bonnet or boot rebuilt along its crease. Null when a limit or the
// clone refuses.
void* copyMesh(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who, int kind,
               PanelState& panel) {
    void* prepared = nullptr;
    const CopySource from = copySource(atomic, record, original, who, kind, panel, prepared);
    if (from != CopySource::Clone) return prepared;
    void* copy = cloneGeometry(original);
    if (!copy) {
        logCloneFailed();
        return nullptr;
    }
    if (kind == kNoPanel) return copy;
    return preparePanel(&atomic, kind, record.creaseSeed, copy, panel);
}

// The readable normals of a copy that passed deformableShape, or null.
const dent::Vec* copyNormals(const host::Geometry* copy) {
    const dent::Vec* normals = copy->vertexBlock->normals;
    if (normals && !readableRange(normals, positionBytes(copy->vertexCount))) return nullptr;
    return normals;
}

// The second half: records the copy with its panel lists (made here unless
// they were made in steps already) and attaches it to the atomic. Null when a
// limit or the bookkeeping refuses; the copy is released then.
MeshEntry* attachCopy(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who,
                      void* copy, PanelState& panel) {
    MeshEntry* entry = nullptr;
    const auto* copied = static_cast<const host::Geometry*>(copy);
    if (copyWithinLimits(copied, record, who)) {
        try {
            const dent::Vec* positions = copied->vertexBlock->positions;
            const auto count = static_cast<std::size_t>(copied->vertexCount);
            std::vector<dent::Vec> rest(positions, positions + count);
            if (panel.kind != kNoPanel && panel.working.size() != count) {
                fillPanelLists(panel, rest.data(), copyNormals(copied), count);
            }
            entry = addMeshEntry(record, original, copy, std::move(rest));
            if (entry) entry->panel = std::move(panel);
        } catch (...) {
            entry = nullptr;  // out of memory: the entry was never stored
        }
    }
    if (!entry) {
        releaseGeometry(copy);
        return nullptr;
    }
    breadcrumb("atomic: attach copied geometry");
    game::setGeometry(&atomic, copy, 0);
    return entry;
}

// Copies the atomic's geometry, records it and attaches the copy to the
// atomic. Null when a limit, the clone or the bookkeeping refuses; nothing of
// the copy is kept then.
MeshEntry* makeEntry(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, CopyFor who) {
    PanelState panel;
    void* copy = copyMesh(atomic, record, original, who, panelKindOf(record, atomic), panel);
    return copy ? attachCopy(atomic, record, original, who, copy, panel) : nullptr;
}

enum class Names { Checked, Later };

// The atomic when it may be deformed at all: readable, with a frame and a
// geometry of a deformable shape, not excluded by name (unless the names are
// asked `Later`), not a faulted copy.
host::Atomic* deformableAtomic(void* atomicPointer, VehicleRecord& record, Names names = Names::Checked) {
    if (!atomicPointer) return nullptr;
    if (!readableRange(atomicPointer, sizeof(host::Atomic))) return nullptr;
    auto& atomic = *static_cast<host::Atomic*>(atomicPointer);
    host::Frame* frame = atomic.frame;
    host::Geometry* geometry = atomic.geometry;

    if (faultedGeometry(record, geometry)) return nullptr;
    if (!frame || !geometry) return nullptr;
    if (names == Names::Checked && frameFactsOf(record, frame).excluded) return nullptr;
    if (!deformableShape(geometry)) return nullptr;
    return &atomic;
}

// The request's point and direction in the atomic's frame, from the frame's
// world matrix as it is now.
bool dentInFrame(const host::Atomic& atomic, const DentRequest& request, AtomicDent& out) {
    breadcrumb("atomic: get frame matrix");
    if (!frameRecordReadable(atomic.frame)) return false;
    const dent::HostMatrix* worldMatrix = game::frameLTM(atomic.frame);
    if (!worldMatrix || !readableRange(worldMatrix, sizeof *worldMatrix)) return false;
    const dent::HostMatrix m = *worldMatrix;
    if (!dent::isOrthonormal(m)) return false;
    out.hit = dent::toAxes(m, request.point - m.position);
    out.direction = dent::toAxes(m, request.direction);
    return true;
}

// The copy's vertex block when its positions (and the entry's count of them)
// can be written; null otherwise.
host::VertexBlock* writableBlock(host::Geometry* geometry, std::size_t count) {
    host::VertexBlock* block = geometry->vertexBlock;
    if (!block || !readableRange(block, sizeof *block) || !block->positions ||
        !readableRange(block->positions, positionBytes(static_cast<std::int32_t>(count)))) {
        return nullptr;
    }
    return block;
}

dent::Vec* writableNormals(host::VertexBlock* block, std::size_t count) {
    dent::Vec* normals = block->normals;
    if (normals && !readableRange(normals, positionBytes(static_cast<std::int32_t>(count)))) return nullptr;
    return normals;
}

dent::DentArguments dentArguments(const MeshEntry& entry, const AtomicDent& at, const DentRequest& request) {
    const bool sameEpisode = entry.lastEpisode == request.episode;
    return dent::DentArguments{at.hit,
                               at.direction,
                               request.depth,
                               request.radius,
                               sameEpisode ? entry.lastDepth : 0.0f,
                               sameEpisode ? entry.lastRadius : 0.0f,
                               settings.MaxTotalDisplacement,
                               settings.FalloffPower};
}

std::int32_t lockModeOf(const MeshEntry& entry) {
    return entry.panel.kind != kNoPanel && !entry.panel.restNormals.empty() ? kLockPositionsAndNormals
                                                                           : kLockPositions;
}

// What follows every displacement while the copy is still locked, and after.
void closeDisplacement(host::Atomic& atomic, MeshEntry& entry, host::VertexBlock* block, std::size_t count,
                       LockedGeometry& locked, DentRequest& request) {
    entry.lastEpisode = request.episode;
    entry.lastDepth = request.depth;
    entry.lastRadius = request.radius;
    // The centre stays; the radius never shrinks.
    float* sphere = block->boundingSphere;
    sphere[3] = dent::grownBoundingRadius({sphere[0], sphere[1], sphere[2]}, sphere[3], block->positions, count);

    breadcrumb("atomic: unlock geometry");
    locked.unlock();
    std::memcpy(atomic.boundingSphere, block->boundingSphere, sizeof atomic.boundingSphere);
    atomic.flags |= kAtomicDeformedBit;
    request.meshes += 1;

    breadcrumb("atomic: complete");
}

enum class MeshPath { Ordinary, Fold, Surface };

// How the entry's copy of `count` vertices is dented: a panel whose lists fit
// folds (across its width with PanelAsymmetry), anything else dents vertex by vertex.
MeshPath pathOf(const MeshEntry& entry, std::size_t count) {
    if (entry.panel.kind == kNoPanel || !panelListsFit(entry.panel, count)) return MeshPath::Ordinary;
    return settings.PanelAsymmetry ? MeshPath::Surface : MeshPath::Fold;
}

// Locks the entry's copy, hands its writable vertex block to `write` (false:
// nothing was written) and closes the displacement.
template <typename Write>
void displaceLocked(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, Write write) {
    auto* geometry = static_cast<host::Geometry*>(entry.copy);
    breadcrumb("atomic: lock vertices");
    if (!game::lock(geometry, lockModeOf(entry))) return;
    LockedGeometry locked(geometry);

    breadcrumb("atomic: displace vertices");
    const std::size_t count = entry.restPositions.size();
    host::VertexBlock* block = writableBlock(geometry, count);
    if (!block || !write(*block, count)) return;
    closeDisplacement(atomic, entry, block, count, locked, request);
}

// The displacement of an entry's copy, all in one go.
void displace(host::Atomic& atomic, MeshEntry& entry, const AtomicDent& at, DentRequest& request) {
    displaceLocked(atomic, entry, request, [&](host::VertexBlock& block, std::size_t count) {
        const dent::DentArguments arguments = dentArguments(entry, at, request);
        const dent::Vec* rest = entry.restPositions.data();
        switch (pathOf(entry, count)) {
            case MeshPath::Surface:
                surfacePath(entry.panel, rest, block.positions, writableNormals(&block, count), count, arguments);
                break;
            case MeshPath::Fold: {
                const bool newEpisode = entry.lastEpisode != request.episode;
                foldPath(entry.panel, newEpisode, rest, block.positions, writableNormals(&block, count), count,
                         arguments);
                break;
            }
            case MeshPath::Ordinary:
                dent::dentMesh(rest, block.positions, count, arguments);
                break;
        }
        return true;
    });
}

// Whether the dent reaches any point of the atomic's geometry: of its entry's
// rest positions once it has one (`entry`; null before the first copy).
// False when the entry no longer fits the geometry.
bool reaches(VehicleRecord& record, const host::Geometry& geometry, const AtomicDent& at, float radius,
             MeshEntry*& entry) {
    entry = entryOfCopy(record, &geometry);
    const auto vertexCount = static_cast<std::size_t>(geometry.vertexCount);
    if (entry && entry->restPositions.size() != vertexCount) return false;
    const dent::Vec* reachFrom = entry ? entry->restPositions.data() : geometry.vertexBlock->positions;
    return dent::reachesAny(reachFrom, vertexCount, at.hit, radius);
}


// What a kind of step costs in work units (10 ns each of the 32-bit module
// under Wine, as the work meter of the benchmarks measures it): a fixed part
// per step and a part per thousand of its items (vertices, triangles, pieces
// or sheet points), so that a cheap item may cost a fraction of a unit.
struct StepCost {
    std::uint64_t fixed;
    std::uint64_t perThousand;
};

std::uint64_t unitsOf(StepCost cost, std::size_t items) {
    return cost.fixed + (static_cast<std::uint64_t>(items) * cost.perThousand + 999) / 1000;
}

// The reach scan, per vertex of the mesh (most scans end early).
constexpr StepCost kScan{60, 100};
// The clone: its start (the host's create call, which grows with the
// vertices it allocates, and the vertex arrays), its triangles (the host's
// two calls each) and its finish (the host's extension and render mesh
// calls), per vertex; a bonnet or boot is measured for its crease as well.
constexpr StepCost kCopy{800, 4500};
constexpr StepCost kCloneTriangles{0, 4000};
constexpr StepCost kCloneFinish{300, 2600};
constexpr std::uint64_t kMeasurePerThousand = 2300;
// The crease rebuild: cutting, per source triangle and per piece it is cut
// into (the pieces a triangle gives, as the cut has found them so far; three
// before the first run); building: the host's create call (per piece), the
// pieces, then the unlock and material check.
constexpr std::uint64_t kCutFixed = 500;
constexpr std::uint64_t kCutPerThousandTriangles = 8000;
constexpr std::uint64_t kCutPerThousandPieces = 45000;
constexpr std::uint64_t kFirstPiecesPerTriangle = 3;
constexpr StepCost kBuildCreate{800, 6400};
constexpr StepCost kBuildPieces{0, 16000};
constexpr StepCost kBuildFinish{500, 5400};
// The panel's lists: begun (per vertex), then per vertex placed or sheet point made.
constexpr StepCost kListsBegin{3000, 3000};
constexpr StepCost kLists{0, 2200};
// Recording and attaching a copy, per vertex.
constexpr StepCost kAttach{1200, 250};
// The displacement, per vertex: the ordinary dent, the fold path, the surface
// path (per vertex, plus per sheet point: a point is worked out once for
// every vertex at its place), and a staged surface written into the copy.
constexpr StepCost kDent{1000, 3500};
constexpr StepCost kFold{700, 3000};
constexpr std::uint64_t kSurfaceFixed = 3000;  // the lock and unlock
constexpr std::uint64_t kSurfacePerThousand = 3000;
constexpr std::uint64_t kSheetPointPerThousand = 70000;
constexpr StepCost kCommit{1000, 1000};
// Fewest vertices a surface or list step works out, so that a tiny budget
// still finishes a panel in a bounded number of frames; a multiple of four.
constexpr std::size_t kMinVertexStep = 1024;

// Buffers of the last staged surface, kept for the next: a panel's are a few
// megabytes, and fresh memory costs its page faults again.
StagedSurface& spareSurface() {
    static StagedSurface* const spare = new StagedSurface();
    return *spare;
}

// The surface path's cost on a panel: its copy locked and unlocked, and per
// thousand vertices the vertices' own and an even share of the sheet points'.
StepCost surfaceCost(const PanelState& panel, std::size_t vertices) {
    const std::uint64_t points = vertices == 0 ? 0 : (kSheetPointPerThousand * panel.sheet.size()) / vertices;
    return StepCost{kSurfaceFixed, kSurfacePerThousand + points};
}

// The cutting's cost per source triangle: its own and its pieces'.
StepCost cutCost(const CreaseCut& cut) {
    const std::uint64_t piecesPerThousand =
        cut.cutTriangles > 0 ? 1000 * cut.pieces.size() / static_cast<std::uint64_t>(cut.cutTriangles)
                             : 1000 * kFirstPiecesPerTriangle;
    return StepCost{kCutFixed, kCutPerThousandTriangles + kCutPerThousandPieces * piecesPerThousand / 1000};
}

// The displacement's cost of the entry's copy of `count` vertices, by its path.
StepCost displacementCost(const MeshEntry& entry, std::size_t count) {
    switch (pathOf(entry, count)) {
        case MeshPath::Surface:
            return surfaceCost(entry.panel, count);
        case MeshPath::Fold:
            return kFold;
        case MeshPath::Ordinary:
            break;
    }
    return kDent;
}

// Reach, the copy on the first reach, and the displacement of one atomic,
// with the units they cost counted in the request (a copy made here is
// counted as attached: with a work budget, one that had to be cloned waits
// in the queue instead).
void dentAtomic(host::Atomic& atomic, const AtomicDent& at, DentRequest& request) {
    VehicleRecord& record = *request.record;
    host::Geometry* geometry = atomic.geometry;
    const auto count = static_cast<std::size_t>(geometry->vertexCount);
    request.units += unitsOf(kScan, count);
    MeshEntry* entry = nullptr;
    if (!reaches(record, *geometry, at, request.radius, entry)) return;
    if (!entry) {
        entry = makeEntry(atomic, record, geometry, copyFor(request));
        if (!entry) return;
        request.units += unitsOf(kAttach, entry->restPositions.size());
    }
    request.units += unitsOf(displacementCost(*entry, entry->restPositions.size()), entry->restPositions.size());
    displace(atomic, *entry, at, request);
}

// Items of `remaining` that one step in runs works on at `cost` each: as
// many as the allowance takes, at least kMinVertexStep when it is the
// frame's first step; runs of four, as the probes are dented, but for the
// last. A step in runs waits for a later frame only while something
// remains: with nothing left it goes on at once, so that no step waits for ever.
std::size_t itemStep(std::size_t remaining, StepCost cost, const WorkAllowance& allowance) {
    const std::uint64_t room = allowance.left > cost.fixed ? allowance.left - cost.fixed : 0;
    const std::uint64_t fit = cost.perThousand == 0 ? remaining : room * 1000 / cost.perThousand;
    std::size_t items = static_cast<std::size_t>(std::min<std::uint64_t>(fit, remaining));
    if (items < remaining) items &= ~std::size_t{3};
    if (!allowance.started) items = std::max(items, std::min(kMinVertexStep, remaining));
    return items;
}

// Charges a run of `items` at `cost`; false when there is none or it does not fit.
bool takeRun(WorkAllowance& allowance, StepCost cost, std::size_t items) {
    return items != 0 && allowance.take(unitsOf(cost, items));
}

// The clone's source is still the atomic's geometry as the clone found it;
// otherwise the half-made copy is released and the dent given up.
bool cloneGoesOn(CloneJob& clone, const host::Geometry* geometry) {
    if (clone.source == geometry && cloneSourceUnchanged(clone)) return true;
    releaseClone(clone);
    return false;
}

// Writes a fully worked-out staged surface into the copy and the panel.
void commitStaged(host::Atomic& atomic, MeshEntry& entry, DentRequest& request, StagedSurface& staged) {
    displaceLocked(atomic, entry, request, [&](host::VertexBlock& block, std::size_t count) {
        if (staged.count != count || !panelListsFit(entry.panel, count)) return false;
        commitSurface(entry.panel, staged, block.positions, writableNormals(&block, count));
        return true;
    });
}

// The crease rebuild's end: the rebuilt copy kept in place of the plain one,
// or, when `rebuilt` is null, the plain one kept for the ordinary dent (a
// copy being built is released); the cut's buffers go back.
void endCreaseRebuild(DentProgress& progress, void* rebuilt) {
    if (progress.building != rebuilt) releaseGeometry(progress.building);
    progress.building = nullptr;
    progress.pendingCopy = keepPanelCopy(progress.pendingCopy, rebuilt, progress.pendingPanel);
    returnCutBuffers(progress.cut);
    progress.step = DentProgress::Step::Lists;
}

// The meter's kind of a step (a benchmark build's; nothing otherwise).
meter::Kind meteredKind(DentProgress::Step step) {
    static const meter::Kind kinds[] = {meter::Reach,       meter::Copy,        meter::CloneTriangles,
                                        meter::CloneFinish, meter::Cut,         meter::Build,
                                        meter::BuildPieces, meter::BuildFinish, meter::Lists,
                                        meter::Attach,      meter::DentOrdinary, meter::SurfaceRun};
    return kinds[static_cast<int>(step)];
}

DentStep advance(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, DentProgress& progress,
                 WorkAllowance& allowance) {
    using Step = DentProgress::Step;
    VehicleRecord& record = *request.record;
    for (;;) {
        meter::Scope metered(meteredKind(progress.step), &allowance.left);
        auto* geometry = atomic.geometry;
        const auto vertexCount = static_cast<std::size_t>(geometry->vertexCount);
        switch (progress.step) {
            case Step::Reach: {
                if (!allowance.take(unitsOf(kScan, vertexCount))) return DentStep::Waiting;
                MeshEntry* entry = nullptr;
                if (!reaches(record, *geometry, at, request.radius, entry)) return DentStep::Done;
                progress.step = entry ? Step::Dent : Step::Copy;
                break;
            }
            case Step::Copy: {
                if (!allowance.take(unitsOf(kCopy, vertexCount))) return DentStep::Waiting;
                void* prepared = nullptr;
                const CopySource from = copySource(atomic, record, geometry, copyFor(request), panelKindOf(record, atomic),
                                                   progress.pendingPanel, prepared);
                if (from == CopySource::Refused) return DentStep::Done;
                if (from == CopySource::Prepared) {
                    progress.pendingCopy = prepared;
                    progress.step = Step::Lists;
                    break;
                }
                if (!beginClone(geometry, progress.clone)) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                progress.step = Step::CloneTriangles;
                break;
            }
            case Step::CloneTriangles: {
                // In runs of triangles; the half-made copy stays with the progress until it is finished.
                CloneJob& clone = progress.clone;
                if (!cloneGoesOn(clone, geometry)) return DentStep::Done;
                const auto left = static_cast<std::size_t>(cloneTrianglesLeft(clone));
                const std::size_t triangles = itemStep(left, kCloneTriangles, allowance);
                if (left > 0 && !takeRun(allowance, kCloneTriangles, triangles)) return DentStep::Waiting;
                if (!continueClone(clone, static_cast<std::int32_t>(triangles))) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                if (cloneTrianglesLeft(clone) == 0) progress.step = Step::CloneFinish;
                break;
            }
            case Step::CloneFinish: {
                CloneJob& clone = progress.clone;
                if (!cloneGoesOn(clone, geometry)) return DentStep::Done;
                const int kind = panelKindOf(record, atomic);
                const StepCost finish{kCloneFinish.fixed,
                                      kCloneFinish.perThousand + (kind != kNoPanel ? kMeasurePerThousand : 0)};
                if (!allowance.take(unitsOf(finish, vertexCount))) return DentStep::Waiting;
                progress.pendingCopy = finishClone(clone);
                if (!progress.pendingCopy) {
                    logCloneFailed();
                    return DentStep::Done;
                }
                progress.step = Step::Lists;
                if (kind != kNoPanel) {
                    startPanel(&atomic, kind, record.creaseSeed, progress.pendingPanel);
                    borrowCutBuffers(progress.cut);
                    if (beginCreaseCut(progress.pendingCopy, progress.pendingPanel, progress.cut)) {
                        progress.step = Step::Cut;
                    } else {
                        progress.pendingCopy = keepPanelCopy(progress.pendingCopy, nullptr, progress.pendingPanel);
                    }
                }
                break;
            }
            case Step::Cut: {
                // In runs of source triangles; the cut stays with the progress until it is built.
                const std::size_t left = cutTrianglesLeft(progress.pendingCopy, progress.cut);
                const StepCost cost = cutCost(progress.cut);
                const std::size_t triangles = itemStep(left, cost, allowance);
                if (left > 0 && !takeRun(allowance, cost, triangles)) return DentStep::Waiting;
                const CutStep cut = continueCreaseCut(progress.pendingCopy, progress.pendingPanel, progress.cut,
                                                      static_cast<std::int32_t>(triangles));
                if (cut == CutStep::Done) progress.step = Step::Build;
                if (cut == CutStep::Refused) {
                    progress.pendingCopy = keepPanelCopy(progress.pendingCopy, nullptr, progress.pendingPanel);
                    returnCutBuffers(progress.cut);
                    progress.step = Step::Lists;
                }
                break;
            }
            case Step::Build: {
                // The host's create call for the rebuilt copy; its pieces follow in runs.
                const std::size_t pieces = progress.cut.pieces.size();
                if (!allowance.take(unitsOf(kBuildCreate, pieces))) return DentStep::Waiting;
                progress.building = beginCutBuild(progress.pendingCopy, progress.pendingPanel, progress.cut);
                progress.builtPieces = 0;
                if (progress.building) progress.step = Step::BuildPieces;
                else endCreaseRebuild(progress, nullptr);
                break;
            }
            case Step::BuildPieces: {
                const std::size_t left = cutPiecesLeft(progress.cut, progress.builtPieces);
                const std::size_t pieces = itemStep(left, kBuildPieces, allowance);
                if (left > 0 && !takeRun(allowance, kBuildPieces, pieces)) return DentStep::Waiting;
                if (!continueCutBuild(progress.building, progress.pendingCopy, progress.pendingPanel, progress.cut,
                                      progress.builtPieces, pieces)) {
                    endCreaseRebuild(progress, nullptr);
                } else if (cutPiecesLeft(progress.cut, progress.builtPieces) == 0) {
                    progress.step = Step::BuildFinish;
                }
                break;
            }
            case Step::BuildFinish: {
                if (!allowance.take(unitsOf(kBuildFinish, progress.cut.pieces.size()))) return DentStep::Waiting;
                endCreaseRebuild(progress, finishCutBuild(progress.building) ? progress.building : nullptr);
                break;
            }
            case Step::Lists: {
                // A panel's lists, in runs of sheet points; the copy is not drawn yet.
                const auto* copy = static_cast<const host::Geometry*>(progress.pendingCopy);
                PanelState& panel = progress.pendingPanel;
                if (panel.kind == kNoPanel || !deformableShape(copy)) {
                    progress.step = Step::Attach;  // where the copy is refused, if it is
                    break;
                }
                const auto count = static_cast<std::size_t>(copy->vertexCount);
                const dent::Vec* rest = copy->vertexBlock->positions;
                if (panel.working.size() != count) {
                    if (!allowance.take(unitsOf(kListsBegin, count))) return DentStep::Waiting;
                    beginPanelLists(panel, rest, copyNormals(copy), count);
                }
                const std::size_t left = panelListsLeft(panel, count);
                const std::size_t items = itemStep(left, kLists, allowance);
                if (left > 0 && !takeRun(allowance, kLists, items)) return DentStep::Waiting;
                if (continuePanelLists(panel, rest, count, items)) progress.step = Step::Attach;
                break;
            }
            case Step::Attach: {
                if (request.preparing) return DentStep::Done;  // the copy waits for the hit
                const auto* copy = static_cast<const host::Geometry*>(progress.pendingCopy);
                const std::size_t count = geometryRecordReadable(copy) ? static_cast<std::uint32_t>(copy->vertexCount) : 0;
                if (!allowance.take(unitsOf(kAttach, count))) return DentStep::Waiting;
                void* const made = progress.pendingCopy;
                progress.pendingCopy = nullptr;  // attachCopy keeps it or releases it
                if (!attachCopy(atomic, record, geometry, copyFor(request), made, progress.pendingPanel)) {
                    return DentStep::Done;
                }
                progress.step = Step::Dent;
                break;
            }
            case Step::Dent: {
                MeshEntry* entry = entryOfCopy(record, geometry);
                if (!entry || entry->restPositions.size() != vertexCount) return DentStep::Done;
                const MeshPath path = pathOf(*entry, vertexCount);
                const bool surface = path == MeshPath::Surface;
                const std::uint64_t units = unitsOf(displacementCost(*entry, vertexCount), vertexCount);
                metered.relabel(surface ? meter::DentSurface : path == MeshPath::Fold ? meter::DentFold
                                                                                      : meter::DentOrdinary);
                // A surface that does not fit this frame is worked out in steps.
                if (!surface || units <= allowance.left) {
                    if (!allowance.take(units)) return DentStep::Waiting;
                    displace(atomic, *entry, at, request);
                    return DentStep::Done;
                }
                StagedSurface& staged = progress.surface;
                if (staged.positions.capacity() < vertexCount) std::swap(staged, spareSurface());
                beginSurface(entry->panel, vertexCount, dentArguments(*entry, at, request), staged);
                progress.step = Step::Surface;
                break;
            }
            case Step::Surface: {
                MeshEntry* entry = entryOfCopy(record, geometry);
                StagedSurface& staged = progress.surface;
                if (!entry || entry->restPositions.size() != staged.count) return DentStep::Done;
                if (staged.done < staged.count) {
                    // Runs only work out vertices: the copy is locked once, when they are written.
                    const StepCost cost{0, surfaceCost(entry->panel, staged.count).perThousand};
                    const std::size_t vertices = itemStep(staged.count - staged.done, cost, allowance);
                    if (!takeRun(allowance, cost, vertices)) return DentStep::Waiting;
                    continueSurface(entry->panel, entry->restPositions.data(), vertices, staged);
                    break;
                }
                metered.relabel(meter::SurfaceCommit);
                if (!allowance.take(unitsOf(kCommit, staged.count))) return DentStep::Waiting;
                commitStaged(atomic, *entry, request, staged);
                if (staged.positions.capacity() > spareSurface().positions.capacity()) std::swap(staged, spareSurface());
                return DentStep::Done;
            }
        }
    }
}

void deform(void* atomicPointer, DentRequest* request) {
    breadcrumb("atomic: begin / inspect frame and geometry");
    if (!request || !request->record) return;
    host::Atomic* atomic = nullptr;
    AtomicDent at{};
    {
        // The checks only read: the atomic's frames and geometry are asked about once per region.
        ReadableMemoryScope remembered;
        atomic = deformableAtomic(atomicPointer, *request->record);
        if (!atomic || !dentInFrame(*atomic, *request, at)) return;
    }
    dentAtomic(*atomic, at, *request);
}

void plan(void* atomicPointer, DentPlan* plan) {
    if (!plan || !plan->request || !plan->request->record || !plan->dents) return;
    host::Atomic* atomic = deformableAtomic(atomicPointer, *plan->request->record,
                                            plan->namesLater ? Names::Later : Names::Checked);
    if (!atomic) return;
    PlannedDent planned{atomicPointer, atomic->geometry, {}};
    if (!dentInFrame(*atomic, *plan->request, planned.at)) return;
    plan->dents->push_back(planned);
}

}  // namespace

bool frameRecordReadable(const void* frame) {
    return reinterpret_cast<std::uintptr_t>(frame) >= kLowestHostPointer &&
           readableRange(frame, host::kFrameRecordSize);
}

bool excludedByName(void* frame) {
    // Fails closed: an unreadable frame may be a wheel's or its parent.
    return walkFrameNames(frame, [](const char* name) {
               for (const char* word : kExcludedWords) {
                   if (std::strstr(name, word)) return true;
               }
               return false;
           }) != FrameWalk::Ended;
}

int panelKind(void* frame) {
    // Whatever ends the walk, `kind` holds what the frames before it decided.
    int kind = kNoPanel;
    walkFrameNames(frame, [&kind](const char* name) {
        for (const PanelWord& panel : kPanelWords) {
            if (beginsWith(name, panel.word)) {
                kind = panel.kind;
                return true;
            }
        }
        return false;
    });
    return kind;
}

namespace {

struct AtomicProbe {
    const void* wanted;
    bool found;
};

// Callback of game::atomics: null (the enumeration stops) once the wanted atomic is met.
void* findAtomic(void* atomic, void* data) {
    auto* probe = static_cast<AtomicProbe*>(data);
    if (atomic != probe->wanted) return atomic;
    probe->found = true;
    return nullptr;
}

}  // namespace

bool clumpHoldsAtomic(void* clump, const void* atomic) {
    AtomicProbe probe{atomic, false};
    game::atomics(clump, findAtomic, &probe);
    return probe.found;
}

void* planAtomicDent(void* atomic, void* data) {
    try {
        plan(atomic, static_cast<DentPlan*>(data));
    } catch (...) {
        // Out of memory: this atomic is not planned; the enumeration goes on.
    }
    return atomic;
}

bool plannedDentMakesCopy(const PlannedDent& planned, VehicleRecord& record, float radius) {
    const auto& atomic = *static_cast<host::Atomic*>(planned.atomic);
    const auto& geometry = *static_cast<const host::Geometry*>(planned.geometry);
    const auto vertices = static_cast<std::uint64_t>(geometry.vertexCount);
    if (entryOfCopy(record, &geometry) || !vehicleLimitsAllowCopy(record, vertices) ||
        record.totalVertices + vertices > settings.MaxTotalVertices) {
        return false;
    }
    if (preparedCopyReady(planned.atomic, planned.geometry, panelKindOf(record, atomic), record.creaseSeed)) return false;
    MeshEntry* entry = nullptr;
    return reaches(record, geometry, planned.at, radius, entry);
}

DentProgress::~DentProgress() {
    returnCutBuffers(cut);
    if (building) releaseGeometry(building);
    releaseClone(clone);
    if (pendingCopy) releaseGeometry(pendingCopy);
}

DentStep advancePlannedDent(void* atomicPointer, const AtomicDent& at, DentRequest& request, DentProgress& progress,
                            WorkAllowance& allowance) {
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        if (!request.record) return DentStep::Done;
        host::Atomic* atomic = nullptr;
        {
            ReadableMemoryScope remembered;  // the checks only read
            atomic = deformableAtomic(atomicPointer, *request.record);
        }
        if (atomic) return advance(*atomic, at, request, progress, allowance);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
    return DentStep::Done;
}

void* deformAtomic(void* atomic, void* request) {
    try {
        deform(atomic, static_cast<DentRequest*>(request));
    } catch (...) {
        // Nothing may reach the host's enumeration; the atomic is left as it is.
    }
    return atomic;
}

void deformPlannedAtomic(const PlannedDent& planned, DentRequest& request) {
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        if (request.record) dentAtomic(*static_cast<host::Atomic*>(planned.atomic), planned.at, request);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
}

}  // namespace kerbmark
