#include "host/memory_check.h"

#include <windows.h>

#include "host/host_types.h"

namespace kerbmark {

namespace {

constexpr std::uint32_t kCommitted = 0x1000;
constexpr std::uint32_t kNoAccessOrGuard = 0x101;
constexpr std::int32_t kMaxMaterials = 128;
constexpr std::int32_t kMaxCapacity = 4096;

bool readableProtection(std::uint32_t protection) {
    switch (protection & 0xFF) {
        case PAGE_READONLY:
        case PAGE_READWRITE:
        case PAGE_WRITECOPY:
        case PAGE_EXECUTE_READ:
        case PAGE_EXECUTE_READWRITE:
        case PAGE_EXECUTE_WRITECOPY:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool platformRegionQuery(std::uintptr_t address, MemoryRegion& region) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &info, sizeof info) != sizeof info) return false;
    region.base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    region.size = info.RegionSize;
    region.state = info.State;
    region.protection = info.Protect;
    return true;
}

RegionQueryFn regionQuery = platformRegionQuery;

namespace {

// Walks the regions of [start, start + length) and reports the readable run
// they form, from the base of the first region to the end of the last.
bool readableRun(std::uintptr_t start, std::uint32_t length, std::uintptr_t& runStart, std::uintptr_t& runEnd) {
    const std::uintptr_t end = start + length;
    // A range that wraps past the top of the address space would otherwise end
    // "before" it starts and pass without a single query.
    if (end < start) return false;
    std::uintptr_t p = start;
    runStart = start;
    while (p < end) {
        MemoryRegion region;
        if (!regionQuery(p, region)) return false;
        if (region.state != kCommitted) return false;
        if ((region.protection & kNoAccessOrGuard) != 0) return false;
        if (!readableProtection(region.protection)) return false;
        const std::uintptr_t next = region.base + region.size;
        if (next <= p) return false;
        if (p == start) runStart = region.base;
        p = next;
    }
    runEnd = p;
    return true;
}

}  // namespace

namespace {

// The innermost live scope and the thread that made it. Scopes are made on
// the game thread only; any other thread sees another thread's id here and
// never looks at the scope.
ReadableMemoryScope* volatile g_scope = nullptr;
volatile std::uint32_t g_scopeThread = 0;

}  // namespace

ReadableMemoryScope::ReadableMemoryScope() : outer_(g_scope), outerThread_(g_scopeThread) {
    g_scope = this;
    g_scopeThread = GetCurrentThreadId();
}

ReadableMemoryScope::~ReadableMemoryScope() {
    g_scopeThread = outerThread_;
    g_scope = outer_;
}

bool readableRange(std::uintptr_t start, std::uint32_t length) {
    if (length == 0) return true;
    if (g_scopeThread == GetCurrentThreadId() && g_scope) return g_scope->walk_.readable(start, length);
    std::uintptr_t runStart, runEnd;
    return readableRun(start, length, runStart, runEnd);
}

bool ReadableMemoryWalk::readable(std::uintptr_t start, std::uint32_t length) {
    if (length == 0) return true;
    const std::uintptr_t end = start + length;
    if (end >= start) {
        for (const Run& run : runs_) {
            if (start >= run.start && end <= run.end) return true;
        }
    }
    std::uintptr_t runStart, runEnd;
    if (!readableRun(start, length, runStart, runEnd)) return false;
    runs_[nextRun_] = Run{runStart, runEnd};
    nextRun_ = (nextRun_ + 1) % kRuns;
    return true;
}

bool geometryRecordReadable(const void* geometry, ReadableMemoryWalk& walk) {
    const auto address = reinterpret_cast<std::uintptr_t>(geometry);
    if (address < kLowestHostPointer || address > kHighestGeometry) return false;
    return walk.readable(address, sizeof(host::Geometry));
}

bool geometryRecordReadable(const void* geometry) {
    ReadableMemoryWalk walk;
    return geometryRecordReadable(geometry, walk);
}

bool materialTableValid(const void* geometry) {
    ReadableMemoryWalk walk;
    return materialTableValid(geometry, walk);
}

bool materialTableValid(const void* geometry, ReadableMemoryWalk& walk) {
    if (!geometryRecordReadable(geometry, walk)) return false;

    const auto& g = *static_cast<const host::Geometry*>(geometry);
    const std::int32_t capacity = g.materialCapacity;
    const std::int32_t count = g.materialCount;
    if (capacity > kMaxCapacity) return false;
    if (count < 1 || count > kMaxMaterials || capacity < count) return false;

    const auto table = reinterpret_cast<std::uintptr_t>(g.materials);
    const std::uint32_t tableBytes = 4u * static_cast<std::uint32_t>(count);
    if (table < kLowestHostPointer || table + tableBytes < table) return false;
    if (!walk.readable(table, tableBytes)) return false;

    for (std::int32_t i = 0; i < count; ++i) {
        const auto material = reinterpret_cast<std::uintptr_t>(g.materials[i]);
        if (material < kLowestHostPointer || (material & 3u) != 0) return false;
    }
    return true;
}

}  // namespace kerbmark
