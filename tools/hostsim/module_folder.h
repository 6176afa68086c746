// A game folder of the module's own: a copy of the module as Kerbmark.asi
// with its settings beside it, as a player installs them.
#pragma once

#include <string>

namespace hostsim {

// The module and the INI in `folder` (made when missing), an old log removed.
bool installModule(const std::string& module, const std::string& folder, const std::string& ini);

// The whole file; empty when it cannot be read.
std::string readText(const std::string& path);

}  // namespace hostsim
