// Settings read from an INI file's bytes held in memory, by the rules of the
// platform's profile readers: the file is read once, whole, and every key
// comes from that one reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/settings.h"

namespace kerbmark {

class IniBuffer final : public ProfileSource {
public:
    // `bytes`: the file as read (ANSI, UTF-8 or UTF-16 with its byte-order
    // mark); empty for a missing file.
    explicit IniBuffer(const std::string& bytes);

    std::uint32_t readInt(const char* section, const char* key, int defaultValue) override;
    void readString(const char* section, const char* key, char* buffer, std::size_t size) override;

    // The value of `key` in the first section named `section` (letter case
    // aside), without the quotes around it; false when either is missing.
    bool find(const char* section, const char* key, std::string& value) const;

    // Holds something besides white space.
    bool hasContent() const;
    // Its last character ends a line: a file cut off while it was being
    // written mostly ends inside a line.
    bool endsAtLineEnd() const;

private:
    struct Entry {
        std::string name;
        std::string value;
        bool hasValue;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    // The entry as the profile reader keeps it (quotes still on), or null.
    const Entry* entry(const char* section, const char* key) const;
    void parse();

    std::string text_;
    std::vector<Section> sections_;
};

}  // namespace kerbmark
