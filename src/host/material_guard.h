// Guard over the host's alpha renderer of atomics.
#pragma once

#include <cstdint>

namespace kerbmark {

// The draw in progress, printed by the crash report.
struct AlphaDrawRecord {
    void* atomic = nullptr;
    void* geometry = nullptr;
    std::int32_t materials = -1;
    bool active = false;
};
extern AlphaDrawRecord alphaDraw;

using AlphaRendererFn = void* (*)(void* atomic, std::uint32_t extra);
// The way to the host's own alpha renderer once it is hooked; null otherwise.
extern AlphaRendererFn savedAlphaRenderer;

// Draws refused because of an invalid material table; never reset. Only the
// first 16 refusals are logged.
extern std::uint32_t alphaRefusalCount;

// Replaces the host's alpha renderer: validates the material table first.
// A refused draw returns the atomic it was given, as the host's renderer does
// for a drawn one.
void* alphaRenderGuard(void* atomic, std::uint32_t extra);

}  // namespace kerbmark
