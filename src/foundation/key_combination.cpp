#include "foundation/key_combination.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace kerbmark {

namespace {

constexpr int kFunctionKeys = 24;

bool sameLetters(const char* text, std::size_t length, const char* word) {
    if (std::strlen(word) != length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

// A modifier's flag in `combination`, or null when `text` names none.
bool* modifierNamed(const char* text, std::size_t length, KeyCombination& combination) {
    if (sameLetters(text, length, "shift")) return &combination.shift;
    if (sameLetters(text, length, "ctrl")) return &combination.ctrl;
    if (sameLetters(text, length, "alt")) return &combination.alt;
    return nullptr;
}

// The virtual-key code of a key name, 0 for none.
std::uint8_t keyNamed(const char* text, std::size_t length) {
    const unsigned char first = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (length == 1 && (std::isupper(first) || std::isdigit(first))) return first;
    if (first != 'F' || length < 2 || length > 3) return 0;
    int number = 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        number = number * 10 + (text[i] - '0');
    }
    if (text[1] == '0' || number < 1 || number > kFunctionKeys) return 0;
    return static_cast<std::uint8_t>(kVirtualKeyF1 + number - 1);
}

}  // namespace

bool parseKeyCombination(const char* text, KeyCombination& combination) {
    if (std::strcmp(text, "0") == 0) {
        combination = KeyCombination{};
        return true;
    }
    KeyCombination read;
    const char* part = text;
    for (;;) {
        const char* plus = std::strchr(part, '+');
        const std::size_t length = plus ? static_cast<std::size_t>(plus - part) : std::strlen(part);
        if (length == 0) return false;
        if (!plus) {
            read.key = keyNamed(part, length);
            if (read.key == 0) return false;
            combination = read;
            return true;
        }
        bool* modifier = modifierNamed(part, length, read);
        if (!modifier || *modifier) return false;
        *modifier = true;
        part = plus + 1;
    }
}

void formatKeyCombination(const KeyCombination& combination, char* buffer, std::size_t size) {
    if (combination.key == 0) {
        std::snprintf(buffer, size, "0");
        return;
    }
    char key[4];
    if (combination.key >= kVirtualKeyF1 && combination.key < kVirtualKeyF1 + kFunctionKeys)
        std::snprintf(key, sizeof key, "F%d", combination.key - kVirtualKeyF1 + 1);
    else
        std::snprintf(key, sizeof key, "%c", static_cast<char>(combination.key));
    std::snprintf(buffer, size, "%s%s%s%s", combination.ctrl ? "Ctrl+" : "", combination.alt ? "Alt+" : "",
                  combination.shift ? "Shift+" : "", key);
}

}  // namespace kerbmark
