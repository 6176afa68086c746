// Start-up of the built module inside the simulated host: the paths that make
// it active, each refusal, the log across starts and module names, and the
// version the file shows beside the one its banner names.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

#include "host_checks.h"
#include "host_functions.h"
#include "host_image.h"
#include "host_world.h"
#include "module_loader.h"
#include "scenario_support.h"

namespace {

using hostsim::HostFunction;
using namespace scenario;

using Lines = std::vector<std::string>;

std::string logBeside(const std::string& module) { return module.substr(0, module.find_last_of('.')) + ".log"; }

// The module rewrote exactly the displacements of the three sites, each of
// which now leads into the module and still comes back to the host's function.
void expectActive(const std::string& module, HMODULE handle, const std::vector<std::uint8_t>& before) {
    for (const hostsim::ChangedRange& range : hostsim::changedSince(before)) {
        const bool inDisplacement = std::any_of(std::begin(kAllSites), std::end(kAllSites), [&](std::uint32_t site) {
            return range.address >= site + 1 && range.address + range.size <= site + 5;
        });
        EXPECT_TRUE(inDisplacement) << "changed outside the call displacements: "
                                    << hostsim::describe({range});
    }
    const hostsim::ImageRange image = hostsim::imageRange(handle);
    for (std::uint32_t site : kAllSites) {
        EXPECT_EQ(firstByte(site), 0xE8) << std::hex << site;
        EXPECT_TRUE(image.contains(hostsim::relativeTarget(site))) << "site 0x" << std::hex << site;
    }
    EXPECT_EQ(readLog(logBeside(module)).lines, (Lines{kBanner, kActive}));

    for (std::uint32_t site : kAllSites) expectSiteRunsHostOnce(site, 3);
    const LogText log = readLog(logBeside(module));
    EXPECT_EQ(log.lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
    EXPECT_TRUE(log.crlf);
    expectNoHostFaults();
}

// Banner, then exactly the refusal line; not one byte of the host changed, and
// the host's calls keep reaching only the host.
void expectRefused(const std::string& module, const char* refusal, const std::vector<std::uint8_t>& before) {
    EXPECT_EQ(hostsim::describe(hostsim::changedSince(before)), "nothing");
    const LogText log = readLog(logBeside(module));
    EXPECT_EQ(log.lines, (Lines{kBanner, refusal}));
    EXPECT_TRUE(log.crlf);

    for (std::uint32_t site : kAllSites) expectSiteRunsHostOnce(site);
    EXPECT_EQ(readLog(logBeside(module)).lines.size(), 2u) << "the idle module wrote after start-up";
    EXPECT_EQ(hostsim::keyReads(hostsim::kKeyF7), 0u);
    EXPECT_EQ(hostsim::calls(HostFunction::PlayerVehicle), 0u);
    expectNoHostFaults();
}

void startsActive(std::uint32_t identityWord) {
    hostsim::HostOptions options;
    options.identityWord = identityWord;
    ASSERT_TRUE(hostsim::startHost(options));
    hostsim::setPlayerVehicle(hostsim::spawnVehicle());
    Folder folder;
    const std::string module = folder.installModule("[General]\r\nEnabled=1\r\n");
    const std::vector<std::uint8_t> before = hostsim::snapshotHostMemory();
    HMODULE handle = hostsim::loadModule(module);
    ASSERT_NE(handle, nullptr);
    expectActive(module, handle, before);
}

TEST(Startup, ActiveOnHoodlumBuild) { startsActive(hostsim::kIdentityHoodlum); }

TEST(Startup, ActiveOnCompactBuild) { startsActive(hostsim::kIdentityCompact); }

TEST(Startup, RefusesUnknownIdentityWord) {
    hostsim::HostOptions options;
    options.identityWord = 0x16197BEA;
    ASSERT_TRUE(hostsim::startHost(options));
    Folder folder;
    const std::string module = folder.installModule("");
    const std::vector<std::uint8_t> before = hostsim::snapshotHostMemory();
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    expectRefused(module, kUnsupportedExecutable, before);
}

TEST(Startup, RefusesWhenDisabledInIni) {
    ASSERT_TRUE(hostsim::startHost());
    Folder folder;
    const std::string module = folder.installModule("[General]\r\nDiagnostics=1\r\nEnabled=0\r\n");
    const std::vector<std::uint8_t> before = hostsim::snapshotHostMemory();
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    expectRefused(module, kDisabledInIni, before);
}

// Another module has turned `site` into a jump to the same host function:
// the host still works, but the module must leave every site alone.
void refusesChangedSite(std::uint32_t site) {
    ASSERT_TRUE(hostsim::startHost());
    hostsim::writeJump(site, hostTargetOf(site));
    Folder folder;
    const std::string module = folder.installModule("[General]\r\nEnabled=1\r\n");
    const std::vector<std::uint8_t> before = hostsim::snapshotHostMemory();
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    expectRefused(module, kSitesChanged, before);
}

TEST(Startup, RefusesChangedFrameSite) { refusesChangedSite(hostsim::kFrameSite); }
TEST(Startup, RefusesChangedFirstResetSite) { refusesChangedSite(hostsim::kResetSiteA); }
// Checked last: the two sites that passed stay untouched as well.
TEST(Startup, RefusesChangedSecondResetSite) { refusesChangedSite(hostsim::kResetSiteB); }

TEST(Startup, ModuleImportsOnlySystemDlls) {
    ASSERT_TRUE(hostsim::startHost());
    Folder folder;
    HMODULE handle = hostsim::loadModule(folder.installModule(""));
    ASSERT_NE(handle, nullptr);
    const char* const allowed[] = {"kernel32.dll", "user32.dll", "msvcrt.dll"};
    bool keyboardReplaced = false;
    for (const hostsim::ModuleImport& import : hostsim::moduleImports(handle)) {
        const bool system = std::any_of(std::begin(allowed), std::end(allowed),
                                        [&](const char* dll) { return _stricmp(dll, import.dll.c_str()) == 0; });
        EXPECT_TRUE(system) << import.dll << "!" << import.function;
        if (_stricmp(import.dll.c_str(), "user32.dll") == 0 && import.function == "GetAsyncKeyState")
            keyboardReplaced = *import.slot == reinterpret_cast<void*>(&hostsim::hostGetAsyncKeyState);
    }
    EXPECT_TRUE(keyboardReplaced) << "GetAsyncKeyState is not imported from USER32, or was not replaced";
}

TEST(Startup, RenamedModuleUsesItsOwnIniAndLog) {
    ASSERT_TRUE(hostsim::startHost());
    Folder folder;
    writeText(folder.file("Kerbmark.ini"), "[General]\r\nEnabled=1\r\n");
    const std::string module = folder.installModule("[General]\r\nEnabled=0\r\n", "Other.dll");
    const std::vector<std::uint8_t> before = hostsim::snapshotHostMemory();
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    EXPECT_EQ(readLog(folder.file("Other.log")).lines, (Lines{kBanner, kDisabledInIni}));
    EXPECT_FALSE(fileExists(folder.file("Kerbmark.log")));
    EXPECT_EQ(hostsim::describe(hostsim::changedSince(before)), "nothing");
}

// Two copies of the module: the second rewrites the sites the first has
// already rewritten and chains to it; the host's function still runs once per call.
TEST(Startup, SecondModuleChainsThroughTheFirst) {
    ASSERT_TRUE(hostsim::startHost());
    hostsim::setPlayerVehicle(hostsim::spawnVehicle());
    Folder folder;
    const std::string first = folder.installModule("");
    const std::string second = folder.installModule("", "Other.asi");
    HMODULE firstHandle = hostsim::loadModule(first);
    HMODULE secondHandle = hostsim::loadModule(second);
    ASSERT_NE(firstHandle, nullptr);
    ASSERT_NE(secondHandle, nullptr);
    for (std::uint32_t site : kAllSites)
        EXPECT_TRUE(hostsim::imageRange(secondHandle).contains(hostsim::relativeTarget(site)));

    for (std::uint32_t site : kAllSites) expectSiteRunsHostOnce(site, 3);
    // The first module's frame work runs inside the second's call and hooks first.
    EXPECT_EQ(readLog(logBeside(first)).lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled}));
    EXPECT_EQ(readLog(logBeside(second)).lines,
              (Lines{kBanner, kActive, kGuardAlreadyHooked, kCollisionAlreadyHooked}));
    expectNoHostFaults();
}

