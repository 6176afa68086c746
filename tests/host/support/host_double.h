// What the tests' sets of host doubles have in common: while one lives, the
// host bindings it sets point at functions that forward to it through
// `current`, and they are put back when it goes. One of a kind at a time.
#pragma once

#include <vector>

#include "host/support/binding_overrides.h"

namespace testhost {

template <typename Double>
class HostDouble {
public:
    static inline Double* current = nullptr;

    HostDouble(const HostDouble&) = delete;
    HostDouble& operator=(const HostDouble&) = delete;

protected:
    HostDouble() { current = static_cast<Double*>(this); }
    ~HostDouble() { current = nullptr; }

    BindingOverrides bindings_;
};

// A host record's array as the host leaves it: null when it holds nothing.
template <typename T>
T* arrayOrNull(std::vector<T>& items) {
    return items.empty() ? nullptr : items.data();
}

}  // namespace testhost
