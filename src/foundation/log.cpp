#include "foundation/log.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace kerbmark {

char logPath[kPathSize] = "";
const char* volatile phase = "startup";

std::vector<std::string>* heldLines = nullptr;

void logLine(const char* text) {
    if (heldLines) {
        heldLines->emplace_back(text);
        return;
    }
    std::FILE* file = std::fopen(logPath, "a");
    if (!file) return;
    std::fprintf(file, "%s\n", text);
    std::fclose(file);
}

void breadcrumb(const char* text, bool force) {
    phase = text;
    if (!force && !diagnostics) return;
    HANDLE file = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

}  // namespace kerbmark
