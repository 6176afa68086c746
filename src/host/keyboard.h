// The keyboard as one frame of the module sees it: each key is asked of the
// system at most once a frame, so that every reading of a key agrees.
#pragma once

#include <cstdint>

#include "foundation/key_combination.h"

namespace kerbmark {

class FrameKeyboard {
public:
    bool down(std::uint8_t virtualKey);
    // Its key is down with exactly its modifiers; never for a combination without a key.
    bool down(const KeyCombination& combination);

private:
    std::uint8_t asked_[256] = {};
    std::uint8_t down_[256] = {};
};

}  // namespace kerbmark
