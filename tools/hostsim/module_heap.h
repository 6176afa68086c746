// The module's heap as the host sees it: the module's imports of malloc,
// calloc, realloc and free (msvcrt.dll) replaced by wrappers that count the
// blocks it holds and their sizes (_msize), so that a host can tell whether
// the module's memory keeps growing.
#pragma once

#include <windows.h>

#include <cstdint>

namespace hostsim {

// Replaces the four imports; false when the module imports none of them.
// Blocks the module took before (while loading) count when it frees them, so
// the totals are only compared with each other, never read as absolutes.
bool countModuleHeap(HMODULE module);

struct HeapUse {
    std::int64_t bytes = 0;
    std::int64_t blocks = 0;
};
HeapUse moduleHeapUse();

}  // namespace hostsim
