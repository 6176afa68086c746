#include "host/material_guard.h"

#include <cstdio>

#include "deform/records.h"
#include "foundation/log.h"
#include "host/bindings.h"
#include "host/host_types.h"
#include "host/memory_check.h"

namespace kerbmark {

AlphaDrawRecord alphaDraw;
AlphaRendererFn savedAlphaRenderer = nullptr;
std::uint32_t alphaRefusalCount = 0;

namespace {

constexpr std::uintptr_t kHighestAtomic = 0xFFFFFF8F;    // atomic + 112 stays in the address space
constexpr std::uint32_t kAtomicProbeBytes = 112;
constexpr std::uint32_t kLoggedRefusals = 16;

// Puts the phase and the draw record back on every way out, so that a draw
// nested in another step leaves that step's state as it was.
class DrawScope {
public:
    DrawScope() : phase_(phase), record_(alphaDraw) {}
    ~DrawScope() {
        alphaDraw = record_;
        setPhase(phase_);
    }
    DrawScope(const DrawScope&) = delete;
    DrawScope& operator=(const DrawScope&) = delete;

private:
    const char* phase_;
    AlphaDrawRecord record_;
};

bool inRange(const void* pointer, std::uintptr_t highest) {
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    return address >= kLowestHostPointer && address <= highest;
}

// The geometry an atomic draws, and its material count, read only where
// readable. The walk carries what the queries found on to the table check.
void probe(void* atomic, void*& geometry, std::int32_t& materials, ReadableMemoryWalk& walk) {
    geometry = nullptr;
    materials = -1;
    if (!inRange(atomic, kHighestAtomic) || !walk.readable(atomic, kAtomicProbeBytes)) return;
    geometry = static_cast<host::Atomic*>(atomic)->geometry;
    if (!geometryRecordReadable(geometry, walk)) return;
    materials = static_cast<host::Geometry*>(geometry)->materialCount;
}

// Pointers are printed as eight upper-case hex digits whatever the C runtime's %p does.
unsigned long word(const void* pointer) {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer));
}

// Looks for the module's copy `geometry` among the records; marks the entry and
// puts the original back on the atomic when the vehicle is still the same and
// the original can be drawn. True when the original was attached.
bool restoreOriginalOf(void* atomic, void* geometry, std::int32_t& handle) {
    handle = -1;
    if (!atomic || !geometry || !recordList) return false;
    for (const auto& record : recordList->records) {
        for (MeshEntry& entry : record->meshes) {
            if (entry.copy != geometry) continue;
            handle = record->vehicleRef;
            entry.materialFault = true;
            if (vehicleStillSame(*record) && materialTableValid(entry.original)) {
                game::setGeometry(atomic, entry.original, 0);
                return true;
            }
            return false;
        }
    }
    return false;
}

void* guardedDraw(void* atomic, std::uint32_t extra) {
    void* geometry = nullptr;
    std::int32_t materials = -1;
    // The atomic, its geometry and the material table mostly share one heap
    // region: one region query then answers for all three. Nothing runs
    // between these checks that could change the host's memory.
    ReadableMemoryWalk walk;
    probe(atomic, geometry, materials, walk);
    alphaDraw = AlphaDrawRecord{atomic, geometry, materials, true};

    if (!materialTableValid(geometry, walk)) {
        std::int32_t handle = -1;
        const bool restored = restoreOriginalOf(atomic, geometry, handle);
        if (alphaRefusalCount++ < kLoggedRefusals) {
            logFormatted<240>(
                "MaterialGuard: alpha table invalid atomic=%08lX geometry=%08lX count=%d handle=%d action=%s",
                word(atomic), word(geometry), static_cast<int>(alphaDraw.materials), static_cast<int>(handle),
                restored ? "restore original" : "skip draw");
        }
        if (!restored) return atomic;
        // The atomic was readable above; what it draws now is the original,
        // asked about afresh since the host has changed the atomic.
        ReadableMemoryWalk afterRestore;
        probe(atomic, alphaDraw.geometry, alphaDraw.materials, afterRestore);
    }

    // Without the way back to the host's renderer there is nothing safe to call.
    if (!savedAlphaRenderer) return atomic;
    setPhase("render: guarded alpha draw");
    return savedAlphaRenderer(atomic, extra);
}

}  // namespace

void* alphaRenderGuard(void* atomic, std::uint32_t extra) {
    DrawScope scope;
    try {
        setPhase("render: alpha material validation");
        return guardedDraw(atomic, extra);
    } catch (...) {
        return atomic;
    }
}

}  // namespace kerbmark
