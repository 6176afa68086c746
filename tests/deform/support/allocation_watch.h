// The test executable's global operator new, watched while the driver holds
// a geometry locked through game::lock: allocations made then are counted and,
// on demand, fail with std::bad_alloc as an exhausted heap would.
#pragma once

#include "host/support/binding_overrides.h"

namespace testdeform {

class LockedAllocationWatch {
public:
    // Wraps game::lock and game::unlock as they are bound now. One at a time.
    LockedAllocationWatch();
    ~LockedAllocationWatch();
    LockedAllocationWatch(const LockedAllocationWatch&) = delete;
    LockedAllocationWatch& operator=(const LockedAllocationWatch&) = delete;

    // A geometry is locked and not unlocked since.
    bool locked() const;
    // Forgets a lock that was never released, so that the test can go on.
    void forgetLock();

    bool failing = false;      // allocations while locked throw std::bad_alloc
    unsigned allocations = 0;  // attempted while locked
    unsigned failures = 0;

private:
    testhost::BindingOverrides bindings_;
};

}  // namespace testdeform
