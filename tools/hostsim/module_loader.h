// Loading a plug-in module the way an ASI loader does, and the host's view of
// the module's import table: the host answers the module's keyboard queries
// by replacing that import after loading, so the module never knows it runs
// in a simulation. Needs no host memory: the rebased launcher uses it too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hostsim {

struct ModuleImport {
    std::string dll;
    std::string function;  // empty for an import by ordinal
    void** slot;           // the module's import address table entry
};

std::vector<ModuleImport> moduleImports(HMODULE module);

// Replaces the module's import of `dll`!`function` (names compared without
// letter case). False when the module does not import it.
bool replaceImport(HMODULE module, const char* dll, const char* function, const void* replacement);

// LoadLibraryW of the full path (UTF-8), by its ANSI-sayable form where it has
// one (file_names.h); on success the module's GetAsyncKeyState now asks the host's
// keyboard. Null when the module cannot be loaded.
HMODULE loadModule(const std::string& path);

// Where the module's image lies: [base, base + size).
struct ImageRange {
    std::uintptr_t base;
    std::uint32_t size;
    bool contains(std::uintptr_t address) const { return address >= base && address - base < size; }
};
ImageRange imageRange(HMODULE module);

// ---------------------------------------------------------------- keyboard

void setKeyDown(int virtualKey, bool down);
// How often the module asked for the key.
std::uint32_t keyReads(int virtualKey);
SHORT WINAPI hostGetAsyncKeyState(int virtualKey);

constexpr int kKeyF7 = 0x76;

}  // namespace hostsim
