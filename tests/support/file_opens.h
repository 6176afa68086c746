// Counts the files a module opens while the counter lives, by replacing the
// module's CreateFileA import (the module loader's import replacement).
#pragma once

#include <windows.h>

#include "module_loader.h"

struct FileOpenCounter {
    static inline int opens = 0;
    static inline decltype(&CreateFileA) platform = nullptr;
    HMODULE module;
    bool replaced;

    explicit FileOpenCounter(HMODULE of) : module(of) {
        // Read at run time: a static initializer would take the import's stub, which the replacement reroutes.
        platform = &CreateFileA;
        opens = 0;
        replaced = replace(of, &counting);
    }
    ~FileOpenCounter() {
        if (replaced) replace(module, platform);
    }
    static bool replace(HMODULE of, decltype(&CreateFileA) with) {
        return hostsim::replaceImport(of, "kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(with));
    }
    static HANDLE WINAPI counting(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
        ++opens;
        return platform(name, access, share, security, disposition, flags, model);
    }
};
