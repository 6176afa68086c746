// The module's heap as the host sees it: the module's imports of malloc,
// calloc, realloc and free (msvcrt.dll) replaced by wrappers that take its
// blocks from a heap of its own and count the blocks it holds and their
// sizes, so that a host can tell whether the module's memory keeps growing.
#pragma once

#include <windows.h>

#include <cstdint>

namespace hostsim {

// Replaces the four imports; false when the module imports none of them (or
// the heap cannot be made). Blocks the module took before (while loading)
// stay the C runtime's and are not counted.
bool countModuleHeap(HMODULE module);

struct HeapUse {
    std::int64_t bytes = 0;
    std::int64_t blocks = 0;
};
HeapUse moduleHeapUse();

}  // namespace hostsim
