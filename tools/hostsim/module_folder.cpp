#include "module_folder.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace hostsim {

bool installModule(const std::string& module, const std::string& folder, const std::string& ini) {
    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA((folder + "\\Kerbmark.log").c_str());
    if (!CopyFileA(module.c_str(), (folder + "\\Kerbmark.asi").c_str(), FALSE)) return false;
    std::ofstream file(folder + "\\Kerbmark.ini", std::ios::binary);
    file << ini;
    return static_cast<bool>(file);
}

std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace hostsim
