// KerbmarkPreview: the simulated host as a tool for players and modders. It
// loads the Kerbmark.asi beside it, drives a car (theirs, from an OBJ model)
// into a wall, along a barrier or into traffic with their settings, and draws
// what the module did. See command_line.cpp for the options.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "command_line.h"
#include "crash_exit.h"
#include "files.h"
#include "preview_run.h"

namespace {

// Explorer gives a program started by a double click or a drop a console of
// its own, which closes with it: then the output is kept on screen until Enter.
bool ownsItsConsole() {
    DWORD processes[2];
    DWORD mode;
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

int runFromCommandLine() {
    preview::Request request;
    std::string error;
    if (!preview::parseRequest(preview::arguments(), request, error)) {
        std::fprintf(stderr, "KerbmarkPreview: %s (see KerbmarkPreview.exe --help)\n", error.c_str());
        return 1;
    }
    if (request.help) {
        preview::printHelp();
        return 0;
    }
    return preview::runPreview(request);
}

}  // namespace

int main() {
    hostsim::exitOnUnhandledFault();
    const std::vector<std::string> arguments = preview::arguments();
    if (!arguments.empty() && arguments[0] == preview::kRunDriveOption) return preview::runOneDrive(arguments);

    SetConsoleOutputCP(CP_UTF8);
    const bool waitForEnter = ownsItsConsole();
    int code = 2;
    try {
        code = runFromCommandLine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "KerbmarkPreview: stopped: %s\n", e.what());
    }
    if (waitForEnter) {
        std::printf("\nPress Enter to close this window.\n");
        std::fflush(stdout);
        std::getchar();
    }
    return code;
}
