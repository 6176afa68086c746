// The settings read through the platform's own profile readers from real files.
#include <gtest/gtest.h>

#include "foundation/profile_ini.h"
#include "foundation/settings.h"
#include "foundation/temp_dir.h"

namespace {

using kerbmark::IniFile;
using kerbmark::Settings;

TEST(IniSettings, MissingFileGivesDefaults) {
    TempDir dir;
    const std::string path = dir.file("Kerbmark.ini");
    IniFile ini(path.c_str());
    Settings s;
    bool diagnostics = true;
    kerbmark::readGeneralKeys(ini, s, diagnostics);
    EXPECT_FALSE(diagnostics);
    EXPECT_TRUE(s.LogHits);
    EXPECT_TRUE(kerbmark::readEnabled(ini));
    kerbmark::readRemainingKeys(ini, s);
    EXPECT_EQ(s.impact.MinImpact, 0.04f);
    EXPECT_EQ(s.MaxNPCPerFrame, 32u);
}

TEST(IniSettings, ValuesComeThroughThePlatformReaders) {
    TempDir dir;
    const std::string path = dir.file("Kerbmark.ini");
    writeFile(path,
              "[General]\r\nDiagnostics=1\r\nLogHits=0\r\n"
              "[Deformation]\r\nMinImpact=0.3\r\nReferenceImpact=0.1\r\nStrength=abc\r\n"
              "MaxDentPerHit=0.5x\r\nFalloffPower=nan\r\nContactGapMs=99.9\r\nMinRadius=\r\n"
              "PanelWidthSegments=40\r\n"
              "[Collision]\r\nEnabled=0\r\nStrengthPercent=5\r\n"
              "[Traffic]\r\nMaxTotalVertices=-1\r\nMaxNPCPerFrame=0\r\nNPCRange=150\r\n");
    IniFile ini(path.c_str());
    Settings s;
    bool diagnostics = false;
    kerbmark::readGeneralKeys(ini, s, diagnostics);
    EXPECT_TRUE(diagnostics);
    EXPECT_FALSE(s.LogHits);
    kerbmark::readRemainingKeys(ini, s);
    EXPECT_EQ(s.impact.MinImpact, 0.3f);
    EXPECT_EQ(s.impact.ReferenceImpact, 0.31f);
    EXPECT_EQ(s.impact.Strength, 1.0f);
    EXPECT_EQ(s.impact.MaxDentPerHit, 0.65f);
    EXPECT_EQ(s.impact.MinRadius, 1.1f);
    EXPECT_EQ(s.FalloffPower, 0.65f);
    EXPECT_EQ(s.ContactGapMs, 99u);
    EXPECT_EQ(s.PanelWidthSegments, 12u);
    EXPECT_FALSE(s.CollisionEnabled);
    EXPECT_EQ(s.StrengthPercent, 0.1f);
    EXPECT_EQ(s.MaxTotalVertices, 1000000u);
    EXPECT_EQ(s.MaxNPCPerFrame, 1u);
    EXPECT_EQ(s.NPCRange, 150.0f);
}

TEST(IniSettings, EnabledZeroIsSeen) {
    TempDir dir;
    const std::string path = dir.file("other.ini");
    writeFile(path, "[General]\r\nEnabled=0\r\n");
    IniFile ini(path.c_str());
    EXPECT_FALSE(kerbmark::readEnabled(ini));
}

}  // namespace