// Each run of the host appends one start: banner first, then that start's lines.
TEST(Startup, SeveralStartsAppendToOneLog) {
    Folder folder;
    const std::string module = folder.installModule("[General]\r\nEnabled=1\r\n");
    const std::string host = hostProgramPath();
    ASSERT_EQ(runProgram(host, "\"" + module + "\" --frames 2", folder.path()), 0);
    writeText(folder.file("Kerbmark.ini"), "[General]\r\nEnabled=0\r\n");
    ASSERT_EQ(runProgram(host, "\"" + module + "\" --frames 2", folder.path()), 0);
    writeText(folder.file("Kerbmark.ini"), "[General]\r\nEnabled=1\r\n");
    ASSERT_EQ(runProgram(host, "\"" + module + "\" --frames 2 --identity 12345678", folder.path()), 0);

    const LogText log = readLog(folder.file("Kerbmark.log"));
    EXPECT_EQ(log.lines, (Lines{kBanner, kActive, kGuardEnabled, kCollisionEnabled,  //
                                kBanner, kDisabledInIni,                            //
                                kBanner, kUnsupportedExecutable}));
    EXPECT_TRUE(log.crlf);
}

// The string `name` of a version resource, in the first language it lists.
std::string versionString(const std::vector<char>& info, const char* name) {
    WORD* language = nullptr;  // language, code page
    char* value = nullptr;
    UINT length = 0;
    char path[96] = "";
    if (VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&language), &length))
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", language[0], language[1], name);
    return *path && VerQueryValueA(info.data(), path, reinterpret_cast<void**>(&value), &length) && length ? value : "";
}

