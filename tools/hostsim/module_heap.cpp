#include "module_heap.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>

#include "module_loader.h"

namespace hostsim {

namespace {

// The module may allocate on threads of its own.
std::atomic<std::int64_t> g_bytes{0};
std::atomic<std::int64_t> g_blocks{0};

void took(void* block) {
    if (!block) return;
    g_bytes += static_cast<std::int64_t>(_msize(block));
    ++g_blocks;
}

void gives(void* block) {
    if (!block) return;
    g_bytes -= static_cast<std::int64_t>(_msize(block));
    --g_blocks;
}

void* __cdecl countedMalloc(std::size_t size) {
    void* block = std::malloc(size);
    took(block);
    return block;
}

void* __cdecl countedCalloc(std::size_t count, std::size_t size) {
    void* block = std::calloc(count, size);
    took(block);
    return block;
}

// realloc(block, 0) frees the block and answers null; a refused realloc keeps it.
void* __cdecl countedRealloc(void* block, std::size_t size) {
    const std::int64_t before = block ? static_cast<std::int64_t>(_msize(block)) : 0;
    void* moved = std::realloc(block, size);
    if (moved) {
        g_bytes += static_cast<std::int64_t>(_msize(moved)) - before;
        if (!block) ++g_blocks;
    } else if (block && size == 0) {
        g_bytes -= before;
        --g_blocks;
    }
    return moved;
}

void __cdecl countedFree(void* block) {
    gives(block);
    std::free(block);
}

}  // namespace

bool countModuleHeap(HMODULE module) {
    bool any = false;
    any |= replaceImport(module, "msvcrt.dll", "malloc", reinterpret_cast<const void*>(&countedMalloc));
    any |= replaceImport(module, "msvcrt.dll", "calloc", reinterpret_cast<const void*>(&countedCalloc));
    any |= replaceImport(module, "msvcrt.dll", "realloc", reinterpret_cast<const void*>(&countedRealloc));
    any |= replaceImport(module, "msvcrt.dll", "free", reinterpret_cast<const void*>(&countedFree));
    return any;
}

HeapUse moduleHeapUse() { return HeapUse{g_bytes.load(), g_blocks.load()}; }

}  // namespace hostsim
