#include "host/support/log_capture.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "foundation/log.h"

namespace testhost {

LogCapture::LogCapture() : previous_(kerbmark::logPath) {
    // A name of this process's own: test programs run in parallel, and a name
    // the system hands out and that is deleted again can be handed to another one.
    static unsigned captures = 0;
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    char file[MAX_PATH] = "";
    std::snprintf(file, sizeof file, "%skerbmark-log-%lu-%u.log", folder, GetCurrentProcessId(), captures++);
    DeleteFileA(file);  // the tests want it missing
    path_ = file;
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", path_.c_str());
}

LogCapture::~LogCapture() {
    DeleteFileA(path_.c_str());
    std::snprintf(kerbmark::logPath, sizeof kerbmark::logPath, "%s", previous_.c_str());
}

bool LogCapture::exists() const { return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string LogCapture::bytes() const {
    std::string text;
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (!file) return text;
    char buffer[4096];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, read);
    std::fclose(file);
    return text;
}

std::vector<std::string> LogCapture::lines() const {
    const std::string text = bytes();
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            result.push_back(text.substr(start));
            break;
        }
        result.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return result;
}

void LogCapture::clear() { DeleteFileA(path_.c_str()); }

}  // namespace testhost
