// What a person asks of the preview on its command line.
#pragma once

#include <string>
#include <vector>

#include "demo_drive.h"

namespace preview {

struct Request {
    std::string ini;      // the settings; empty: Kerbmark.ini beside the program
    std::string compare;  // other settings to run beside them; empty: none
    std::string model;    // the car as an OBJ model; empty: the built-in car
    std::string out;      // where the pictures go; empty: the default folder
    std::vector<hostsim::Drive> drives = hostsim::everyDrive();
    bool help = false;
};

// UTF-8 arguments without the program; false with `error` when they make no sense.
// A bare path is taken by its extension (.ini, a second .ini to compare, .obj):
// what Explorer passes for files dropped onto the program.
bool parseRequest(const std::vector<std::string>& arguments, Request& request, std::string& error);

// --help: every option, what it does by default, and an example.
void printHelp();

}  // namespace preview
