#include "scenario_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace scenario {

const char kBanner[] =
    "Kerbmark " KERBMARK_VERSION " hotfix 2 - progressive boot fold onset; separate original/damaged panel shading";
const char kActive[] =
    "Active. Player first; nearby NPCs according to Traffic settings. F7 restores player geometry and private "
    "collision.";
const char kHookFailed[] = "Could not install process hook; no deformation enabled.";
const char kDisabledInIni[] = "Disabled in INI.";
const char kUnsupportedBase[] = "Unsupported executable base; disabled.";
const char kUnsupportedExecutable[] = "Unsupported executable: requires SA 1.0 US Hoodlum/Compact; disabled.";
const char kSitesChanged[] = "Hook sites changed by another mod; disabled.";
const char kGuardEnabled[] = "MaterialGuard: alpha renderer validation enabled.";
const char kGuardAlreadyHooked[] = "MaterialGuard: alpha renderer already hooked; guard not installed.";
const char kCollisionEnabled[] = "Collision: private per-vehicle models enabled; longitudinal compression only.";
const char kCollisionAlreadyHooked[] = "Collision: GetColModel already hooked; physical deformation disabled.";
const char kCollisionCannotCreate[] = "Collision: cannot create hook; visual deformation only.";

namespace {

std::string fullPath(const char* path) {
    char buffer[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return path;
    return buffer;
}

void emptyFolder(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((path + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

Folder::Folder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "scenario";
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    const std::string runs = std::string(current) + "\\runs";
    CreateDirectoryA(runs.c_str(), nullptr);
    path_ = runs + "\\" + name;
    CreateDirectoryA(path_.c_str(), nullptr);
    emptyFolder(path_);
}

std::string Folder::installModule(const std::string& ini, const std::string& fileName) const {
    const std::string module = file(fileName);
    if (!CopyFileA(builtModulePath().c_str(), module.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy " << builtModulePath() << " to " << module;
    const std::string base = module.substr(0, module.find_last_of('.'));
    writeText(base + ".ini", ini);
    return module;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

LogText readLog(const std::string& path) {
    LogText log;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            log.crlf = false;
            log.lines.push_back(text.substr(start));
            break;
        }
        std::string line = text.substr(start, end - start);
        if (line.empty() || line.back() != '\r')
            log.crlf = false;
        else
            line.pop_back();
        log.lines.push_back(line);
        start = end + 1;
    }
    return log;
}

int countLine(const LogText& log, const std::string& line) {
    int count = 0;
    for (const std::string& each : log.lines) count += each == line ? 1 : 0;
    return count;
}

int runProgram(const std::string& program, const std::string& arguments, const std::string& folder,
               unsigned timeoutMs) {
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return -1;
    int result = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

int runSelf(const char* variable, const std::string& value, const std::string& filter, const std::string& folder) {
    char self[MAX_PATH];
    if (GetModuleFileNameA(nullptr, self, sizeof self) == 0) return -1;
    SetEnvironmentVariableA(variable, value.c_str());
    const int code = runProgram(self, "--gtest_filter=" + filter + " --gtest_brief=1", folder,
                                KERBMARK_SCENARIO_TIMEOUT_SECONDS * 1000u);
    SetEnvironmentVariableA(variable, nullptr);
    return code;
}

std::string builtModulePath() { return fullPath(KERBMARK_MODULE_PATH); }

std::string hostProgramPath() {
#ifdef HOSTSIM_PATH
    return fullPath(HOSTSIM_PATH);
#else
    return {};
#endif
}

}  // namespace scenario
