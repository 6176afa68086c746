// The settings read from real files as the module reads them (the file whole,
// then the module's own INI reader), and that reader against the platform's
// profile readers.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

#include "foundation/ini_buffer.h"
#include "foundation/settings.h"
#include "foundation/settings_file.h"
#include "foundation/temp_dir.h"

namespace {

using kerbmark::Settings;

kerbmark::IniBuffer iniAt(const std::string& path) {
    return kerbmark::IniBuffer(kerbmark::readSettingsFile(path.c_str(), false).bytes);
}

TEST(IniSettings, MissingFileGivesDefaults) {
    TempDir dir;
    const std::string path = dir.file("Kerbmark.ini");
    kerbmark::IniBuffer ini = iniAt(path);
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

TEST(IniSettings, ValuesComeThroughTheModulesReader) {
    TempDir dir;
    const std::string path = dir.file("Kerbmark.ini");
    writeFile(path,
              "[General]\r\nDiagnostics=1\r\nLogHits=0\r\n"
              "[Deformation]\r\nMinImpact=0.3\r\nReferenceImpact=0.1\r\nStrength=abc\r\n"
              "MaxDentPerHit=0.5x\r\nFalloffPower=nan\r\nContactGapMs=99.9\r\nMinRadius=\r\n"
              "PanelWidthSegments=40\r\n"
              "[Collision]\r\nEnabled=0\r\nStrengthPercent=5\r\n"
              "[Traffic]\r\nMaxTotalVertices=-1\r\nMaxNPCPerFrame=0\r\nNPCRange=150\r\n");
    kerbmark::IniBuffer ini = iniAt(path);
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

// The module's reader gives every key what the platform's profile readers give:
// letter case, blanks, quotes, line ends, repeated sections and keys, text
// that is no number, long values, byte-order marks.
TEST(IniSettings, ReaderAgreesWithThePlatformReaders) {
    using namespace std::string_literals;
    const std::string files[] = {
        "  [general]  \r\n  loghits =  7 \r\n\tENABLED\t=\t0\t\r\n",
        "[ General ]\nLogHits=1\n[General]\nEnabled=0\n[General]\nLogHits=5\n",
        "[General]\nLogHits=\"0\"\nEnabled='  5'\nDiagnostics=\"\"\nOther=\"a'\n",
        "[General]\rLogHits=0\rEnabled=0\r",
        "LogHits=0\n[General]\nLogHits=12abc\nLogHits=3\nEnabled=-2\nDiagnostics=99999999999\n",
        "[General\nLogHits=0\n[General]x\nEnabled=0\n=5\n=6\nDiagnostics=\n",
        "[General]\n; LogHits=0\nLogHits = +4 ; note\nEnabled\nDiagnostics=0x10\nOther= - 3\n",
        "[General]\nLogHits=-0x10\nEnabled=0b101\nDiagnostics=0o17\nOther=0X1f\n[Traffic]\nLogHits=0x1G\n",
        "\xEF\xBB\xBF[General]\nLogHits=0\nEnabled=2",
        "\xFF\xFE[\0G\0e\0n\0e\0r\0a\0l\0]\0\n\0L\0o\0g\0H\0i\0t\0s\0=\0\x39\0\n\0"s,
        "[General]\nLogHits=" + std::string(40, '1') + "\nOther=" + std::string(120, 'x') + "\n",
        "[General]\nLogHits=\"" + std::string(100, '2') + "\"\n\x1A",
    };
    const char* const keys[][2] = {{"General", "LogHits"}, {"General", "Enabled"}, {"General", "Diagnostics"},
                                   {"General", "Other"},   {"Traffic", "LogHits"}, {" General ", " LogHits "}};
    TempDir dir;
    for (std::size_t f = 0; f < std::size(files); ++f) {
        // A name of its own each: the platform reader keeps the last file it read.
        const std::string path = dir.file("case" + std::to_string(f) + ".ini");
        writeFile(path, files[f]);
        kerbmark::IniBuffer ini = iniAt(path);
        for (const auto& key : keys) {
            SCOPED_TRACE("file " + std::to_string(f) + ", [" + key[0] + "] " + key[1]);
            EXPECT_EQ(ini.readInt(key[0], key[1], -7),
                      static_cast<std::uint32_t>(GetPrivateProfileIntA(key[0], key[1], -7, path.c_str())));
            for (const DWORD size : {80u, 4u}) {
                char platform[80] = {}, module[80] = {};
                GetPrivateProfileStringA(key[0], key[1], "", platform, size, path.c_str());
                ini.readString(key[0], key[1], module, size);
                EXPECT_STREQ(module, platform) << "buffer of " << size;
            }
        }
    }
}

TEST(IniSettings, EnabledZeroIsSeen) {
    TempDir dir;
    const std::string path = dir.file("other.ini");
    writeFile(path, "[General]\r\nEnabled=0\r\n");
    kerbmark::IniBuffer ini = iniAt(path);
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
    kerbmark::IniBuffer ini = iniAt(path);

    // Every key is present: a reader given a sentinel default must not see it.
    struct Key {
        const char* section;
        const char* key;
    };
    const Key keys[] = {{"General", "Diagnostics"},         {"General", "LogHits"},
                        {"General", "Enabled"},             {"General", "ReloadKey"},
                        {"General", "MaxLogSizeKB"},        {"Deformation", "MinImpact"},
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
    EXPECT_TRUE(s.ReloadKey == defaults.ReloadKey);
    EXPECT_EQ(s.MaxLogSizeKB, defaults.MaxLogSizeKB);
}

}  // namespace
