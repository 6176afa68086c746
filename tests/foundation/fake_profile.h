// In-memory stand-in for the platform's profile readers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "foundation/settings.h"

class FakeProfile final : public kerbmark::ProfileSource {
public:
    void set(const std::string& section, const std::string& key, const std::string& value) {
        values_[{section, key}] = value;
    }
    // Integers are handed over as the reader's 32-bit number (negative values wrap).
    std::uint32_t readInt(const char* section, const char* key, int defaultValue) override {
        ++reads_;
        auto it = values_.find({section, key});
        if (it == values_.end()) return static_cast<std::uint32_t>(defaultValue);
        return static_cast<std::uint32_t>(std::strtol(it->second.c_str(), nullptr, 10));
    }
    void readString(const char* section, const char* key, char* buffer, std::size_t size) override {
        ++reads_;
        auto it = values_.find({section, key});
        std::snprintf(buffer, size, "%s", it == values_.end() ? "" : it->second.c_str());
    }
    int reads() const { return reads_; }

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
    int reads_ = 0;
};
