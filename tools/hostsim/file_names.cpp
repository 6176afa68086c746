#include "file_names.h"

#include <windows.h>
#include <shellapi.h>

namespace hostsim {

namespace {

// Whether the ANSI code page holds every letter of `text` as itself.
bool ansiHolds(const std::wstring& text) {
    BOOL lost = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lost);
    return length > 0 && !lost;
}

}  // namespace

std::wstring wideName(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

std::string utf8Name(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr,
                        nullptr);
    return text;
}

std::vector<std::string> utf8Arguments() {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; list && i < count; ++i) arguments.push_back(utf8Name(list[i]));
    LocalFree(list);
    return arguments;
}

std::wstring fullName(const std::string& path) {
    const std::wstring name = wideName(path);
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0) return name;
    std::wstring full(length, L'\0');
    full.resize(GetFullPathNameW(name.c_str(), length, full.data(), nullptr));
    return full;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wideName(path).c_str(), wideName(mode).c_str());
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::FILE* file = openFile(path, "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, got);
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

std::wstring ansiSayableName(const std::string& path) {
    const std::wstring full = fullName(path);
    if (ansiHolds(full)) return full;
    std::wstring shortName(GetShortPathNameW(full.c_str(), nullptr, 0), L'\0');
    if (shortName.empty()) return {};
    shortName.resize(GetShortPathNameW(full.c_str(), shortName.data(), static_cast<DWORD>(shortName.size())));
    return !shortName.empty() && ansiHolds(shortName) ? shortName : std::wstring();
}

}  // namespace hostsim
