// The reload key: on its press the next frame restores every vehicle and
// reads the INI file again, as start-up reads it, and the log lists what
// changed. A file that cannot be read whole changes nothing.
#pragma once

#include <vector>

#include "foundation/setting_changes.h"

namespace kerbmark {

class FrameKeyboard;

// General/Enabled as last read: off, the frame does nothing but watch the reload key.
extern bool moduleEnabled;

// The values start-up took, to tell what a reload changes.
void rememberStartupValues(std::vector<TakenValue> values);

// Watches the reload key; a press (not a key held on) asks for a reload in
// the next frame.
void watchReloadKey(FrameKeyboard& keys);

// The reload a press asked for in an earlier frame.
void runWaitingReload();

}  // namespace kerbmark
