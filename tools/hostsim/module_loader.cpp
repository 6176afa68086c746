#include "module_loader.h"

#include <cstdio>
#include <cstring>

#include "file_names.h"

namespace hostsim {

namespace {

const IMAGE_NT_HEADERS* ntHeaders(HMODULE module) {
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
}

bool keyDown[256] = {};
std::uint32_t reads[256] = {};

}  // namespace

std::vector<ModuleImport> moduleImports(HMODULE module) {
    std::vector<ModuleImport> imports;
    const IMAGE_NT_HEADERS* nt = module ? ntHeaders(module) : nullptr;
    if (!nt) return imports;
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return imports;
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    for (auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        const char* dll = reinterpret_cast<const char*>(base + descriptor->Name);
        // The name table stays as linked; the address table now holds the resolved functions.
        const DWORD names = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
        auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            ModuleImport import{dll, "", reinterpret_cast<void**>(&slot->u1.Function)};
            if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
                import.function = reinterpret_cast<const char*>(byName->Name);
            }
            imports.push_back(import);
        }
    }
    return imports;
}

bool replaceImport(HMODULE module, const char* dll, const char* function, const void* replacement) {
    bool replaced = false;
    for (const ModuleImport& import : moduleImports(module)) {
        if (_stricmp(import.dll.c_str(), dll) != 0 || import.function != function) continue;
        DWORD previous = 0;
        if (!VirtualProtect(import.slot, sizeof(void*), PAGE_READWRITE, &previous)) return false;
        *import.slot = const_cast<void*>(replacement);
        DWORD ignored = 0;
        VirtualProtect(import.slot, sizeof(void*), previous, &ignored);
        replaced = true;
    }
    return replaced;
}

HMODULE loadModule(const std::string& path) {
    // By its full name (a bare or relative one would be searched for beside the
    // program first), one the module can say in ANSI where there is one: it
    // names its settings and log after the name it was loaded by.
    std::wstring name = ansiSayableName(path);
    if (name.empty()) name = fullName(path);
    HMODULE module = LoadLibraryW(name.c_str());
    if (!module) {
        std::fprintf(stderr, "hostsim: cannot load %s (error %lu)\n", utf8Name(name).c_str(), GetLastError());
        return nullptr;
    }
    replaceImport(module, "user32.dll", "GetAsyncKeyState", reinterpret_cast<const void*>(&hostGetAsyncKeyState));
    return module;
}

ImageRange imageRange(HMODULE module) {
    const IMAGE_NT_HEADERS* nt = ntHeaders(module);
    return ImageRange{reinterpret_cast<std::uintptr_t>(module), nt ? nt->OptionalHeader.SizeOfImage : 0};
}

void setKeyDown(int virtualKey, bool down) { keyDown[virtualKey & 0xFF] = down; }

std::uint32_t keyReads(int virtualKey) { return reads[virtualKey & 0xFF]; }

SHORT WINAPI hostGetAsyncKeyState(int virtualKey) {
    ++reads[virtualKey & 0xFF];
    return keyDown[virtualKey & 0xFF] ? static_cast<SHORT>(0x8000) : 0;
}

}  // namespace hostsim
