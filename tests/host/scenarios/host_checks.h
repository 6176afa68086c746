// Checks on the simulated host shared by the scenarios that lay it out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host_functions.h"
#include "host_image.h"
#include "host_layout.h"

namespace scenario {

// Where each call site leads while the module has not rewritten it.
inline std::uint32_t hostTargetOf(std::uint32_t site) {
    if (site == hostsim::kFrameSite) return hostsim::kFrameWorkFunction;
    if (site == hostsim::kResetSiteA) return hostsim::kResetWorkFunctionA;
    return hostsim::kResetWorkFunctionB;
}

inline hostsim::HostFunction hostWorkOf(std::uint32_t site) {
    if (site == hostsim::kFrameSite) return hostsim::HostFunction::FrameWork;
    if (site == hostsim::kResetSiteA) return hostsim::HostFunction::ResetWorkA;
    return hostsim::HostFunction::ResetWorkB;
}

constexpr std::uint32_t kAllSites[] = {hostsim::kFrameSite, hostsim::kResetSiteA, hostsim::kResetSiteB};

// Calling the site `times` times runs the host's own function exactly that often.
inline void expectSiteRunsHostOnce(std::uint32_t site, int times = 2) {
    const std::uint32_t before = hostsim::calls(hostWorkOf(site));
    for (int i = 0; i < times; ++i) hostsim::callSite(site);
    EXPECT_EQ(hostsim::calls(hostWorkOf(site)) - before, static_cast<std::uint32_t>(times))
        << "site 0x" << std::hex << site;
}

inline void expectNoHostFaults() {
    for (const std::string& fault : hostsim::hostFaults()) ADD_FAILURE() << "host fault: " << fault;
}

inline std::uint8_t firstByte(std::uint32_t address) { return hostsim::fixed<std::uint8_t>(address); }

}  // namespace scenario
