// Counts the files a module opens, by replacing its CreateFileA import while
// the counter lives (Windows builds; the module loader's import replacement).
#pragma once

#include <windows.h>

#include "module_loader.h"

class FileOpenCounter {
public:
    explicit FileOpenCounter(HMODULE module) : module_(module) {
        platform() = &CreateFileA;
        opens() = 0;
        replaced_ = hostsim::replaceImport(module_, "kernel32.dll", "CreateFileA",
                                           reinterpret_cast<const void*>(&counting));
    }
    ~FileOpenCounter() {
        if (replaced_)
            hostsim::replaceImport(module_, "kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(platform()));
    }
    FileOpenCounter(const FileOpenCounter&) = delete;
    FileOpenCounter& operator=(const FileOpenCounter&) = delete;

    bool replaced() const { return replaced_; }
    static int& opens() {
        static int count = 0;
        return count;
    }

private:
    static decltype(&CreateFileA)& platform() {
        static decltype(&CreateFileA) function = nullptr;
        return function;
    }
    static HANDLE WINAPI counting(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
        ++opens();
        return platform()(name, access, share, security, disposition, flags, model);
    }

    HMODULE module_;
    bool replaced_;
};
