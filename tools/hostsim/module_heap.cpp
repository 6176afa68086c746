#include "module_heap.h"

#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "module_loader.h"

namespace hostsim {

namespace {

// The module's blocks come from a heap of their own, so that its memory is
// counted exactly and the host's own allocations, made and freed beside the
// module's for a long drive, do not fragment one heap shared by both.
HANDLE moduleHeap() {
    static const HANDLE heap = HeapCreate(0, 0, 0);
    return heap;
}

// The module may allocate on threads of its own.
std::atomic<std::int64_t> g_bytes{0};
std::atomic<std::int64_t> g_blocks{0};

// A block of the module's heap, not one the module took from the C runtime
// while it was loading, before its imports were replaced.
bool ofModuleHeap(void* block) { return HeapValidate(moduleHeap(), 0, block) != 0; }

std::int64_t sizeOf(void* block) { return static_cast<std::int64_t>(HeapSize(moduleHeap(), 0, block)); }

void* took(void* block) {
    if (!block) return nullptr;
    g_bytes += sizeOf(block);
    ++g_blocks;
    return block;
}

void* __cdecl countedMalloc(std::size_t size) { return took(HeapAlloc(moduleHeap(), 0, size)); }

void* __cdecl countedCalloc(std::size_t count, std::size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    return took(HeapAlloc(moduleHeap(), HEAP_ZERO_MEMORY, count * size));
}

void __cdecl countedFree(void* block) {
    if (!block) return;
    if (!ofModuleHeap(block)) {
        std::free(block);
        return;
    }
    g_bytes -= sizeOf(block);
    --g_blocks;
    HeapFree(moduleHeap(), 0, block);
}

// realloc(block, 0) frees the block and answers null; a refused realloc keeps it.
void* __cdecl countedRealloc(void* block, std::size_t size) {
    if (!block) return countedMalloc(size);
    if (size == 0) {
        countedFree(block);
        return nullptr;
    }
    if (!ofModuleHeap(block)) return std::realloc(block, size);
    const std::int64_t before = sizeOf(block);
    void* moved = HeapReAlloc(moduleHeap(), 0, block, size);
    if (moved) g_bytes += sizeOf(moved) - before;
    return moved;
}

}  // namespace

bool countModuleHeap(HMODULE module) {
    if (!moduleHeap()) return false;
    bool any = false;
    any |= replaceImport(module, "msvcrt.dll", "malloc", reinterpret_cast<const void*>(&countedMalloc));
    any |= replaceImport(module, "msvcrt.dll", "calloc", reinterpret_cast<const void*>(&countedCalloc));
    any |= replaceImport(module, "msvcrt.dll", "realloc", reinterpret_cast<const void*>(&countedRealloc));
    any |= replaceImport(module, "msvcrt.dll", "free", reinterpret_cast<const void*>(&countedFree));
    return any;
}

HeapUse moduleHeapUse() { return HeapUse{g_bytes.load(), g_blocks.load()}; }

}  // namespace hostsim
