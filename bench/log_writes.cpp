#include "log_writes.h"

#include <cstdio>
#include <cstring>

#include "cpu_clock.h"
#include "module_loader.h"

namespace bench {

namespace {

std::string g_logPath;
long g_logSize = 0;
double g_openedAt = 0.0;
double g_seconds = 0.0;
int g_opens = 0;
std::FILE* g_openFile = nullptr;
HANDLE g_openHandle = INVALID_HANDLE_VALUE;

bool namesLog(const char* path) {
    const std::size_t length = path ? std::strlen(path) : 0;
    return length >= 4 && _stricmp(path + length - 4, ".log") == 0;
}

void opened() {
    g_openedAt = threadSeconds();
    ++g_opens;
}

void closed() { g_seconds += threadSeconds() - g_openedAt; }

std::FILE* __cdecl timedFopen(const char* path, const char* mode) {
    if (!namesLog(path)) return std::fopen(path, mode);
    opened();
    g_openFile = std::fopen(path, mode);
    if (!g_openFile) closed();
    return g_openFile;
}

int __cdecl timedFclose(std::FILE* file) {
    const int result = std::fclose(file);
    if (file == g_openFile) {
        g_openFile = nullptr;
        closed();
    }
    return result;
}

HANDLE WINAPI timedCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD attributes, HANDLE templateFile) {
    if (!namesLog(path)) return CreateFileA(path, access, share, security, disposition, attributes, templateFile);
    opened();
    g_openHandle = CreateFileA(path, access, share, security, disposition, attributes, templateFile);
    if (g_openHandle == INVALID_HANDLE_VALUE) closed();
    return g_openHandle;
}

BOOL WINAPI timedCloseHandle(HANDLE handle) {
    const BOOL result = CloseHandle(handle);
    if (handle == g_openHandle && handle != INVALID_HANDLE_VALUE) {
        g_openHandle = INVALID_HANDLE_VALUE;
        closed();
    }
    return result;
}

long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<long>(data.nFileSizeLow);
}

// Line ends in the log from byte `from` on.
int linesFrom(const std::string& path, long from) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    std::fseek(file, from, SEEK_SET);
    int lines = 0;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) lines += c == '\n';
    std::fclose(file);
    return lines;
}

}  // namespace

bool watchLogWrites(HMODULE module, const std::string& logPath) {
    g_logPath = logPath;
    g_logSize = fileSize(logPath);
    bool any = false;
    any |= hostsim::replaceImport(module, "msvcrt.dll", "fopen", reinterpret_cast<const void*>(&timedFopen));
    any |= hostsim::replaceImport(module, "msvcrt.dll", "fclose", reinterpret_cast<const void*>(&timedFclose));
    any |= hostsim::replaceImport(module, "kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(&timedCreateFileA));
    any |= hostsim::replaceImport(module, "kernel32.dll", "CloseHandle", reinterpret_cast<const void*>(&timedCloseHandle));
    return any;
}

LogWrites takeLogWrites() {
    LogWrites writes{g_seconds, g_opens, 0};
    const long size = fileSize(g_logPath);
    writes.lines = size > g_logSize ? linesFrom(g_logPath, g_logSize) : 0;
    g_logSize = size;
    g_seconds = 0.0;
    g_opens = 0;
    return writes;
}

}  // namespace bench
