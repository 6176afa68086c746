// hostsim: stands in for "SA 1.0 US". Lays out the host, puts the player in a
// vehicle with traffic around, loads a plug-in module the way an ASI loader
// does and runs game frames; or runs the scripted demo drive.
//
//   hostsim <module> [--frames N] [--identity hoodlum|compact|<hex word>] [--f7-frame N] [--x87 24|default]
//   hostsim <module> --demo <folder> [--ini <settings>] [--model <car.obj>] [--preview] [--x87 24|default]
//
// --x87: the x87 precision the game thread calls the module with (24 bits as
// the game's renderer leaves it, or the process's default).
//
// --model builds the player's car from an OBJ model (obj_car.h); --preview
// reports what the default drive does instead of requiring it.
//
// Arguments are read from the wide command line, so names with any letters work.
//
// Exit codes: 0 done, 1 bad arguments (also settings or a model that cannot
// be used, with one line naming the file), 2 host or module could not be set up,
// 3 unhandled fault, 4 the host saw itself misused (host faults), 5 the demo
// drive did not go as expected.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crash_exit.h"
#include "demo_drive.h"
#include "file_names.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: hostsim <module> [--frames N] [--identity hoodlum|compact|<hex word>] [--f7-frame N]"
                 " [--x87 24|default]\n"
                 "       hostsim <module> --demo <folder> [--ini <settings>] [--model <car.obj>] [--preview]"
                 " [--x87 24|default]\n");
    return 1;
}

bool parseIdentity(const char* text, std::uint32_t& word) {
    if (std::strcmp(text, "hoodlum") == 0) {
        word = hostsim::kIdentityHoodlum;
        return true;
    }
    if (std::strcmp(text, "compact") == 0) {
        word = hostsim::kIdentityCompact;
        return true;
    }
    char* end = nullptr;
    word = static_cast<std::uint32_t>(std::strtoul(text, &end, 16));
    return end != text && *end == '\0';
}

}  // namespace

int main() {
    hostsim::exitOnUnhandledFault();
    SetConsoleOutputCP(CP_UTF8);
    const std::vector<std::string> args = hostsim::utf8Arguments();
    const int argc = static_cast<int>(args.size());
    if (argc < 2) return usage();
    const std::string modulePath = args[1];
    int frames = 3;
    int f7Frame = -1;
    hostsim::HostOptions options;
    hostsim::DemoOptions demo{modulePath, "Kerbmark.ini", "", "", false};
    hostsim::GameX87 x87 = hostsim::GameX87::Precision24;
    for (int i = 2; i < argc; ++i) {
        const std::string& option = args[i];
        if (option == "--preview") {
            demo.preview = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const std::string& value = args[++i];
        if (option == "--frames") {
            frames = std::atoi(value.c_str());
        } else if (option == "--f7-frame") {
            f7Frame = std::atoi(value.c_str());
        } else if (option == "--demo") {
            demo.folder = value;
        } else if (option == "--ini") {
            demo.ini = value;
        } else if (option == "--model") {
            demo.model = value;
        } else if (option == "--x87") {
            if (!hostsim::parseGameX87(value.c_str(), x87)) return usage();
        } else if (option == "--identity") {
            if (!parseIdentity(value.c_str(), options.identityWord)) return usage();
        } else {
            return usage();
        }
    }

    hostsim::setGameX87(x87);
    if (!demo.folder.empty()) return hostsim::runDemo(demo);

    if (!hostsim::startHost(options)) return 2;
    hostsim::setPlayerVehicle(hostsim::spawnVehicle());
    hostsim::VehicleSpec traffic;
    traffic.modelId = 401;
    traffic.position = {6.0f, 12.0f, 0.0f};
    hostsim::spawnVehicle(traffic);

    if (!hostsim::loadModule(modulePath)) return 2;
    for (int frame = 0; frame < frames; ++frame) {
        hostsim::setKeyDown(hostsim::kKeyF7, frame == f7Frame);
        hostsim::runFrame();
    }

    std::printf("hostsim: %d frames; host frame work ran %u times, F7 read %u times\n", frames,
                static_cast<unsigned>(hostsim::calls(hostsim::HostFunction::FrameWork)),
                static_cast<unsigned>(hostsim::keyReads(hostsim::kKeyF7)));
    return hostsim::hostFaults().empty() ? 0 : 4;
}
