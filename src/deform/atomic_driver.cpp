#include "deform/atomic_driver.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "deform/geometry_clone.h"
#include "deform/ordinary_path.h"
#include "deform/panel_paths.h"
#include "deform/records.h"
#include "foundation/log.h"
#include "foundation/settings.h"
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

// Whether `vertices` more fit under the all-vehicles budget. The player's
// vehicle comes first: other vehicles' records are evicted to make room for it.
bool withinAllVehiclesBudget(const VehicleRecord& record, std::uint64_t vertices, bool player) {
    const std::uint64_t budget = settings.MaxTotalVertices;
    if (!recordList) return record.totalVertices + vertices <= budget;
    // The hit handler stamped the record with the host clock of this hit.
    if (player) return makeVertexRoom(*recordList, record, vertices, budget, record.lastHit);
    return totalVerticesOfAllRecords(*recordList) + vertices <= budget;
}

bool copyWithinLimits(const host::Geometry* copy, const VehicleRecord& record, bool player) {
    // The same shape test as for the atomic's own geometry, flag 0x01000000
    // included: a copy that every later hit would refuse is not kept.
    if (!deformableShape(copy)) return false;
    const auto vertices = static_cast<std::uint64_t>(copy->vertexCount);
    if (record.totalVertices + vertices > kMaxVerticesPerVehicle) return false;
    return withinAllVehiclesBudget(record, vertices, player);
}

