// DLL entry of the module.
#include <windows.h>

#include "host/startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    // Start-up never fails the load, and nothing may escape into the loader.
    try {
        kerbmark::startModule(instance);
    } catch (...) {
    }
    return TRUE;
}
