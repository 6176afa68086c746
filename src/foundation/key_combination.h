// A key with its modifiers, as an INI value names it ("Shift+F7", "Ctrl+R").
#pragma once

#include <cstddef>
#include <cstdint>

namespace kerbmark {

struct KeyCombination {
    std::uint8_t key = 0;  // Windows virtual-key code; 0: no key (turned off)
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

inline bool operator==(const KeyCombination& a, const KeyCombination& b) {
    return a.key == b.key && a.shift == b.shift && a.ctrl == b.ctrl && a.alt == b.alt;
}

// Windows virtual-key codes of the keys the module names.
constexpr std::uint8_t kVirtualKeyShift = 0x10;
constexpr std::uint8_t kVirtualKeyCtrl = 0x11;
constexpr std::uint8_t kVirtualKeyAlt = 0x12;
constexpr std::uint8_t kVirtualKeyF1 = 0x70;

// "0" is off; otherwise any of "Shift+", "Ctrl+", "Alt+" (any letter case and
// order, each at most once) before one of F1-F24, A-Z, 0-9. False for any
// other text, `combination` untouched.
bool parseKeyCombination(const char* text, KeyCombination& combination);

// The combination as parseKeyCombination reads it: "Shift+F7", "0".
void formatKeyCombination(const KeyCombination& combination, char* buffer, std::size_t size);

}  // namespace kerbmark
