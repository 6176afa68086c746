// Settings files as text: one key set, the rest of the file as it was.
#pragma once

#include <string>

namespace hostsim {

// The INI text with `key` in `section` set to `value`: its line replaced, or
// a line added below the section's heading (or a new section at the end).
std::string withSetting(const std::string& ini, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace hostsim
