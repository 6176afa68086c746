// Which atomics of a car may be dented: those whose frames and ancestors name
// no excluded part, whose geometry is readable and of a deformable shape, and
// which are no faulted copy; a frame's panel words make a bonnet or boot.
#include "deform/atomic_names.h"

#include <cctype>
#include <cstring>

#include "deform/geometry_clone.h"
#include "deform/records.h"
#include "foundation/settings.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

namespace {

constexpr int kMaxFrameWalk = 24;
constexpr std::size_t kNameBuffer = 256;  // host frame names are far shorter
constexpr std::uintptr_t kPageSize = 0x1000;

constexpr std::uint32_t kNotDeformableFlag = 0x01000000;

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

// The record's facts of a frame of its car, walked the first time.
const FrameFacts& frameFactsOf(VehicleRecord& record, void* frame) {
    for (const FrameFacts& facts : record.frameFacts) {
        if (facts.frame == frame) return facts;
    }
    record.frameFacts.push_back(FrameFacts{frame, excludedByName(frame), panelKind(frame)});
    return record.frameFacts.back();
}

}  // namespace

std::uint32_t positionBytes(std::int32_t vertices) {
    return static_cast<std::uint32_t>(vertices) * static_cast<std::uint32_t>(sizeof(dent::Vec));
}

bool deformableShape(const host::Geometry* geometry) {
    if (!readableRange(geometry, sizeof *geometry)) return false;
    if (geometry->vertexBlockCount != 1) return false;
    if (geometry->vertexCount < 1 || geometry->vertexCount > kMaxMeshVertices) return false;
    if (geometry->flags & kNotDeformableFlag) return false;
    const host::VertexBlock* block = geometry->vertexBlock;
    if (!block || !readableRange(block, sizeof *block)) return false;
    return block->positions && readableRange(block->positions, positionBytes(geometry->vertexCount));
}

int panelKindOf(VehicleRecord& record, const host::Atomic& atomic) {
    return settings.PanelBending ? frameFactsOf(record, atomic.frame).panelKind : kNoPanel;
}

host::Atomic* deformableAtomic(void* atomicPointer, VehicleRecord& record, Names names) {
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

}  // namespace kerbmark
