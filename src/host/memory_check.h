// Whether host memory may be read, and whether a geometry's material table can be trusted.
#pragma once

#include <cstdint>

namespace kerbmark {

// Every byte of [start, start + length) lies in committed, readable memory.
// A range that runs past the end of the address space is not readable.
bool readableRange(std::uintptr_t start, std::uint32_t length);
inline bool readableRange(const void* start, std::uint32_t length) {
    return readableRange(reinterpret_cast<std::uintptr_t>(start), length);
}

// readableRange for a walk over many host records in one frame: remembers the
// last readable runs of regions it found (a few), so that records lying in the
// same pools cost one region query for all of them instead of one each. Valid
// only while the host cannot change its memory, i.e. within one call on the
// game thread that hands the host nothing to free.
class ReadableMemoryWalk {
public:
    bool readable(std::uintptr_t start, std::uint32_t length);
    bool readable(const void* start, std::uint32_t length) {
        return readable(reinterpret_cast<std::uintptr_t>(start), length);
    }

private:
    static constexpr int kRuns = 8;
    struct Run {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
    };
    Run runs_[kRuns];
    int nextRun_ = 0;  // the run a new one replaces
};

// While it lives, readableRange on the thread that made it answers through
// one ReadableMemoryWalk; other threads are not affected. Made on the game
// thread only, around host reads during which the module calls nothing that
// may free host memory (a traffic hit's planning, say).
class ReadableMemoryScope {
public:
    ReadableMemoryScope();
    ~ReadableMemoryScope();
    ReadableMemoryScope(const ReadableMemoryScope&) = delete;
    ReadableMemoryScope& operator=(const ReadableMemoryScope&) = delete;

private:
    ReadableMemoryWalk walk_;
    ReadableMemoryScope* outer_;
    std::uint32_t outerThread_;
    friend bool readableRange(std::uintptr_t start, std::uint32_t length);
};

// Host pointers below 64 KiB are never valid; a geometry record (96 bytes)
// must also end before the top of the address space.
constexpr std::uintptr_t kLowestHostPointer = 0x10000;
constexpr std::uintptr_t kHighestGeometry = 0xFFFFFF9F;

// The 96-byte geometry record lies in that range and in readable memory.
bool geometryRecordReadable(const void* geometry);
bool geometryRecordReadable(const void* geometry, ReadableMemoryWalk& walk);

// The geometry's material table (count 1..128, capacity <= 4096, readable,
// aligned material pointers above 64 KiB) can be handed to the renderer.
// The record and its table usually lie in one region: one query answers both.
bool materialTableValid(const void* geometry);
// The same within a walk that may already know the memory (one draw's checks).
bool materialTableValid(const void* geometry, ReadableMemoryWalk& walk);

// One memory region as the platform describes it (base, size, state, protection
// with the platform's values: committed 0x1000, guard 0x100, no access 0x01).
struct MemoryRegion {
    std::uintptr_t base = 0;
    std::uintptr_t size = 0;
    std::uint32_t state = 0;
    std::uint32_t protection = 0;
};

// Describes the region that contains `address`; false when the platform cannot.
using RegionQueryFn = bool (*)(std::uintptr_t address, MemoryRegion& region);

// The region query used by readableRange: the platform's VirtualQuery unless a
// test counts or replaces it.
extern RegionQueryFn regionQuery;
bool platformRegionQuery(std::uintptr_t address, MemoryRegion& region);

}  // namespace kerbmark