namespace {

// The shipped Kerbmark.ini holds every key at its default.
TEST(IniSettings, ShippedIniHoldsTheDefaults) {
    std::string path = std::string("Z:") + KERBMARK_SOURCE_DIR "/Kerbmark.ini";
    for (char& c : path)
        if (c == '/') c = '\\';
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
    IniFile ini(path.c_str());

    // Every key is present: a reader given a sentinel default must not see it.
    struct Key {
        const char* section;
        const char* key;
    };
    const Key keys[] = {{"General", "Diagnostics"},         {"General", "LogHits"},
                        {"General", "Enabled"},             {"Deformation", "MinImpact"},
                        {"Deformation", "ReferenceImpact"}, {"Deformation", "Strength"},
                        {"Deformation", "ImpactExponent"},  {"Deformation", "MaxDentPerHit"},
                        {"Deformation", "MinRadius"},       {"Deformation", "MaxRadius"},
                        {"Deformation", "MaxTotalDisplacement"}, {"Deformation", "FalloffPower"},
                        {"Deformation", "ContactGapMs"},    {"Deformation", "PanelBending"},
                        {"Deformation", "PanelAsymmetry"},  {"Deformation", "PanelWidthSegments"},
                        {"Deformation", "PanelStrength"},   {"Deformation", "PanelCrease"},
                        {"Deformation", "PanelMaxCompression"}, {"Deformation", "PanelMaxLift"},
                        {"Deformation", "PanelMinDepth"},   {"Deformation", "PanelFollowBody"},
                        {"Deformation", "PanelCreaseRandomness"}, {"Lights", "RearDamage"},
                        {"Lights", "RearMinDepth"},         {"Collision", "Enabled"},
                        {"Collision", "AffectNPCs"},        {"Collision", "RefineSpheres"},
                        {"Collision", "StrengthPercent"},   {"Collision", "MaxCompressionCm"},
                        {"Traffic", "AffectNPCs"},          {"Traffic", "NPCRange"},
                        {"Traffic", "MaxTrackedVehicles"},  {"Traffic", "MaxNPCPerFrame"},
                        {"Traffic", "MaxTotalVertices"},    {"Traffic", "WorkPerFrame"}};
    for (const Key& k : keys) {
        char text[80] = {};
        ini.readString(k.section, k.key, text, sizeof text);
        EXPECT_NE(text[0], '\0') << k.section << "/" << k.key;
    }

    Settings s;
    bool diagnostics = true;
    kerbmark::readGeneralKeys(ini, s, diagnostics);
    EXPECT_FALSE(diagnostics);
    EXPECT_TRUE(kerbmark::readEnabled(ini));
    kerbmark::readRemainingKeys(ini, s);
    const Settings defaults;
    const dent::ImpactConfig& a = s.impact;
    const dent::ImpactConfig& b = defaults.impact;
    EXPECT_EQ(a.MinImpact, b.MinImpact);
    EXPECT_EQ(a.ReferenceImpact, b.ReferenceImpact);
    EXPECT_EQ(a.Strength, b.Strength);
    EXPECT_EQ(a.ImpactExponent, b.ImpactExponent);
    EXPECT_EQ(a.MaxDentPerHit, b.MaxDentPerHit);
    EXPECT_EQ(a.MinRadius, b.MinRadius);
    EXPECT_EQ(a.MaxRadius, b.MaxRadius);
    EXPECT_EQ(s.MaxTotalDisplacement, defaults.MaxTotalDisplacement);
    EXPECT_EQ(s.FalloffPower, defaults.FalloffPower);
    EXPECT_EQ(s.ContactGapMs, defaults.ContactGapMs);
    EXPECT_EQ(s.LogHits, defaults.LogHits);
    EXPECT_EQ(s.PanelBending, defaults.PanelBending);
    EXPECT_EQ(s.PanelAsymmetry, defaults.PanelAsymmetry);
    EXPECT_EQ(s.PanelWidthSegments, defaults.PanelWidthSegments);
    EXPECT_EQ(s.PanelStrength, defaults.PanelStrength);
    EXPECT_EQ(s.PanelCrease, defaults.PanelCrease);
    EXPECT_EQ(s.PanelMaxCompression, defaults.PanelMaxCompression);
    EXPECT_EQ(s.PanelMaxLift, defaults.PanelMaxLift);
    EXPECT_EQ(s.PanelMinDepth, defaults.PanelMinDepth);
    EXPECT_EQ(s.PanelCreaseRandomness, defaults.PanelCreaseRandomness);
    EXPECT_EQ(s.PanelFollowBody, defaults.PanelFollowBody);
    EXPECT_EQ(s.RearDamage, defaults.RearDamage);
    EXPECT_EQ(s.RearMinDepth, defaults.RearMinDepth);
    EXPECT_EQ(s.CollisionEnabled, defaults.CollisionEnabled);
    EXPECT_EQ(s.CollisionAffectNPCs, defaults.CollisionAffectNPCs);
    EXPECT_EQ(s.RefineSpheres, defaults.RefineSpheres);
    EXPECT_EQ(s.StrengthPercent, defaults.StrengthPercent);
    EXPECT_EQ(s.MaxCompressionCm, defaults.MaxCompressionCm);
    EXPECT_EQ(s.TrafficAffectNPCs, defaults.TrafficAffectNPCs);
    EXPECT_EQ(s.NPCRange, defaults.NPCRange);
    EXPECT_EQ(s.MaxTrackedVehicles, defaults.MaxTrackedVehicles);
    EXPECT_EQ(s.MaxNPCPerFrame, defaults.MaxNPCPerFrame);
    EXPECT_EQ(s.MaxTotalVertices, defaults.MaxTotalVertices);
    EXPECT_EQ(s.TrafficWorkPerFrame, defaults.TrafficWorkPerFrame);
}

}  // namespace
