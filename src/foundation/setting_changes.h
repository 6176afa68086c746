// The values a reading of the settings took, as text, and the keys whose
// values one reading changed from the one before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/settings.h"

namespace kerbmark {

struct TakenValue {
    std::string section;
    std::string key;
    std::string value;  // as the log shows it: "0.65", "1", "Shift+F7"
};

// Reads through `source` and notes the value each key ends up with.
class NotingSource final : public ProfileSource {
public:
    explicit NotingSource(ProfileSource& source) : source_(source) {}

    std::uint32_t readInt(const char* section, const char* key, int defaultValue) override {
        return source_.readInt(section, key, defaultValue);
    }
    void readString(const char* section, const char* key, char* buffer, std::size_t size) override {
        source_.readString(section, key, buffer, size);
    }
    void took(const char* section, const char* key, double value) override;
    void tookText(const char* section, const char* key, const char* value) override;

    std::vector<TakenValue> values;

private:
    ProfileSource& source_;
};

struct ChangedValue {
    const TakenValue* before;  // null: the key was not read before
    const TakenValue* after;
};

// The keys of `after` whose values differ from those in `before`, in the order of `after`.
std::vector<ChangedValue> changedValues(const std::vector<TakenValue>& before, const std::vector<TakenValue>& after);

// `current` with the values of `read` in place of its own (a reading that stopped
// early leaves the keys it did not reach as they were).
void takeValues(std::vector<TakenValue>& current, const std::vector<TakenValue>& read);

}  // namespace kerbmark
