#include "foundation/profile_ini.h"

#include <windows.h>

namespace kerbmark {

std::uint32_t IniFile::readInt(const char* section, const char* key, int defaultValue) {
    return GetPrivateProfileIntA(section, key, defaultValue, path_);
}

void IniFile::readString(const char* section, const char* key, char* buffer, std::size_t size) {
    GetPrivateProfileStringA(section, key, "", buffer, static_cast<DWORD>(size), path_);
}

}  // namespace kerbmark
