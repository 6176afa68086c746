#include "foundation/ini_buffer.h"

#include <cctype>
#include <cstring>

namespace kerbmark {

namespace {

// The profile reader hands integers over from a 30-character buffer.
constexpr std::size_t kIntegerBufferSize = 30;
// Ctrl-Z, which old editors put at the end of a text file.
constexpr char kEndOfFile = 0x1A;

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == kEndOfFile; }

bool sameName(const std::string& a, const char* b, std::size_t length) {
    if (a.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Moves `first` and `last` inward past the blanks of text[first, last).
void trimBlanks(const std::string& text, std::size_t& first, std::size_t& last) {
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
}

// A name asked for, without the blanks around it.
void trimmedName(const char* name, const char*& start, std::size_t& length) {
    while (*name && isBlank(*name)) ++name;
    length = std::strlen(name);
    while (length > 0 && isBlank(name[length - 1])) --length;
    start = name;
}

// UTF-16 (either byte order) to one byte per character, '?' for what ASCII lacks.
std::string narrowed(const std::string& bytes, bool littleEndian) {
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned char low = static_cast<unsigned char>(bytes[littleEndian ? i : i + 1]);
        const unsigned char high = static_cast<unsigned char>(bytes[littleEndian ? i + 1 : i]);
        text += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
    }
    return text;
}

std::string decoded(const std::string& bytes) {
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return narrowed(bytes, true);
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return narrowed(bytes, false);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

// At most `size` - 1 characters of the value, without matching quotes around
// it (the closing one only when the whole value fits).
std::string copiedValue(const std::string& value, std::size_t size) {
    std::size_t start = 0;
    bool quoted = false;
    if (value.size() > 1 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0]) {
        quoted = true;
        start = 1;
    }
    const std::size_t rest = value.size() - start;
    std::string copy = value.substr(start, size > 0 ? std::min(rest, size - 1) : 0);
    if (quoted && size >= rest && !copy.empty()) copy.pop_back();
    return copy;
}

// A digit's value in bases up to 36; 36 for any other character.
unsigned digitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a') + 10u;
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A') + 10u;
    return 36u;
}

// The platform's reading of a whole number: blanks (any character up to the
// space), a sign, "0b", "0o" or "0x" for another base, then digits up to the
// first other character; wraps at 32 bits.
std::uint32_t wholeNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool minus = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) minus = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        const char prefix = text[i + 1];
        base = prefix == 'b' ? 2 : prefix == 'o' ? 8 : prefix == 'x' ? 16 : 10;
        if (base != 10) i += 2;
    }
    std::uint32_t total = 0;
    for (; i < text.size() && digitValue(text[i]) < base; ++i) total = total * base + digitValue(text[i]);
    return minus ? 0u - total : total;
}

}  // namespace

IniBuffer::IniBuffer(const std::string& bytes) : text_(decoded(bytes)) { parse(); }

void IniBuffer::parse() {
    sections_.push_back(Section{"", {}});  // lines before the first section header
    std::size_t next = 0;
    while (next < text_.size()) {
        const std::size_t start = next;
        std::size_t end = text_.find('\n', start);
        if (end == std::string::npos) end = text_.find('\r', start);
        next = end == std::string::npos ? text_.size() : end + 1;

        std::size_t first = start, last = next;
        trimBlanks(text_, first, last);
        if (first >= last) continue;

        if (text_[first] == '[') {
            const std::size_t close = text_.rfind(']', last - 1);
            if (close != std::string::npos && close > first) {
                std::size_t nameStart = first + 1, nameEnd = close;
                trimBlanks(text_, nameStart, nameEnd);
                sections_.push_back(Section{text_.substr(nameStart, nameEnd - nameStart), {}});
                continue;
            }
        }
        const std::size_t equals = text_.find('=', first);
        const bool hasValue = equals != std::string::npos && equals < last;
        std::size_t nameStart = first, nameEnd = hasValue ? equals : last;
        trimBlanks(text_, nameStart, nameEnd);
        std::size_t valueStart = hasValue ? equals + 1 : last, valueEnd = last;
        trimBlanks(text_, valueStart, valueEnd);

        std::vector<Entry>& entries = sections_.back().entries;
        // The reader keeps no two nameless lines in a row.
        if (nameEnd == nameStart && !entries.empty() && entries.back().name.empty()) continue;
        entries.push_back(Entry{text_.substr(nameStart, nameEnd - nameStart),
                                text_.substr(valueStart, valueEnd - valueStart), hasValue});
    }
}

const IniBuffer::Entry* IniBuffer::entry(const char* section, const char* key) const {
    const char* sectionName;
    const char* keyName;
    std::size_t sectionLength, keyLength;
    trimmedName(section, sectionName, sectionLength);
    trimmedName(key, keyName, keyLength);
    for (const Section& each : sections_) {
        if (!sameName(each.name, sectionName, sectionLength)) continue;
        // Only the first section of the name is looked in.
        for (const Entry& candidate : each.entries)
            if (sameName(candidate.name, keyName, keyLength)) return &candidate;
        return nullptr;
    }
    return nullptr;
}

bool IniBuffer::find(const char* section, const char* key, std::string& value) const {
    const Entry* found = entry(section, key);
    if (!found) return false;
    value = found->hasValue ? copiedValue(found->value, found->value.size() + 1) : std::string();
    return true;
}

std::uint32_t IniBuffer::readInt(const char* section, const char* key, int defaultValue) {
    const Entry* found = entry(section, key);
    const std::string text = found && found->hasValue ? copiedValue(found->value, kIntegerBufferSize) : std::string();
    if (text.empty()) return static_cast<std::uint32_t>(defaultValue);
    return wholeNumber(text);
}

void IniBuffer::readString(const char* section, const char* key, char* buffer, std::size_t size) {
    if (size == 0) return;
    const Entry* found = entry(section, key);
    const std::string text = found && found->hasValue ? copiedValue(found->value, size) : std::string();
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

bool IniBuffer::hasContent() const {
    for (char c : text_)
        if (!isBlank(c) && c != '\0') return true;
    return false;
}

bool IniBuffer::endsAtLineEnd() const {
    return !text_.empty() && (text_.back() == '\n' || text_.back() == '\r');
}

}  // namespace kerbmark
