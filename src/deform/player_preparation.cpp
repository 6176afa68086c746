#include "deform/player_preparation.h"

#include <cmath>
#include <memory>
#include <utility>

#include "deform/atomic_names.h"
#include "deform/dent_job.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/work_meter.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

// A health rise beyond this between two frames is a repair (as for records).
constexpr float kRepairHealthRise = 25.0f;
// How long the player sits in a car (host clock) before its copies are made:
// a car only passed through, or the moment after a reset, costs nothing.
constexpr std::uint32_t kSeatedMs = 1000;

// One mesh of the player's vehicle: the atomic, the geometry it draws, and
// the job that makes its copy (null once the copy is taken or given up).
struct PreparedMesh {
    void* atomic = nullptr;
    void* original = nullptr;
    std::uint32_t atomicFlags = 0;  // the host's flags of the atomic when its panel was begun
    std::uint32_t creaseSeed = 0;   // the crease seed its panel was begun with
    std::unique_ptr<DentJob> job;
    std::vector<DivertedLine> lines;  // what the copy's making logged
    // Vertices of a copy that did not fit beside the records' (0: none): the
    // mesh is prepared again once they would.
    std::uint64_t waitsForRoom = 0;
};

struct Preparation {
    // Who the copies are for; the stand-in's vehicle, handle and clump are the car's.
    VehicleRecord standIn;
    float health = 0.0f;
    std::uint32_t since = 0;  // host clock when the preparation began
    std::uint32_t creaseSeed = 0;  // for copies made while the car has no record
    bool seedGiven = false;        // a copy was made with it
    bool planned = false;
    std::vector<PreparedMesh> meshes;
    std::size_t next = 0;  // the mesh being prepared
};

// Never destroyed: nothing of the module is freed at process detach.
Preparation& preparation() {
    static Preparation* const instance = new Preparation();
    return *instance;
}

const VehicleRecord* recordOf(const void* vehicle) { return recordList ? findRecord(*recordList, vehicle) : nullptr; }

const host::Vehicle* handledVehicle(void* vehicle) {
    if (!vehicle || !readableRange(vehicle, sizeof(host::Vehicle))) return nullptr;
    const auto* v = static_cast<const host::Vehicle*>(vehicle);
    if (v->word594 != 0 || !v->clump || !host::isHandledVehicleModel(v->modelId)) return nullptr;
    return v;
}

bool copyMade(const PreparedMesh& mesh) { return mesh.job && mesh.job->made.copy; }

// The mesh's copy is given up: the plain lines its making wrote go to the
// log now, since what they say of the game's data holds whether or not a hit
// comes; its per-hit lines belonged to a hit that never came.
void dropCopy(PreparedMesh& mesh) {
    mesh.job.reset();
    for (const DivertedLine& line : mesh.lines) {
        if (!line.perHit) logLine(line.text.c_str());
    }
    mesh.lines.clear();
}

bool copyReady(const PreparedMesh& mesh) { return mesh.job && copyReady(*mesh.job); }

// The ready copy of the mesh is what a copy made now would be: the same panel
// kind and, for a bonnet or boot, the same crease seed and atomic flags.
bool sameAsNow(const PreparedMesh& mesh, int kind, std::uint32_t creaseSeed) {
    // A failed crease rebuild leaves kind 0, as it would now.
    const int made = mesh.job->made.panel.kind;
    return (made == kind || made == kNoPanel) &&
           (kind == kNoPanel || (creaseSeed == mesh.creaseSeed && game::atomicFlags(mesh.atomic) == mesh.atomicFlags));
}

std::uint32_t verticesOf(const void* geometry) {
    const std::int32_t count = static_cast<const host::Geometry*>(geometry)->vertexCount;
    return count > 0 ? static_cast<std::uint32_t>(count) : 0;
}

std::uint64_t verticesHeld(const PreparedMesh& mesh) { return mesh.job ? verticesHeld(*mesh.job) : 0; }

// The car is still the one prepared for: the same vehicle, clump, and no repair.
bool stillPrepared(const Preparation& p, void* vehicle) {
    if (p.standIn.vehicle != vehicle || !vehicleStillSame(p.standIn)) return false;
    const float health = static_cast<const host::Vehicle*>(vehicle)->health;
    return !(std::isfinite(health) && p.health - health < -kRepairHealthRise);
}

void begin(Preparation& p, void* vehicle, const host::Vehicle& v) {
    p.standIn.vehicle = vehicle;
    p.standIn.vehicleRef = game::vehicleRef(vehicle);
    p.standIn.clump = v.clump;
    p.since = host::clockMs();
    const VehicleRecord* record = recordOf(vehicle);
    // The crease seed as a record made now would have it.
    p.creaseSeed = record ? record->creaseSeed : creaseSeedFor(p.standIn.vehicleRef, p.since);
}

