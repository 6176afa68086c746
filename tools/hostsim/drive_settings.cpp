#include "drive_settings.h"

#include <cinttypes>
#include <cstdio>

#include "ini_text.h"
#include "seeded_random.h"

namespace hostsim {

namespace {

// Far beyond anything a frame needs: every piece of work fits one frame.
constexpr std::uint32_t kLargeWorkPerFrame = 2000000;
constexpr std::uint32_t kDefaultWorkPerFrame = 100000;
constexpr std::uint32_t kTightTotalVertices = 50000;
constexpr std::uint32_t kDefaultTotalVertices = 400000;
constexpr std::uint32_t kDefaultTrackedVehicles = 64;
constexpr float kRefusalRates[] = {0.0f, 0.001f, 0.02f};

// Its own stream, so that adding a drawn value later leaves the others as they were.
constexpr std::uint64_t kSettingsStream = 0x5E771465ull;

std::string number(std::uint32_t value) { return std::to_string(value); }
std::string flag(bool on) { return on ? "1" : "0"; }

}  // namespace

DriveSettings drawSettings(std::uint64_t seed) {
    SeededRandom random(seed ^ kSettingsStream);
    DriveSettings s;
    s.seed = seed;
    const std::uint32_t budgets[] = {0, 1, kDefaultWorkPerFrame, kLargeWorkPerFrame};
    s.workPerFrame = budgets[random.below(4)];
    s.maxTotalVertices = random.oneIn(2) ? kTightTotalVertices : kDefaultTotalVertices;
    // Below the INI's lower bound too: the module takes the bound.
    s.maxTrackedVehicles =
        random.oneIn(2) ? static_cast<std::uint32_t>(random.between(4, 16)) : kDefaultTrackedVehicles;
    s.panelBending = !random.oneIn(3);
    s.panelAsymmetry = !random.oneIn(3);
    s.logHits = !random.oneIn(3);
    s.refusalRate = kRefusalRates[random.below(3)];
    s.trafficCars = random.between(6, 24);
    return s;
}

float refusalRateOf(const DriveSettings& settings, HostFunction function) {
    const bool triangleCall = function == HostFunction::TriangleVertices || function == HostFunction::TriangleMaterial;
    return triangleCall ? settings.refusalRate / 1000.0f : settings.refusalRate;
}

std::string settingsIni(const std::string& baseIni, const DriveSettings& s) {
    std::string ini = baseIni;
    ini = withSetting(ini, "Traffic", "WorkPerFrame", number(s.workPerFrame));
    ini = withSetting(ini, "Traffic", "MaxTotalVertices", number(s.maxTotalVertices));
    ini = withSetting(ini, "Traffic", "MaxTrackedVehicles", number(s.maxTrackedVehicles));
    ini = withSetting(ini, "Deformation", "PanelBending", flag(s.panelBending));
    ini = withSetting(ini, "Deformation", "PanelAsymmetry", flag(s.panelAsymmetry));
    ini = withSetting(ini, "General", "LogHits", flag(s.logHits));
    return ini;
}

std::string describeSettings(const DriveSettings& s) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "seed %" PRIu64 ": WorkPerFrame=%u MaxTotalVertices=%u MaxTrackedVehicles=%u PanelBending=%d "
                  "PanelAsymmetry=%d LogHits=%d; refusal rate %.1f%% (of triangle calls a thousandth), %d traffic "
                  "cars",
                  s.seed, s.workPerFrame, s.maxTotalVertices, s.maxTrackedVehicles, s.panelBending ? 1 : 0,
                  s.panelAsymmetry ? 1 : 0, s.logHits ? 1 : 0, 100.0 * s.refusalRate, s.trafficCars);
    return text;
}

}  // namespace hostsim
