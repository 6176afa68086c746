// Points host bindings at test doubles and puts every one back when the scope ends.
#pragma once

#include <functional>
#include <vector>

namespace testhost {

class BindingOverrides {
public:
    BindingOverrides() = default;
    BindingOverrides(const BindingOverrides&) = delete;
    BindingOverrides& operator=(const BindingOverrides&) = delete;
    ~BindingOverrides() {
        for (auto it = restore_.rbegin(); it != restore_.rend(); ++it) (*it)();
    }

    template <typename Fn>
    void set(Fn& binding, Fn replacement) {
        const Fn previous = binding;
        restore_.push_back([&binding, previous] { binding = previous; });
        binding = replacement;
    }

private:
    std::vector<std::function<void()>> restore_;
};

}  // namespace testhost
