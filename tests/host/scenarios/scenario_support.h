// What every scenario needs besides the simulated host: a fresh folder with a
// copy of the module and its INI, the log read back as lines, child processes.
#pragma once

#include <string>
#include <vector>

namespace scenario {

// The module's own texts, written out here on purpose: the scenarios check
// them against the module from the outside.
extern const char kBanner[];
extern const char kActive[];
extern const char kHookFailed[];
extern const char kDisabledInIni[];
extern const char kUnsupportedBase[];
extern const char kUnsupportedExecutable[];
extern const char kSitesChanged[];
extern const char kGuardEnabled[];
extern const char kGuardAlreadyHooked[];
extern const char kCollisionEnabled[];
extern const char kCollisionAlreadyHooked[];
extern const char kCollisionCannotCreate[];

// runs\<suite>.<scenario> below the working folder, emptied at start.
class Folder {
public:
    Folder();
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& path() const { return path_; }

    // Copies the built module under `fileName` and writes `ini` beside it
    // (same base name, ".ini"); returns the module copy's path.
    std::string installModule(const std::string& ini, const std::string& fileName = "Kerbmark.asi") const;

private:
    std::string path_;
};

void writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);

// The log's lines without their line ends. `crlf` tells whether every line
// ended in CR LF (and the file ended with a line end).
struct LogText {
    std::vector<std::string> lines;
    bool crlf = true;
};
LogText readLog(const std::string& path);

// How often `line` occurs.
int countLine(const LogText& log, const std::string& line);

// Runs a program with arguments in `folder`, waits at most `timeoutMs`;
// its exit code, or -1 when it could not be started or did not finish.
int runProgram(const std::string& program, const std::string& arguments, const std::string& folder,
               unsigned timeoutMs = 30000);

// Runs the scenario `filter` of this same program in `folder` with the
// environment variable `variable` set to `value` (cleared again after), and
// waits at most as long as CTest gives one scenario; its exit code as runProgram.
int runSelf(const char* variable, const std::string& value, const std::string& filter, const std::string& folder);

// The built module and host stand-in, as full Windows paths.
std::string builtModulePath();
std::string hostProgramPath();

}  // namespace scenario
