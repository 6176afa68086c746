// The preview's account of a settings file against what the module's reading
// code keeps, through the platform's profile readers on a real file.
#include <gtest/gtest.h>

#include "foundation/temp_dir.h"
#include "settings_report.h"

namespace {

using preview::SettingValue;
using Fate = SettingValue::Fate;

struct Expected {
    const char* key;
    Fate fate;
    double used;
};

TEST(SettingsReport, EveryKeyWithTheValueTheModuleKeepsAndWhy) {
    TempDir dir;
    const std::string path = dir.file("Kerbmark.ini");
    writeFile(path,
              "[General]\r\nDiagnostics=1\r\nLogHits=yes\r\nReloadKey=ctrl+f9\r\n"
              "[Deformation]\r\nMinImpact=0.3\r\nReferenceImpact=0.1\r\nStrength=abc\r\nMaxDentPerHit=0.5x\r\n"
              "PanelWidthSegments=40\r\nPanelBending=2\r\n"
              "[Collision]\r\nStrengthPercent=-5\r\n"
              "[Traffic]\r\nMaxNPCPerFrame=0\r\nMaxTrackedVehicles=20x\r\n");
    const Expected expected[] = {
        {"Diagnostics", Fate::AsWritten, 1},
        {"LogHits", Fate::ReadAs, 0},
        {"ReloadKey", Fate::NotInPreview, 0},
        {"MinImpact", Fate::AsWritten, 0.3f},
        {"ReferenceImpact", Fate::Clamped, 0.31f},
        {"Strength", Fate::Default, 1},
        {"MaxDentPerHit", Fate::Default, 0.65f},
        {"PanelWidthSegments", Fate::Clamped, 12},
        {"PanelBending", Fate::Clamped, 1},
        {"StrengthPercent", Fate::Clamped, 100},
        {"MaxNPCPerFrame", Fate::Clamped, 1},
        {"MaxTrackedVehicles", Fate::ReadAs, 20},
    };
    const std::vector<SettingValue> values = preview::settingsOf(path);
    EXPECT_EQ(values.size(), 38u);  // every key the module reads, once
    for (const SettingValue& value : values) {
        const Expected* found = nullptr;
        for (const Expected& e : expected)
            if (value.key == e.key) found = &e;
        if (!found) {
            EXPECT_EQ(value.fate, Fate::Missing) << preview::keyName(value);
            continue;
        }
        EXPECT_EQ(value.fate, found->fate) << preview::keyName(value);
        EXPECT_EQ(value.used, found->used) << preview::keyName(value);
        if (value.key == "ReloadKey") {
            EXPECT_EQ(preview::usedText(value), "Ctrl+F9");
        }
    }
}

TEST(SettingsReport, DifferingKeysAreThoseTheModuleUsesDifferently) {
    TempDir dir;
    writeFile(dir.file("a.ini"), "[Deformation]\r\nStrength=1.5\r\nPanelCrease=0.9\r\n[Lights]\r\nRearDamage=0\r\n");
    writeFile(dir.file("b.ini"), "[Deformation]\r\nStrength=1.5\r\nPanelCrease=0.65\r\nFalloffPower=0.65\r\n");
    const auto differing =
        preview::differingKeys(preview::settingsOf(dir.file("a.ini")), preview::settingsOf(dir.file("b.ini")));
    ASSERT_EQ(differing.size(), 1u);
    EXPECT_EQ(preview::keyName(differing[0].first), "[Lights] RearDamage");
    EXPECT_EQ(differing[0].first.used, 0.0);
    EXPECT_EQ(differing[0].second.used, 1.0);
}

}  // namespace