// Copies the atomic's geometry, records it and attaches the copy to the
// atomic. Null when a limit, the clone or the bookkeeping refuses; nothing of
// the copy is kept then.
MeshEntry* makeEntry(host::Atomic& atomic, VehicleRecord& record, host::Geometry* original, bool player) {
    if (record.meshes.size() >= kMaxMeshesPerVehicle) return nullptr;
    const auto originalVertices = static_cast<std::uint64_t>(original->vertexCount);
    if (record.totalVertices + originalVertices > kMaxVerticesPerVehicle) return nullptr;
    // Before the copy is made: an ordinary copy has the original's count, so
    // this is the final word for it; a panel rebuilt along its crease has more
    // vertices and is checked again below.
    if (!withinAllVehiclesBudget(record, originalVertices, player)) return nullptr;
    breadcrumb("atomic: clone geometry");
    void* copy = cloneGeometry(original);
    if (!copy) {
        logLine("Geometry clone failed; mesh skipped.");
        return nullptr;
    }
    PanelState panel;
    if (settings.PanelBending) {
        const int kind = panelKind(atomic.frame);
        if (kind != kNoPanel) copy = preparePanel(&atomic, kind, record.creaseSeed, copy, panel);
    }
    MeshEntry* entry = nullptr;
    const auto* copied = static_cast<const host::Geometry*>(copy);
    if (copyWithinLimits(copied, record, player)) {
        try {
            const dent::Vec* positions = copied->vertexBlock->positions;
            const auto count = static_cast<std::size_t>(copied->vertexCount);
            std::vector<dent::Vec> rest(positions, positions + count);
            if (panel.kind != kNoPanel) {
                const dent::Vec* normals = copied->vertexBlock->normals;
                if (normals && !readableRange(normals, positionBytes(copied->vertexCount))) normals = nullptr;
                fillPanelLists(panel, rest.data(), normals, count);
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

// The atomic when it may be deformed at all: readable, with a frame and a
// geometry of a deformable shape, not excluded by name, not a faulted copy.
host::Atomic* deformableAtomic(void* atomicPointer, const VehicleRecord& record) {
    if (!atomicPointer) return nullptr;
    if (!readableRange(atomicPointer, sizeof(host::Atomic))) return nullptr;
    auto& atomic = *static_cast<host::Atomic*>(atomicPointer);
    host::Frame* frame = atomic.frame;
    host::Geometry* geometry = atomic.geometry;

    if (faultedGeometry(record, geometry)) return nullptr;
    if (!frame || !geometry) return nullptr;
    if (excludedByName(frame)) return nullptr;
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

// Reach, the copy on the first reach, and the displacement of one atomic.
void dentAtomic(host::Atomic& atomic, const AtomicDent& at, DentRequest& request, MeshWork& work) {
    VehicleRecord& record = *request.record;
    host::Geometry* geometry = atomic.geometry;
    const dent::Vec hit = at.hit;
    const dent::Vec direction = at.direction;

    MeshEntry* entry = entryOfCopy(record, geometry);
    const auto vertexCount = static_cast<std::size_t>(geometry->vertexCount);
    if (entry && entry->restPositions.size() != vertexCount) return;
    const dent::Vec* reachFrom = entry ? entry->restPositions.data() : geometry->vertexBlock->positions;
    work.scanned += static_cast<std::uint32_t>(vertexCount);
    if (!dent::reachesAny(reachFrom, vertexCount, hit, request.radius)) return;

    if (!entry) {
        entry = makeEntry(atomic, record, geometry, request.player);
        if (!entry) return;
        geometry = static_cast<host::Geometry*>(entry->copy);
        work.copied += static_cast<std::uint32_t>(vertexCount);
        if (entry->panel.kind != kNoPanel) work.rebuilt += static_cast<std::uint32_t>(vertexCount);
    }

    PanelState& panel = entry->panel;
    const bool panelPath = panel.kind != kNoPanel;
    breadcrumb("atomic: lock vertices");
    const std::int32_t lockMode = panelPath && !panel.restNormals.empty() ? kLockPositionsAndNormals : kLockPositions;
    if (!game::lock(geometry, lockMode)) return;
    LockedGeometry locked(geometry);

    breadcrumb("atomic: displace vertices");
    host::VertexBlock* block = geometry->vertexBlock;
    const std::size_t count = entry->restPositions.size();
    if (!block || !readableRange(block, sizeof *block) || !block->positions ||
        !readableRange(block->positions, positionBytes(static_cast<std::int32_t>(count)))) {
        return;
    }
    const bool sameEpisode = entry->lastEpisode == request.episode;
    const float previousDepth = sameEpisode ? entry->lastDepth : 0.0f;
    const float previousRadius = sameEpisode ? entry->lastRadius : 0.0f;
    const dent::DentArguments arguments{hit,           direction,      request.depth, request.radius,
                                        previousDepth, previousRadius, settings.MaxTotalDisplacement,
                                        settings.FalloffPower};
    if (panelPath && panelListsFit(panel, count)) {
        dent::Vec* normals = block->normals;
        if (normals && !readableRange(normals, positionBytes(static_cast<std::int32_t>(count)))) normals = nullptr;
        if (settings.PanelAsymmetry) {
            surfacePath(panel, entry->restPositions.data(), block->positions, normals, count, arguments);
        } else {
            foldPath(panel, !sameEpisode, entry->restPositions.data(), block->positions, normals, count, arguments);
        }
        work.panelDented += static_cast<std::uint32_t>(count);
    } else {
        dent::dentMesh(entry->restPositions.data(), block->positions, count, arguments);
        work.dented += static_cast<std::uint32_t>(count);
    }
    entry->lastEpisode = request.episode;
    entry->lastDepth = request.depth;
    entry->lastRadius = request.radius;
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

void deform(void* atomicPointer, DentRequest* request) {
    breadcrumb("atomic: begin / inspect frame and geometry");
    if (!request || !request->record) return;
    host::Atomic* atomic = deformableAtomic(atomicPointer, *request->record);
    if (!atomic) return;
    AtomicDent at{};
    if (!dentInFrame(*atomic, *request, at)) return;
    MeshWork work{};
    dentAtomic(*atomic, at, *request, work);
}

void plan(void* atomicPointer, DentPlan* plan) {
    if (!plan || !plan->request || !plan->request->record || !plan->dents) return;
    host::Atomic* atomic = deformableAtomic(atomicPointer, *plan->request->record);
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

void* planAtomicDent(void* atomic, void* data) {
    try {
        plan(atomic, static_cast<DentPlan*>(data));
    } catch (...) {
        // Out of memory: this atomic is not planned; the enumeration goes on.
    }
    return atomic;
}

MeshWork dentPlannedAtomic(void* atomicPointer, const AtomicDent& at, DentRequest& request) {
    MeshWork work{};
    try {
        breadcrumb("atomic: begin / inspect frame and geometry");
        if (!request.record) return work;
        host::Atomic* atomic = deformableAtomic(atomicPointer, *request.record);
        if (atomic) dentAtomic(*atomic, at, request, work);
    } catch (...) {
        // As for deformAtomic: the atomic is left as it is.
    }
    return work;
}

void* deformAtomic(void* atomic, void* request) {
    try {
        deform(atomic, static_cast<DentRequest*>(request));
    } catch (...) {
        // Nothing may reach the host's enumeration; the atomic is left as it is.
    }
    return atomic;
}

}  // namespace kerbmark
