// The scripted demo drive: the player's car hits a wall head-on, scrapes
// along a barrier, is rear-ended by traffic, and F7 restores it.
#pragma once

#include <string>

namespace hostsim {

struct DemoOptions {
    std::string module;  // the built module, copied into the folder as Kerbmark.asi
    std::string ini;     // the settings, copied beside it as Kerbmark.ini
    std::string folder;  // where the copies, the log, pictures and meshes go
};

// Lays out the host, runs the drive with the module loaded, prints the
// module's log and where the pictures (PNG) and meshes (OBJ) are. Returns 0
// when the car was dented, its rear light broke and F7 restored it as
// expected, 5 (with the reasons) when not, 2 when it could not run.
int runDemo(const DemoOptions& options);

}  // namespace hostsim
