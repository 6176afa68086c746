#include "host/keyboard.h"

#include <windows.h>

namespace kerbmark {

bool FrameKeyboard::down(std::uint8_t virtualKey) {
    if (!asked_[virtualKey]) {
        asked_[virtualKey] = 1;
        down_[virtualKey] = (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
    }
    return down_[virtualKey] != 0;
}

bool FrameKeyboard::down(const KeyCombination& combination) {
    // The modifiers are asked only once the key is down.
    return combination.key != 0 && down(combination.key) && down(kVirtualKeyShift) == combination.shift &&
           down(kVirtualKeyCtrl) == combination.ctrl && down(kVirtualKeyAlt) == combination.alt;
}

}  // namespace kerbmark