// The mesh's atomic is still one of the car's and draws the geometry it was
// planned with; otherwise (the host destroyed it, a hit copied it, the host
// gave it another) it needs no copy. The car's clump is the one prepared for
// (stillPrepared).
bool stillOnCar(const Preparation& p, const PreparedMesh& mesh) {
    return clumpHoldsAtomic(p.standIn.clump, mesh.atomic) && readableRange(mesh.atomic, sizeof(host::Atomic)) &&
           static_cast<const host::Atomic*>(mesh.atomic)->geometry == mesh.original;
}

void dropTakenOver(Preparation& p) {
    for (PreparedMesh& mesh : p.meshes) {
        if (!mesh.job && !mesh.waitsForRoom) continue;
        if (!stillOnCar(p, mesh)) {
            dropCopy(mesh);
            mesh.waitsForRoom = 0;
        }
    }
}

bool contactThisFrame(const Preparation& p) {
    const VehicleRecord* record = recordOf(p.standIn.vehicle);
    return record && record->lastHit == host::clockMs();
}

// Whether a geometry is one of the record's copies or originals: copied
// already, or put back by the material guard.
bool heldByRecord(const VehicleRecord* record, const void* geometry) {
    if (!record) return false;
    for (const MeshEntry& entry : record->meshes) {
        if (entry.copy == geometry || entry.original == geometry) return true;
    }
    return false;
}

// The job of a mesh's copy, from the copy on (its atomic planned already).
std::unique_ptr<DentJob> copyJob() { return std::make_unique<DentJob>(DentJob::Step::Copy); }

// Every atomic a hit could dent, as the hit's planning finds them.
void plan(Preparation& p) {
    std::vector<PlannedDent> dents;
    DentRequest request{&p.standIn, {}, {}, 0.0f, 0.0f, 0, 0, false, true};
    DentPlan plan{&request, &dents};
    {
        ReadableMemoryScope remembered;  // the planning only reads
        game::atomics(p.standIn.clump, planAtomicDent, &plan);
    }
    const VehicleRecord* record = recordOf(p.standIn.vehicle);
    for (const PlannedDent& dent : dents) {
        if (heldByRecord(record, dent.geometry)) continue;
        PreparedMesh mesh;
        mesh.atomic = dent.atomic;
        mesh.original = dent.geometry;
        mesh.job = copyJob();
        p.meshes.push_back(std::move(mesh));
    }
    p.planned = true;
}

std::uint64_t recordVertices() { return recordList ? totalVerticesOfAllRecords(*recordList) : 0; }

// The copies made fit the all-vehicles budget beside the records' (they
// were checked with the original's count before the clone).
bool preparedFit() { return recordVertices() + preparedVertices() <= settings.MaxTotalVertices; }

// A mesh that is done: its copy stays when it was made and fits; otherwise it
// goes, and a copy that did not fit beside the records' (or was refused
// before it was made, for want of room) waits until there is room for it.
void settle(PreparedMesh& mesh) {
    if (copyMade(mesh) && preparedFit()) return;
    const std::uint64_t others = recordVertices() + preparedVertices() - verticesHeld(mesh);
    const std::uint64_t needed = copyMade(mesh) ? verticesOf(mesh.job->made.copy) : verticesOf(mesh.original);
    dropCopy(mesh);
    if (others + needed > settings.MaxTotalVertices) mesh.waitsForRoom = needed;
}

// Once every mesh had its turn, the first that waits for room and would fit
// now is prepared again.
void retryWhereRoomGrew(Preparation& p) {
    if (p.next < p.meshes.size()) return;
    const std::uint64_t held = recordVertices() + preparedVertices();
    for (std::size_t i = 0; i < p.meshes.size(); ++i) {
        PreparedMesh& mesh = p.meshes[i];
        if (mesh.waitsForRoom == 0 || held + mesh.waitsForRoom > settings.MaxTotalVertices) continue;
        mesh.waitsForRoom = 0;
        mesh.job = copyJob();
        p.next = i;
        return;
    }
}

// Lines logged while it lives are kept in `lines`, however the scope ends.
class DivertedLines {
public:
    explicit DivertedLines(std::vector<DivertedLine>& lines) { divertedLines = &lines; }
    ~DivertedLines() { divertedLines = nullptr; }
    DivertedLines(const DivertedLines&) = delete;
    DivertedLines& operator=(const DivertedLines&) = delete;
};

