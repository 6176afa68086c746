#include "ini_text.h"

#include <cstddef>
#include <sstream>
#include <vector>

namespace hostsim {

std::string withSetting(const std::string& ini, const std::string& section, const std::string& key,
                        const std::string& value) {
    std::vector<std::string> lines;
    std::istringstream in(ini);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const std::string heading = "[" + section + "]", setting = key + "=" + value;
    std::string current;
    std::size_t below = std::string::npos;  // where the line goes when the key is missing
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, 1, "[") == 0) {
            current = lines[i].substr(0, lines[i].find(']') + 1);
            if (current == heading) below = i + 1;
        } else if (current == heading && lines[i].compare(0, key.size() + 1, key + "=") == 0) {
            lines[i] = setting;
            replaced = true;
            break;
        }
    }
    if (!replaced && below == std::string::npos) lines.insert(lines.end(), {heading, setting});
    if (!replaced && below != std::string::npos) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(below), setting);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace hostsim
