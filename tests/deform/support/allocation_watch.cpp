#include "deform/support/allocation_watch.h"

#include <cstdlib>
#include <new>

#include "host/bindings.h"

namespace testdeform {

namespace {

LockedAllocationWatch* active = nullptr;
bool lockedNow = false;
game::LockFn forwardLock = nullptr;
game::UnlockFn forwardUnlock = nullptr;

void* watchedLock(void* geometry, std::int32_t mode) {
    void* locked = forwardLock(geometry, mode);
    if (locked) lockedNow = true;
    return locked;
}

void* watchedUnlock(void* geometry) {
    lockedNow = false;
    return forwardUnlock(geometry);
}

}  // namespace

LockedAllocationWatch::LockedAllocationWatch() {
    forwardLock = game::lock;
    forwardUnlock = game::unlock;
    bindings_.set(game::lock, static_cast<game::LockFn>(watchedLock));
    bindings_.set(game::unlock, static_cast<game::UnlockFn>(watchedUnlock));
    lockedNow = false;
    active = this;
}

LockedAllocationWatch::~LockedAllocationWatch() {
    active = nullptr;
    lockedNow = false;
}

bool LockedAllocationWatch::locked() const { return lockedNow; }

void LockedAllocationWatch::forgetLock() { lockedNow = false; }

}  // namespace testdeform

void* operator new(std::size_t size) {
    using testdeform::active;
    if (active && testdeform::lockedNow) {
        ++active->allocations;
        if (active->failing) {
            ++active->failures;
            throw std::bad_alloc();
        }
    }
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