// What Windows shows in the module's properties, read as Windows reads it,
// names the version of the banner the loaded module writes to its log.
TEST(Startup, VersionResourceNamesTheBannerVersion) {
    ASSERT_TRUE(hostsim::startHost());
    Folder folder;
    const std::string module = folder.installModule("[General]\r\nEnabled=0\r\n");
    ASSERT_NE(hostsim::loadModule(module), nullptr);
    const Lines lines = readLog(logBeside(module)).lines;
    std::string product, version;
    if (!lines.empty()) std::istringstream(lines[0]) >> product >> version;
    ASSERT_EQ(product, "Kerbmark") << "no banner";

    std::vector<char> info(GetFileVersionInfoSizeA(module.c_str(), nullptr));
    ASSERT_TRUE(!info.empty() && GetFileVersionInfoA(module.c_str(), 0, info.size(), info.data())) << module;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    const auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    std::string numbers = version;  // as four numbers, the missing ones 0
    while (std::count(numbers.begin(), numbers.end(), '.') < 3) numbers += ".0";
    EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), numbers);
    EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), numbers);
    std::printf("banner: %s\nfixed version: %s\n", lines[0].c_str(),
                dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());

    const std::pair<const char*, std::string> expected[] = {
        {"FileVersion", version},           {"ProductVersion", version}, {"ProductName", "Kerbmark"},
        {"OriginalFilename", "Kerbmark.asi"}, {"InternalName", "Kerbmark.asi"},
        {"FileDescription", "Kerbmark: vehicle deformation plug-in (ASI module) for SA 1.0 US"}};
    for (const auto& [name, value] : expected) {
        const std::string read = versionString(info, name);
        EXPECT_EQ(read, value) << name;
        std::printf("%s: %s\n", name, read.c_str());
    }
}

}  // namespace
