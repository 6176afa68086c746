#include "foundation/setting_changes.h"

#include <algorithm>
#include <cstdio>

#include "foundation/fpu.h"

namespace kerbmark {

namespace {

bool sameKey(const TakenValue& a, const TakenValue& b) { return a.section == b.section && a.key == b.key; }

const TakenValue* valueOf(const std::vector<TakenValue>& values, const TakenValue& wanted) {
    auto found =
        std::find_if(values.begin(), values.end(), [&](const TakenValue& each) { return sameKey(each, wanted); });
    return found == values.end() ? nullptr : &*found;
}

}  // namespace

void NotingSource::took(const char* section, const char* key, double value) {
    char text[32];
    {
        // The 32-bit runtime formats floats partly on the x87.
        const dent::X87ExtendedPrecision extended;
        std::snprintf(text, sizeof text, "%g", value);
    }
    tookText(section, key, text);
}

void NotingSource::tookText(const char* section, const char* key, const char* value) {
    values.push_back(TakenValue{section, key, value});
}

std::vector<ChangedValue> changedValues(const std::vector<TakenValue>& before, const std::vector<TakenValue>& after) {
    std::vector<ChangedValue> changed;
    for (const TakenValue& value : after) {
        const TakenValue* earlier = valueOf(before, value);
        if (!earlier || earlier->value != value.value) changed.push_back(ChangedValue{earlier, &value});
    }
    return changed;
}

void takeValues(std::vector<TakenValue>& current, const std::vector<TakenValue>& read) {
    for (const TakenValue& value : read) {
        auto held =
            std::find_if(current.begin(), current.end(), [&](const TakenValue& each) { return sameKey(each, value); });
        if (held == current.end())
            current.push_back(value);
        else
            held->value = value.value;
    }
}

}  // namespace kerbmark
