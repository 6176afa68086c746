// Real memory with chosen states and protections, page by page, and a count of
// the region queries the module makes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/memory_check.h"

namespace testhost {

// A reserved block of whole pages; nothing is committed until asked.
class PageBlock {
public:
    explicit PageBlock(std::size_t pages);
    ~PageBlock();
    PageBlock(const PageBlock&) = delete;
    PageBlock& operator=(const PageBlock&) = delete;

    static std::size_t pageSize();
    // Commits one page read-write, then sets `protection` (PAGE_* values, may include PAGE_GUARD).
    void commit(std::size_t page, std::uint32_t protection);
    // Changes the protection of a committed page (fill it first, then protect).
    void protect(std::size_t page, std::uint32_t protection);
    std::uint8_t* page(std::size_t index) const { return base_ + index * pageSize(); }
    // The address `offset` bytes before the end of the page `index`.
    std::uint8_t* endOfPage(std::size_t index, std::size_t offset) const { return page(index + 1) - offset; }

private:
    std::uint8_t* base_;
    std::size_t pages_;
};

// Replaces kerbmark::regionQuery with a counting pass-through for its lifetime.
class RegionQueryCounter {
public:
    RegionQueryCounter();
    ~RegionQueryCounter();
    RegionQueryCounter(const RegionQueryCounter&) = delete;
    RegionQueryCounter& operator=(const RegionQueryCounter&) = delete;

    unsigned count() const;
    void reset();

private:
    kerbmark::RegionQueryFn previous_;
};

}  // namespace testhost
