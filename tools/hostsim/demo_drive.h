// The scripted demo drive: the player's car hits a wall head-on, scrapes
// along a barrier, is rear-ended by traffic, and F7 restores it.
#pragma once

#include <string>

namespace hostsim {

struct DemoOptions {
    std::string module;  // the built module, copied into the folder as Kerbmark.asi
    std::string ini;     // the settings, copied beside it as Kerbmark.ini
    std::string folder;  // where the copies, the log, pictures and meshes go
    std::string model;   // the player's car as an OBJ model; empty: the generated car
    // A preview of someone's settings or car: what the default drive does
    // (dents, the broken light) is reported, not required.
    bool preview = false;
};

// Lays out the host, runs the drive with the module loaded, prints the
// module's log and where the pictures (PNG) and meshes (OBJ) are. Returns 0
// when the car was dented, its rear light broke and F7 restored it as
// expected (in a preview: when F7 restored it and the host saw no misuse),
// 5 (with the reasons) when not, 2 when it could not run, 1 with one line
// naming the file when the model or the settings cannot be read.
int runDemo(const DemoOptions& options);

}  // namespace hostsim
