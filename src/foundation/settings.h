// Module settings, read from the INI file beside the module at start-up and
// again on the reload key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/key_combination.h"
#include "impact/response.h"

namespace kerbmark {

constexpr std::size_t kPathSize = 260;

// Shift+F7: beside F7, which restores the player's car.
constexpr KeyCombination kDefaultReloadKey{static_cast<std::uint8_t>(kVirtualKeyF1 + 6), true, false, false};

// Every tunable value; fields 1-7 form the impact configuration, so the
// record starts with it. Initialised to the defaults.
struct Settings {
    dent::ImpactConfig impact{0.04f, 0.65f, 1.0f, 1.15f, 0.65f, 1.1f, 2.25f};
    float MaxTotalDisplacement = 1.05f;
    float FalloffPower = 0.65f;
    std::uint32_t ContactGapMs = 180;
    bool LogHits = true;
    bool PanelBending = true;
    bool PanelAsymmetry = true;
    std::uint32_t PanelWidthSegments = 6;
    float PanelStrength = 1.0f;
    float PanelCrease = 0.5f;
    float PanelMaxCompression = 0.4f;
    float PanelMaxLift = 0.55f;
    float PanelMinDepth = 0.06f;
    float PanelCreaseRandomness = 0.12f;
    bool PanelFollowBody = true;
    bool RearDamage = true;
    float RearMinDepth = 0.08f;
    bool CollisionEnabled = true;
    bool CollisionAffectNPCs = true;
    bool RefineSpheres = true;
    float StrengthPercent = 0.65f;
    float MaxCompressionCm = 0.65f;
    bool TrafficAffectNPCs = true;
    float NPCRange = 100.0f;
    std::uint32_t MaxTrackedVehicles = 64;
    std::uint32_t MaxNPCPerFrame = 32;
    std::uint32_t MaxTotalVertices = 400000;
    // Traffic mesh work per frame, in work units (see the hit handler); 0: all at once.
    std::uint32_t TrafficWorkPerFrame = 100000;
    // Reads the INI again (restoring every vehicle first).
    KeyCombination ReloadKey = kDefaultReloadKey;
    // A log larger than this at start-up is moved aside; 0: never.
    std::uint32_t MaxLogSizeKB = 4096;
};

// The process-wide settings and the separate diagnostics switch.
extern Settings settings;
extern bool diagnostics;

// INI and log paths derived from the module's own path, and the name the log
// is moved to when it grows past its limit.
struct ModulePaths {
    char ini[kPathSize];
    char log[kPathSize];
    char oldLog[kPathSize];
};

// Cuts the module path at its last '.' (anywhere in the path) and appends
// ".ini", ".log" and ".old.log"; results longer than 259 characters are truncated.
ModulePaths derivePaths(const char* modulePath);

// The part of a path after its last '\\' or '/': the name the log gives a file.
const char* fileNameOf(const char* path);

// Where the keys come from: the platform's profile readers, or a test double.
class ProfileSource {
public:
    virtual ~ProfileSource() = default;
    // The value as the reader's 32-bit number (taken as unsigned), or the default.
    virtual std::uint32_t readInt(const char* section, const char* key, int defaultValue) = 0;
    // The value as text into a buffer of `size` bytes, "" when missing.
    virtual void readString(const char* section, const char* key, char* buffer, std::size_t size) = 0;
    // Told the value each key ends up with (after its range or its default):
    // a preview lists the values that differ from the file. Bools as 0 or 1.
    virtual void took(const char* /*section*/, const char* /*key*/, double /*value*/) {}
    // The same for a key whose value is a name (ReloadKey).
    virtual void tookText(const char* /*section*/, const char* /*key*/, const char* /*value*/) {}
};

// The three reading steps of start-up (and of a reload).
// Diagnostics, LogHits, ReloadKey, MaxLogSizeKB: those that hold even when the module is off.
void readGeneralKeys(ProfileSource& source, Settings& target, bool& diagnosticsOut);
bool readEnabled(ProfileSource& source);                                             // General/Enabled != 0
void readRemainingKeys(ProfileSource& source, Settings& target);                     // everything else, in order

// strtof consumed the whole text (at least one character) and the result is finite.
bool parseFloatValue(const char* text, float& value);

}  // namespace kerbmark
