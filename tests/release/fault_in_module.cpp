// Loads a module as an ASI loader would and makes it fault inside its own
// code: the exported destructor of the private collision state, called on an
// object at the start of the address space, where nothing is ever mapped. The
// module's crash report writes its lines to the module's log; the fault then
// goes unhandled and the program ends with the crash exit code.
//
//   fault_in_module <module>
#include <windows.h>

#include <cstdio>

#include "crash_exit.h"

int main(int argc, char** argv) {
    hostsim::exitOnUnhandledFault();
    if (argc != 2) {
        std::fprintf(stderr, "usage: fault_in_module <module>\n");
        return 1;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::fprintf(stderr, "fault_in_module: cannot load %s\n", argv[1]);
        return 2;
    }
    using Destructor = void(__attribute__((thiscall)) *)(void* self);
    const auto destroy = reinterpret_cast<Destructor>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "_ZN9collision5StateD1Ev")));
    if (!destroy) {
        std::fprintf(stderr, "fault_in_module: %s does not export the collision state's destructor\n", argv[1]);
        return 2;
    }
    destroy(reinterpret_cast<void*>(0x10));
    std::fprintf(stderr, "fault_in_module: the module did not fault\n");
    return 4;
}
