#include "host/support/memory_pages.h"

#include <windows.h>

namespace testhost {

namespace {

unsigned queries = 0;
kerbmark::RegionQueryFn passThrough = nullptr;

bool countingQuery(std::uintptr_t address, kerbmark::MemoryRegion& region) {
    ++queries;
    return passThrough(address, region);
}

}  // namespace

std::size_t PageBlock::pageSize() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
}

PageBlock::PageBlock(std::size_t pages)
    : base_(static_cast<std::uint8_t*>(VirtualAlloc(nullptr, pages * pageSize(), MEM_RESERVE, PAGE_NOACCESS))),
      pages_(pages) {}

PageBlock::~PageBlock() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

void PageBlock::commit(std::size_t index, std::uint32_t protection) {
    if (!base_ || index >= pages_) return;
    VirtualAlloc(page(index), pageSize(), MEM_COMMIT, PAGE_READWRITE);
    DWORD old = 0;
    if (protection != PAGE_READWRITE) VirtualProtect(page(index), pageSize(), protection, &old);
}

void PageBlock::protect(std::size_t index, std::uint32_t protection) {
    if (!base_ || index >= pages_) return;
    DWORD old = 0;
    VirtualProtect(page(index), pageSize(), protection, &old);
}

RegionQueryCounter::RegionQueryCounter() : previous_(kerbmark::regionQuery) {
    passThrough = previous_;
    queries = 0;
    kerbmark::regionQuery = countingQuery;
}

RegionQueryCounter::~RegionQueryCounter() { kerbmark::regionQuery = previous_; }

unsigned RegionQueryCounter::count() const { return queries; }

void RegionQueryCounter::reset() { queries = 0; }

}  // namespace testhost
