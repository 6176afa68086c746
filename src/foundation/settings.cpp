#include "foundation/settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/fpu.h"

namespace kerbmark {

Settings settings;
bool diagnostics = false;

ModulePaths derivePaths(const char* modulePath) {
    char base[kPathSize];
    std::snprintf(base, sizeof base, "%s", modulePath);
    if (char* dot = std::strrchr(base, '.')) *dot = '\0';
    ModulePaths paths;
    std::snprintf(paths.ini, sizeof paths.ini, "%s.ini", base);
    std::snprintf(paths.log, sizeof paths.log, "%s.log", base);
    std::snprintf(paths.oldLog, sizeof paths.oldLog, "%s.old.log", base);
    return paths;
}

const char* fileNameOf(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    return name;
}

bool parseFloatValue(const char* text, float& value) {
    char* end = nullptr;
    float parsed;
    {
        // The 32-bit runtime's conversion computes partly on the x87.
        const dent::X87ExtendedPrecision extended;
        parsed = std::strtof(text, &end);
        dent::fpuOrderPoint(parsed);
    }
    if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

namespace {

constexpr std::size_t kValueBufferSize = 80;

// The value as text; the buffer is cleared first, so at most 79 characters are seen.
void readText(ProfileSource& source, const char* section, const char* key, char (&buffer)[kValueBufferSize]) {
    std::memset(buffer, 0, sizeof buffer);
    source.readString(section, key, buffer, sizeof buffer);
    buffer[kValueBufferSize - 1] = '\0';
}

float readFloat(ProfileSource& source, const char* section, const char* key, float defaultValue, float lo,
                float hi) {
    char buffer[kValueBufferSize];
    readText(source, section, key, buffer);
    float value;
    if (parseFloatValue(buffer, value))
        value = dent::clampTo(value, lo, hi);
    else
        value = defaultValue;
    source.took(section, key, value);
    return value;
}

std::uint32_t readUnsigned(ProfileSource& source, const char* section, const char* key, int defaultValue,
                           std::uint32_t lo, std::uint32_t hi) {
    std::uint32_t value = source.readInt(section, key, defaultValue);
    value = value < lo ? lo : (value < hi ? value : hi);
    source.took(section, key, value);
    return value;
}

bool readBool(ProfileSource& source, const char* section, const char* key, int defaultValue) {
    const bool value = source.readInt(section, key, defaultValue) != 0;
    source.took(section, key, value ? 1.0 : 0.0);
    return value;
}

// Empty or not a key's name: the default.
KeyCombination readKey(ProfileSource& source, const char* section, const char* key, KeyCombination defaultValue) {
    char buffer[kValueBufferSize];
    readText(source, section, key, buffer);
    KeyCombination value = defaultValue;
    parseKeyCombination(buffer, value);
    formatKeyCombination(value, buffer, sizeof buffer);
    source.tookText(section, key, buffer);
    return value;
}

}  // namespace

void readGeneralKeys(ProfileSource& source, Settings& target, bool& diagnosticsOut) {
    diagnosticsOut = readBool(source, "General", "Diagnostics", 0);
    target.LogHits = readBool(source, "General", "LogHits", 1);
    target.ReloadKey = readKey(source, "General", "ReloadKey", kDefaultReloadKey);
    target.MaxLogSizeKB = readUnsigned(source, "General", "MaxLogSizeKB", 4096, 0, 1048576);
}

bool readEnabled(ProfileSource& source) { return readBool(source, "General", "Enabled", 1); }

void readRemainingKeys(ProfileSource& source, Settings& s) {
    const char* const deformation = "Deformation";
    dent::ImpactConfig& impact = s.impact;
    // Each value is stored before the next is read: two bounds chain to earlier keys.
    impact.MinImpact = readFloat(source, deformation, "MinImpact", 0.04f, 0.005f, 0.3f);
    impact.ReferenceImpact = readFloat(source, deformation, "ReferenceImpact", 0.65f, impact.MinImpact + 0.01f, 3.0f);
    impact.Strength = readFloat(source, deformation, "Strength", 1.0f, 0.1f, 3.0f);
    impact.ImpactExponent = readFloat(source, deformation, "ImpactExponent", 1.15f, 0.5f, 2.0f);
    impact.MaxDentPerHit = readFloat(source, deformation, "MaxDentPerHit", 0.65f, 0.05f, 1.2f);
    impact.MinRadius = readFloat(source, deformation, "MinRadius", 1.1f, 0.3f, 2.0f);
    impact.MaxRadius = readFloat(source, deformation, "MaxRadius", 2.25f, impact.MinRadius, 3.5f);
    s.MaxTotalDisplacement = readFloat(source, deformation, "MaxTotalDisplacement", 1.05f, 0.1f, 1.6f);
    s.FalloffPower = readFloat(source, deformation, "FalloffPower", 0.65f, 0.35f, 2.0f);

    // A float in the file; the clamped value is truncated toward zero.
    s.ContactGapMs = static_cast<std::uint32_t>(readFloat(source, deformation, "ContactGapMs", 180.0f, 50.0f, 1000.0f));

    s.PanelBending = readBool(source, deformation, "PanelBending", 1);
    s.PanelAsymmetry = readBool(source, deformation, "PanelAsymmetry", 1);
    s.PanelWidthSegments = readUnsigned(source, deformation, "PanelWidthSegments", 6, 2, 12);
    s.PanelStrength = readFloat(source, deformation, "PanelStrength", 1.0f, 0.1f, 2.0f);
    s.PanelCrease = readFloat(source, deformation, "PanelCrease", 0.5f, 0.35f, 0.65f);
    s.PanelMaxCompression = readFloat(source, deformation, "PanelMaxCompression", 0.4f, 0.05f, 0.45f);
    s.PanelMaxLift = readFloat(source, deformation, "PanelMaxLift", 0.55f, 0.05f, 0.9f);
    s.PanelMinDepth = readFloat(source, deformation, "PanelMinDepth", 0.06f, 0.0f, 0.2f);
    s.PanelFollowBody = readBool(source, deformation, "PanelFollowBody", 1);
    s.PanelCreaseRandomness = readFloat(source, deformation, "PanelCreaseRandomness", 0.12f, 0.0f, 0.15f);

    s.RearDamage = readBool(source, "Lights", "RearDamage", 1);
    s.RearMinDepth = readFloat(source, "Lights", "RearMinDepth", 0.08f, 0.01f, 0.5f);

    s.CollisionEnabled = readBool(source, "Collision", "Enabled", 1);
    s.CollisionAffectNPCs = readBool(source, "Collision", "AffectNPCs", 1);
    s.RefineSpheres = readBool(source, "Collision", "RefineSpheres", 1);
    s.StrengthPercent = static_cast<float>(readUnsigned(source, "Collision", "StrengthPercent", 65, 10, 100)) / 100.0f;
    s.MaxCompressionCm = static_cast<float>(readUnsigned(source, "Collision", "MaxCompressionCm", 65, 10, 90)) / 100.0f;

    s.TrafficAffectNPCs = readBool(source, "Traffic", "AffectNPCs", 1);
    s.NPCRange = static_cast<float>(readUnsigned(source, "Traffic", "NPCRange", 100, 20, 200));
    s.MaxTrackedVehicles = readUnsigned(source, "Traffic", "MaxTrackedVehicles", 64, 16, 128);
    const std::uint32_t perFrame = source.readInt("Traffic", "MaxNPCPerFrame", 32);
    s.MaxNPCPerFrame = perFrame == 0 ? 1u : (perFrame < 64u ? perFrame : 64u);
    source.took("Traffic", "MaxNPCPerFrame", s.MaxNPCPerFrame);
    s.MaxTotalVertices = readUnsigned(source, "Traffic", "MaxTotalVertices", 400000, 50000, 1000000);
    s.TrafficWorkPerFrame = readUnsigned(source, "Traffic", "WorkPerFrame", 100000, 0, 100000000);
}

}  // namespace kerbmark