// The meshes' steps, one after the other, while the allowance takes them.
void run(Preparation& p, WorkAllowance& allowance) {
    retryWhereRoomGrew(p);
    while (p.next < p.meshes.size()) {
        PreparedMesh& mesh = p.meshes[p.next];
        if (!mesh.job) {
            ++p.next;
            continue;
        }
        const VehicleRecord* record = recordOf(p.standIn.vehicle);
        if (creaseNotBegun(*mesh.job)) {
            mesh.atomicFlags = game::atomicFlags(mesh.atomic);
            mesh.creaseSeed = record ? record->creaseSeed : p.creaseSeed;
        }
        p.standIn.totalVertices = static_cast<std::uint32_t>((record ? record->totalVertices : 0) + preparedVertices());
        p.standIn.creaseSeed = mesh.creaseSeed;
        DentRequest request{&p.standIn, {}, {}, 0.0f, 0.0f, 0, 0, false, true};
        DentStep step;
        {
            DivertedLines diverted(mesh.lines);
            step = advancePlannedDent(mesh.atomic, AtomicDent{}, request, *mesh.job, allowance);
        }
        if (!record && copyMade(mesh)) p.seedGiven = true;
        if (step == DentStep::Waiting) return;
        // Done: the copy and its lists are made, or the copy was refused.
        settle(mesh);
        ++p.next;
    }
}

void prepare(void* vehicle, bool resetRequested, WorkAllowance& allowance) {
    meter::Laps laps(meter::PreparationChecks);
    Preparation& p = preparation();
    if (p.standIn.vehicle && (resetRequested || !stillPrepared(p, vehicle))) releasePreparation();
    const host::Vehicle* v = handledVehicle(vehicle);
    if (!v || !recordList || settings.TrafficWorkPerFrame == 0) return;
    if (!p.standIn.vehicle) begin(p, vehicle, *v);
    p.health = v->health;
    dropTakenOver(p);
    if (host::clockMs() - p.since < kSeatedMs) return;
    // A frame with the car's own hit has had its work; so has one whose budget traffic spent.
    if (contactThisFrame(p) || (allowance.started && allowance.left == 0)) return;
    if (!p.planned) plan(p);
    laps.next(meter::KindCount);  // its steps meter themselves
    run(p, allowance);
}

}  // namespace

void preparePlayerVehicle(void* vehicle, bool resetRequested, WorkAllowance& allowance) {
    try {
        prepare(vehicle, resetRequested, allowance);
    } catch (...) {
        // Out of memory: what was prepared goes; the hit makes its copies itself.
        releasePreparation();
    }
}

void releasePreparation() {
    Preparation& p = preparation();
    for (PreparedMesh& mesh : p.meshes) dropCopy(mesh);
    p.meshes.clear();
    p.standIn.vehicle = nullptr;
    p.standIn.vehicleRef = 0;
    p.standIn.clump = nullptr;
    p.standIn.frameFacts.clear();
    p.planned = false;
    p.seedGiven = false;
    p.next = 0;
}

std::uint64_t preparedVertices() {
    std::uint64_t vertices = 0;
    for (const PreparedMesh& mesh : preparation().meshes) {
        vertices += verticesHeld(mesh);
    }
    return vertices;
}

const DentJob::MadeCopy* readyPreparedCopy(void* atomic, void* original, int kind, std::uint32_t creaseSeed) {
    for (const PreparedMesh& mesh : preparation().meshes) {
        if (mesh.atomic != atomic || mesh.original != original) continue;
        return copyReady(mesh) && sameAsNow(mesh, kind, creaseSeed) ? &mesh.job->made : nullptr;
    }
    return nullptr;
}

PreparedCopy takePreparedCopy(void* atomic, void* original, int kind, std::uint32_t creaseSeed, PanelState& panel) {
    Preparation& p = preparation();
    PreparedCopy taken;
    for (PreparedMesh& mesh : p.meshes) {
        if (mesh.atomic != atomic || mesh.original != original || !copyReady(mesh)) continue;
        DentJob::MadeCopy& made = mesh.job->made;
        if (sameAsNow(mesh, kind, creaseSeed)) {
            taken.copy = made.copy;
            made.copy = nullptr;
            panel = std::move(made.panel);
            // Lists begun and not finished are made again in one go.
            if (panel.kind != kNoPanel && !panelListsFit(panel, verticesOf(taken.copy))) panel.working.clear();
            taken.lines.swap(mesh.lines);
        }
        dropCopy(mesh);
        break;
    }
    return taken;
}

void takePreparedSeed(VehicleRecord& record) {
    const Preparation& p = preparation();
    if (p.seedGiven && p.standIn.vehicle == record.vehicle && p.standIn.vehicleRef == record.vehicleRef) {
        record.creaseSeed = p.creaseSeed;
    }
}

}  // namespace kerbmark
