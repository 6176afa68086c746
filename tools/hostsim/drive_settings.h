// The settings of one randomized drive, drawn from its seed: the module's
// INI values that change how its work is spread and limited, and how often
// the host refuses to allocate. Each seed runs in a process of its own; a
// drive's reloads draw the module's part anew.
#pragma once

#include <cstdint>
#include <string>

#include "host_functions.h"

namespace hostsim {

struct DriveSettings {
    std::uint64_t seed = 0;
    // The module's INI.
    std::uint32_t workPerFrame = 100000;
    std::uint32_t maxTotalVertices = 400000;
    std::uint32_t maxTrackedVehicles = 64;
    bool panelBending = true;
    bool panelAsymmetry = true;
    bool logHits = true;
    // The host: share of createGeometry and copyExtensions calls refused, and a
    // thousandth of it of the triangle calls (a geometry takes a thousand or
    // more), so that about as many geometries see a refusal either way;
    // traffic cars around the player.
    float refusalRate = 0.0f;
    int trafficCars = 16;
};

DriveSettings drawSettings(std::uint64_t seed);

// The share of calls of `function` (an allocating one) the host refuses.
float refusalRateOf(const DriveSettings& settings, HostFunction function);

// `baseIni` with the drawn keys set.
std::string settingsIni(const std::string& baseIni, const DriveSettings& settings);

// One line: every drawn value.
std::string describeSettings(const DriveSettings& settings);

}  // namespace hostsim
