#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "foundation/fake_profile.h"

namespace {

using kerbmark::Settings;

Settings readAll(FakeProfile& profile) {
    Settings s;
    kerbmark::readRemainingKeys(profile, s);
    return s;
}

float readMinImpact(const std::string& text) {
    FakeProfile profile;
    profile.set("Deformation", "MinImpact", text);
    return readAll(profile).impact.MinImpact;
}

// Settings built over zeroed storage, so that padding compares equal too.
struct ZeroedSettings {
    ZeroedSettings() {
        std::memset(static_cast<void*>(&storage), 0, sizeof storage);
        value = new (&storage) Settings();
    }
    alignas(Settings) unsigned char storage[sizeof(Settings)];
    Settings* value;
};

TEST(Settings, MissingFileGivesDefaults) {
    FakeProfile profile;
    ZeroedSettings read;
    Settings& s = *read.value;
    bool diagnostics = true;
    kerbmark::readGeneralKeys(profile, s, diagnostics);
    EXPECT_FALSE(diagnostics);
    EXPECT_TRUE(kerbmark::readEnabled(profile));
    kerbmark::readRemainingKeys(profile, s);
    const ZeroedSettings defaults;
    EXPECT_EQ(0, std::memcmp(&s, defaults.value, sizeof s));
    EXPECT_EQ(s.impact.MinImpact, 0.04f);
    EXPECT_EQ(s.ContactGapMs, 180u);
    EXPECT_EQ(s.MaxTotalVertices, 400000u);
    EXPECT_EQ(s.TrafficWorkPerFrame, 100000u);
    EXPECT_EQ(s.StrengthPercent, 0.65f);
    EXPECT_EQ(s.NPCRange, 100.0f);
}

TEST(Settings, ImpactConfigIsThePrefix) {
    static_assert(offsetof(Settings, impact) == 0, "impact settings come first");
    static_assert(sizeof(dent::ImpactConfig) == 7 * sizeof(float), "seven floats");
    Settings s;
    EXPECT_EQ(reinterpret_cast<const float*>(&s)[6], 2.25f);  // MaxRadius is the seventh float
    EXPECT_EQ(reinterpret_cast<const float*>(&s)[7], 1.05f);  // MaxTotalDisplacement follows
}

TEST(Settings, FloatsAreReadWholeOrDefaulted) {
    EXPECT_EQ(readMinImpact("0.001"), 0.005f);
    EXPECT_EQ(readMinImpact("1"), 0.3f);
    EXPECT_EQ(readMinImpact("0.1"), 0.1f);
    for (const char* bad : {"abc", "", "0.1x", "0.1 0.2", "inf", "-inf", "nan", "1e40"})
        EXPECT_EQ(readMinImpact(bad), 0.04f) << bad;
}

TEST(Settings, NonFiniteFalloffPowerDefaults) {
    for (const char* bad : {"inf", "nan", "INF"}) {
        FakeProfile profile;
        profile.set("Deformation", "FalloffPower", bad);
        EXPECT_EQ(readAll(profile).FalloffPower, 0.65f) << bad;
    }
}

TEST(Settings, ChainedBoundsUseTheClampedEarlierKeys) {
    FakeProfile profile;
    profile.set("Deformation", "MinImpact", "0.3");
    profile.set("Deformation", "ReferenceImpact", "0.1");
    profile.set("Deformation", "MinRadius", "1.8");
    profile.set("Deformation", "MaxRadius", "1.0");
    Settings s = readAll(profile);
    EXPECT_EQ(s.impact.ReferenceImpact, 0.3f + 0.01f);
    EXPECT_EQ(s.impact.MaxRadius, 1.8f);

    FakeProfile big;
    big.set("Deformation", "MinRadius", "5");
    big.set("Deformation", "MaxRadius", "1");
    s = readAll(big);
    EXPECT_EQ(s.impact.MinRadius, 2.0f);
    EXPECT_EQ(s.impact.MaxRadius, 2.0f);
}

TEST(Settings, ContactGapIsClampedThenTruncated) {
    const std::pair<const char*, unsigned> cases[] = {{"10", 50}, {"99.9", 99}, {"5000", 1000}, {"x", 180}};
    for (auto [text, expected] : cases) {
        FakeProfile profile;
        profile.set("Deformation", "ContactGapMs", text);
        EXPECT_EQ(readAll(profile).ContactGapMs, expected) << text;
    }
}

TEST(Settings, IntegerClampsAreUnsigned) {
    FakeProfile profile;
    profile.set("Deformation", "PanelWidthSegments", "1");
    profile.set("Deformation", "PanelMinDepth", "-1");
    profile.set("Collision", "StrengthPercent", "5");
    profile.set("Collision", "MaxCompressionCm", "100");
    profile.set("Traffic", "NPCRange", "5");
    profile.set("Traffic", "MaxTrackedVehicles", "1000");
    profile.set("Traffic", "MaxNPCPerFrame", "0");
    profile.set("Traffic", "MaxTotalVertices", "-5");  // wraps to a huge unsigned value
    profile.set("Traffic", "WorkPerFrame", "-5");
    Settings s = readAll(profile);
    EXPECT_EQ(s.PanelWidthSegments, 2u);
    EXPECT_EQ(s.PanelMinDepth, 0.0f);
    EXPECT_EQ(s.StrengthPercent, 0.1f);
    EXPECT_EQ(s.MaxCompressionCm, 0.9f);
    EXPECT_EQ(s.NPCRange, 20.0f);
    EXPECT_EQ(s.MaxTrackedVehicles, 128u);
    EXPECT_EQ(s.MaxNPCPerFrame, 1u);
    EXPECT_EQ(s.MaxTotalVertices, 1000000u);
    EXPECT_EQ(s.TrafficWorkPerFrame, 100000000u);

    FakeProfile high;
    high.set("Deformation", "PanelWidthSegments", "40");
    high.set("Collision", "StrengthPercent", "250");
    high.set("Traffic", "MaxNPCPerFrame", "100");
    high.set("Traffic", "MaxNPCPerFrame", "-1");
    high.set("Traffic", "WorkPerFrame", "150000");
    s = readAll(high);
    EXPECT_EQ(s.TrafficWorkPerFrame, 150000u);
    EXPECT_EQ(s.PanelWidthSegments, 12u);
    EXPECT_EQ(s.StrengthPercent, 1.0f);
    EXPECT_EQ(s.MaxNPCPerFrame, 64u);
}

TEST(Settings, BoolsAreAnythingButZero) {
    FakeProfile profile;
    profile.set("General", "Diagnostics", "7");
    profile.set("General", "LogHits", "0");
    profile.set("General", "Enabled", "0");
    profile.set("Collision", "Enabled", "-1");
    profile.set("Traffic", "AffectNPCs", "0");
    Settings s;
    bool diagnostics = false;
    kerbmark::readGeneralKeys(profile, s, diagnostics);
    EXPECT_TRUE(diagnostics);
    EXPECT_FALSE(s.LogHits);
    EXPECT_FALSE(kerbmark::readEnabled(profile));
    kerbmark::readRemainingKeys(profile, s);
    EXPECT_TRUE(s.CollisionEnabled);
    EXPECT_FALSE(s.TrafficAffectNPCs);
    EXPECT_TRUE(s.CollisionAffectNPCs);
}

TEST(Settings, OnlySeventyNineCharactersOfAValueAreSeen) {
    FakeProfile profile;
    profile.set("Deformation", "Strength", std::string(78, '0') + "2");  // 79 characters: accepted
    profile.set("Deformation", "MaxDentPerHit", std::string(79, '0') + "9");  // 80: cut to zeros
    Settings s = readAll(profile);
    EXPECT_EQ(s.impact.Strength, 2.0f);
    EXPECT_EQ(s.impact.MaxDentPerHit, 0.05f);  // "000...0" reads as 0, clamped up
}

TEST(ModulePaths, CutAtTheLastDotAnywhere) {
    kerbmark::ModulePaths p = kerbmark::derivePaths("C:\\Games\\SA\\Kerbmark.asi");
    EXPECT_STREQ(p.ini, "C:\\Games\\SA\\Kerbmark.ini");
    EXPECT_STREQ(p.log, "C:\\Games\\SA\\Kerbmark.log");
    p = kerbmark::derivePaths("C:\\Games\\SA\\other.dll");
    EXPECT_STREQ(p.ini, "C:\\Games\\SA\\other.ini");
    EXPECT_STREQ(p.log, "C:\\Games\\SA\\other.log");
    EXPECT_STREQ(p.oldLog, "C:\\Games\\SA\\other.old.log");
    EXPECT_STREQ(kerbmark::fileNameOf(p.oldLog), "other.old.log");
    p = kerbmark::derivePaths("C:\\Games\\SA\\Kerbmark");
    EXPECT_STREQ(p.ini, "C:\\Games\\SA\\Kerbmark.ini");
    p = kerbmark::derivePaths("C:\\Games\\SA.v1\\Kerbmark");
    EXPECT_STREQ(p.ini, "C:\\Games\\SA.ini");
    EXPECT_STREQ(p.log, "C:\\Games\\SA.log");
}

TEST(ModulePaths, LongPathsAreTruncatedNotOverrun) {
    std::string path = "C:\\" + std::string(300, 'a') + ".asi";
    kerbmark::ModulePaths p = kerbmark::derivePaths(path.c_str());
    EXPECT_EQ(std::strlen(p.ini), 259u);
    EXPECT_EQ(std::strlen(p.log), 259u);
    EXPECT_EQ(std::string(p.ini).substr(0, 4), "C:\\a");
}

// What a ReloadKey value gives, as the log shows it.
TEST(Settings, ReloadKeyNamesAKeyWithItsModifiersOrNone) {
    const char* const cases[][2] = {
        {"", "Shift+F7"}, {"0", "0"}, {"F9", "F9"}, {"shift+f7", "Shift+F7"}, {"Alt+Shift+Ctrl+F24", "Ctrl+Alt+Shift+F24"},
        {"ctrl+r", "Ctrl+R"}, {"Ctrl+0", "Ctrl+0"}, {"F25", "Shift+F7"}, {"F0", "Shift+F7"}, {"F07", "Shift+F7"},
        {"Shift+Shift+F7", "Shift+F7"}, {"Shift+", "Shift+F7"}, {"+F7", "Shift+F7"}, {"Win+F7", "Shift+F7"},
        {"Shift F7", "Shift+F7"}, {"00", "Shift+F7"}};
    for (const auto& c : cases) {
        FakeProfile profile;
        if (*c[0]) profile.set("General", "ReloadKey", c[0]);
        Settings s;
        bool diagnostics = false;
        kerbmark::readGeneralKeys(profile, s, diagnostics);
        char shown[32];
        kerbmark::formatKeyCombination(s.ReloadKey, shown, sizeof shown);
        EXPECT_STREQ(shown, c[1]) << "'" << c[0] << "'";
    }
}

}  // namespace
