// Settings source backed by the platform's profile readers (Windows).
#pragma once

#include "foundation/settings.h"

namespace kerbmark {

class IniFile final : public ProfileSource {
public:
    explicit IniFile(const char* path) : path_(path) {}
    std::uint32_t readInt(const char* section, const char* key, int defaultValue) override;
    void readString(const char* section, const char* key, char* buffer, std::size_t size) override;

private:
    const char* path_;
};

}  // namespace kerbmark
